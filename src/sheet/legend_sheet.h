#pragma once

#include <QFont>
#include <QPageSize>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "keys/key_legend.h"
#include "setup/setup_record.h"

class QPainter;

namespace qk750 {

// The sheet of keycap inserts a setup prints: one landscape page, the 84 inserts at true
// size in the keyboard's layout with a cut line around each, a footer naming the setup and
// the date, and a 50 mm calibration square. Everything is laid out in millimetres from the
// page's top left corner and drawn on whatever device the painter paints on, at its own
// resolution.

// A legend laid into its part of an insert.
struct FittedLegend {
    QStringList lines;     // at most three; empty for no legend
    double pointSize = 0;  // the size the legend fits at
    bool cut = false;      // too long even at the smallest readable size: ends in an ellipsis
};

struct SheetInsert {
    InsertLegends legends;
    FittedLegend key;
    FittedLegend func2;
    bool cut() const { return key.cut || func2.cut; }
};

// Legend sizes in points: the key's own legend shrinks from the largest to the smallest
// size that is still read easily; the Func2 legend in the corner is smaller.
inline constexpr double kLegendMaxPoints = 10.0;
inline constexpr double kLegendMinPoints = 5.0;
inline constexpr double kFunc2MaxPoints = 6.0;
inline constexpr double kFunc2MinPoints = 4.5;
inline constexpr int kLegendMaxLines = 3;
inline constexpr double kCalibrationSquare = 50.0;  // mm

// Lays text into an area (in millimetres): the largest size from maxPoints down to
// minPoints, in half points, at which it wraps at its blanks onto at most maxLines (1 or
// more) lines.
// When none does, the smallest size with the text cut by an ellipsis.
FittedLegend fitLegend(const QString& text, const QFont& font, const QSizeF& area, double maxPoints,
                       double minPoints, int maxLines);

// The font legends are printed in: narrow, so that more fits an insert.
QFont legendFont();

// A4, or Letter where the locale's paper is Letter (the Americas but most of South America,
// the Philippines). On POSIX systems LC_ALL, LC_PAPER, LANG name the locale, in that order.
QPageSize::PageSizeId localePaper();

class LegendSheet {
public:
    // setupName: the setup's file name as the footer shows it.
    LegendSheet(const SetupRecord& setup, const QString& setupName,
                const QPageSize& paper = QPageSize(localePaper()));

    QPageSize pageSize() const { return m_page; }
    QSizeF pageMillimetres() const;  // landscape
    QRectF insertRect(int key) const;
    QRectF squareRect() const;
    const SheetInsert& insert(int key) const { return m_inserts[key]; }
    // Keys whose legend was cut to fit, in key order.
    std::vector<int> cutKeys() const;

    // Empty when the sheet fits its page, else why not.
    QString fitProblem() const;

    // Paints the page on the painter's device, the device's origin at the paper's top left
    // corner. beforeText runs for each insert before its legends are drawn, with its
    // rectangle in the painter's coordinates.
    using InsertHook = std::function<void(QPainter& painter, int key, const QRectF& rect)>;
    void paint(QPainter& painter, const InsertHook& beforeText = {}) const;

private:
    void paintInsertText(QPainter& painter, int key, double unitsPerMm) const;
    void paintFooter(QPainter& painter, double unitsPerMm) const;
    QRectF func2Area(int key) const;
    QRectF keyArea(int key) const;

    QPageSize m_page;
    QString m_setupName;
    LegendRec m_sizes;
    QFont m_font;
    std::array<SheetInsert, kKeyCount + 1> m_inserts;
};

// Writes the sheet as a one-page PDF file, replacing the file only when the whole PDF was
// written. Returns the reason for a failure, or an empty string.
QString writeLegendPdf(const LegendSheet& sheet, const QString& path);

// What --legends reports: a failure, and the keys whose legends were cut.
struct LegendCommandResult {
    std::string error;
    std::vector<int> cutKeys;
};

// --legends: the sheet of the setup as a PDF file, drawn without a display and without a
// window (a QGuiApplication on the offscreen platform is made when there is none).
LegendCommandResult writeLegendSheetFile(const SetupRecord& setup, const std::string& setupFile,
                                         const std::string& pdfFile);

}  // namespace qk750
