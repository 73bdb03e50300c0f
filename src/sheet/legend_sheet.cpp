#include "sheet/legend_sheet.h"

#include <QDate>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>
#include <memory>

#include "app/key_text.h"
#include "app/path_text.h"

namespace qk750 {

namespace {

constexpr double kMillimetresPerInch = 25.4;
constexpr double kMargin = 8.0;   // around the page: most printers reach that far
constexpr double kPadding = 0.8;  // between an insert's cut line and its text
constexpr double kBandGap = 6.0;  // between the inserts and the footer and square below
constexpr double kCutLine = 0.2;  // line widths
constexpr double kSquareLine = 0.3;
constexpr int kReferenceDpi = 1200;

// Text is measured at a printer's resolution, whatever the device: the window then breaks
// the legends exactly where the printout does.
const QImage& referenceDevice() {
    static const QImage device = [] {
        QImage image(1, 1, QImage::Format_Mono);
        const int dotsPerMetre = qRound(kReferenceDpi / (kMillimetresPerInch / 1000));
        image.setDotsPerMeterX(dotsPerMetre);
        image.setDotsPerMeterY(dotsPerMetre);
        return image;
    }();
    return device;
}

constexpr double kMillimetresPerPixel = kMillimetresPerInch / kReferenceDpi;

QFontMetricsF metricsAt(QFont font, double points) {
    font.setPointSizeF(points);
    return QFontMetricsF(font, &referenceDevice());
}

// Lines of text a height holds; an area made exactly one line high holds one, whatever the
// rounding.
int linesIn(double height, const QFontMetricsF& metrics) {
    return static_cast<int>(height / metrics.height() + 1e-6);
}

// Lines of words broken at blanks, each at most width wide; false when a word alone is
// wider.
bool wrapWords(const QStringList& words, const QFontMetricsF& metrics, double width,
               QStringList& lines) {
    lines.clear();
    QString line;
    for (const QString& word : words) {
        if (metrics.horizontalAdvance(word) > width) {
            return false;
        }
        const QString longer = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (metrics.horizontalAdvance(longer) <= width) {
            line = longer;
            continue;
        }
        lines << line;
        line = word;
    }
    lines << line;
    return true;
}

QString number(double value) {
    return QLocale::c().toString(value, 'g', 4);
}

QString millimetres(double value) {
    return number(value) + QStringLiteral(" mm");
}

}  // namespace

FittedLegend fitLegend(const QString& text, const QFont& font, const QSizeF& area, double maxPoints,
                       double minPoints, int maxLines) {
    FittedLegend fitted;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        return fitted;
    }
    const double width = area.width() / kMillimetresPerPixel;
    const double height = area.height() / kMillimetresPerPixel;
    for (double points = maxPoints; points >= minPoints; points -= 0.5) {
        const QFontMetricsF metrics = metricsAt(font, points);
        const int room = std::min(maxLines, linesIn(height, metrics));
        if (wrapWords(words, metrics, width, fitted.lines) && fitted.lines.size() <= room) {
            fitted.pointSize = points;
            return fitted;
        }
    }
    // Nothing fits: the smallest size, a word too wide on a line of its own, and what
    // does not fit cut off by an ellipsis.
    const QFontMetricsF metrics = metricsAt(font, minPoints);
    const int room = std::clamp(linesIn(height, metrics), 1, maxLines);
    fitted.lines.clear();
    QString line;
    for (const QString& word : words) {
        const QString longer = line + QLatin1Char(' ') + word;
        if (line.isEmpty() || metrics.horizontalAdvance(longer) <= width) {
            line = line.isEmpty() ? word : longer;
            continue;
        }
        fitted.lines << line;
        line = word;
    }
    fitted.lines << line;
    if (fitted.lines.size() > room) {
        const QString rest = fitted.lines.mid(room - 1).join(QLatin1Char(' '));
        fitted.lines = fitted.lines.mid(0, room - 1);
        fitted.lines << rest;
    }
    for (QString& each : fitted.lines) {
        each = metrics.elidedText(each, Qt::ElideRight, width);
    }
    fitted.pointSize = minPoints;
    fitted.cut = true;
    return fitted;
}

QFont legendFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial Narrow"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QPageSize::PageSizeId localePaper() {
    QLocale locale;
#ifndef _WIN32
    // The printing system reads the paper from these, LC_PAPER before LANG.
    for (const char* variable : {"LC_ALL", "LC_PAPER", "LANG"}) {
        const QByteArray name = qgetenv(variable);
        if (!name.isEmpty()) {
            locale = QLocale(QString::fromLatin1(name));
            break;
        }
    }
#endif
    switch (locale.territory()) {
        case QLocale::UnitedStates:
        case QLocale::Canada:
        case QLocale::Mexico:
        case QLocale::Belize:
        case QLocale::CostaRica:
        case QLocale::ElSalvador:
        case QLocale::Guatemala:
        case QLocale::Nicaragua:
        case QLocale::Panama:
        case QLocale::PuertoRico:
        case QLocale::Chile:
        case QLocale::Colombia:
        case QLocale::Venezuela:
        case QLocale::Philippines:
            return QPageSize::Letter;
        default:
            return QPageSize::A4;
    }
}

LegendSheet::LegendSheet(const SetupRecord& setup, const QString& setupName, const QPageSize& paper)
    : m_page(paper), m_setupName(setupName), m_sizes(setup.Legends), m_font(legendFont()) {
    const auto legends = InsertLegendsOf(setup);
    for (int key = 1; key <= kKeyCount; ++key) {
        SheetInsert& insert = m_inserts[key];
        insert.legends = legends[key];
        insert.func2 = fitLegend(keyText(insert.legends.func2.text), m_font, func2Area(key).size(),
                                 kFunc2MaxPoints, kFunc2MinPoints, 1);
        insert.key = fitLegend(keyText(insert.legends.key.text), m_font, keyArea(key).size(),
                               kLegendMaxPoints, kLegendMinPoints, kLegendMaxLines);
    }
}

QSizeF LegendSheet::pageMillimetres() const {
    return m_page.size(QPageSize::Millimeter).transposed();
}

QRectF LegendSheet::insertRect(int key) const {
    const double pitchX = m_sizes.InsertWidth + m_sizes.InsertGap;
    const double pitchY = m_sizes.InsertHeight + m_sizes.InsertGap;
    const double gridWidth = kGridColumns * pitchX - m_sizes.InsertGap;
    const double left = (pageMillimetres().width() - gridWidth) / 2;
    return QRectF(left + keyColumn(key) * pitchX, kMargin + keyRow(key) * pitchY,
                  m_sizes.InsertWidth, m_sizes.InsertHeight);
}

QRectF LegendSheet::squareRect() const {
    const double top = insertRect(kKeyCount).bottom() + kBandGap;
    return QRectF(pageMillimetres().width() - kMargin - kCalibrationSquare, top, kCalibrationSquare,
                  kCalibrationSquare);
}

// The Func2 legend's line across the top of the insert, the key's legend below it.
QRectF LegendSheet::func2Area(int key) const {
    const QRectF inner = insertRect(key).adjusted(kPadding, kPadding, -kPadding, -kPadding);
    const double line = metricsAt(m_font, kFunc2MaxPoints).height() * kMillimetresPerPixel;
    return QRectF(inner.topLeft(), QSizeF(inner.width(), std::min(line, inner.height())));
}

QRectF LegendSheet::keyArea(int key) const {
    QRectF inner = insertRect(key).adjusted(kPadding, kPadding, -kPadding, -kPadding);
    if (!m_inserts[key].func2.lines.isEmpty()) {
        inner.setTop(func2Area(key).bottom());
    }
    return inner;
}

std::vector<int> LegendSheet::cutKeys() const {
    std::vector<int> keys;
    for (int key = 1; key <= kKeyCount; ++key) {
        if (m_inserts[key].cut()) {
            keys.push_back(key);
        }
    }
    return keys;
}

QString LegendSheet::fitProblem() const {
    const QSizeF page = pageMillimetres();
    const double needWidth = insertRect(kKeyCount).right() - insertRect(1).left() + 2 * kMargin;
    const double needHeight = squareRect().bottom() + kMargin;
    if (needWidth <= page.width() && needHeight <= page.height()) {
        return {};
    }
    return QStringLiteral(
               "The inserts do not fit on one %1 page: the sheet needs %2 x %3, "
               "the page is %4 x %5. Make the inserts or the gap smaller.")
        .arg(m_page.name(), millimetres(needWidth), millimetres(needHeight),
             millimetres(page.width()), millimetres(page.height()));
}

void LegendSheet::paint(QPainter& painter, const InsertHook& beforeText) const {
    const double unitsPerMm = painter.device()->logicalDpiX() / kMillimetresPerInch;
    const auto onDevice = [unitsPerMm](const QRectF& mm) {
        return QRectF(mm.topLeft() * unitsPerMm, mm.size() * unitsPerMm);
    };
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen cutLine(QColor(0x60, 0x60, 0x60));
    cutLine.setWidthF(kCutLine * unitsPerMm);
    for (int key = 1; key <= kKeyCount; ++key) {
        const QRectF rect = onDevice(insertRect(key));
        if (beforeText) {
            beforeText(painter, key, rect);
        }
        painter.setPen(cutLine);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect);
        paintInsertText(painter, key, unitsPerMm);
    }
    QPen squareLine(Qt::black);
    squareLine.setWidthF(kSquareLine * unitsPerMm);
    painter.setPen(squareLine);
    const QRectF square = onDevice(squareRect());
    painter.drawRect(square);
    QFont font = legendFont();
    font.setPointSizeF(14);
    painter.setFont(font);
    painter.drawText(square.adjusted(0, 0, 0, -square.height() / 2), Qt::AlignCenter,
                     QStringLiteral("50 mm"));
    font.setPointSizeF(7);
    painter.setFont(font);
    painter.drawText(square.adjusted(0, square.height() / 2, 0, 0),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     QStringLiteral("Each side must measure 50 mm.\nIf it does not, print "
                                    "again at actual size (100 %)."));
    paintFooter(painter, unitsPerMm);
    painter.restore();
}

void LegendSheet::paintInsertText(QPainter& painter, int key, double unitsPerMm) const {
    const SheetInsert& insert = m_inserts[key];
    painter.setPen(Qt::black);
    // Lines centred in their area (the Func2 legend to its right), measured as they were
    // fitted.
    const auto draw = [&](const FittedLegend& legend, const QRectF& area, bool right) {
        if (legend.lines.isEmpty()) {
            return;
        }
        const QFontMetricsF metrics = metricsAt(m_font, legend.pointSize);
        const double line = metrics.height() * kMillimetresPerPixel;
        double baseline = area.center().y() - line * legend.lines.size() / 2 +
                          metrics.ascent() * kMillimetresPerPixel;
        QFont font = m_font;
        font.setPointSizeF(legend.pointSize);
        painter.setFont(font);
        for (const QString& text : legend.lines) {
            const double width = metrics.horizontalAdvance(text) * kMillimetresPerPixel;
            const double left = right ? area.right() - width : area.center().x() - width / 2;
            painter.drawText(QPointF(left, baseline) * unitsPerMm, text);
            baseline += line;
        }
    };
    draw(insert.func2, func2Area(key), true);
    draw(insert.key, keyArea(key), false);
}

void LegendSheet::paintFooter(QPainter& painter, double unitsPerMm) const {
    const QRectF square = squareRect();
    const QRectF area(kMargin, square.top(), square.left() - 2 * kMargin, square.height());
    QFont font = legendFont();
    font.setPointSizeF(9);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QString text = m_setupName + QLatin1Char('\n') + QStringLiteral("Key legends printed ") +
                         QDate::currentDate().toString(Qt::ISODate) + QLatin1Char('\n') +
                         QStringLiteral("Cut along the lines: inserts %1 x %2 mm, %3 mm apart")
                             .arg(number(m_sizes.InsertWidth), number(m_sizes.InsertHeight),
                                  number(m_sizes.InsertGap));
    painter.drawText(QRectF(area.topLeft() * unitsPerMm, area.size() * unitsPerMm),
                     Qt::AlignLeft | Qt::AlignBottom | Qt::TextWordWrap, text);
}

QString writeLegendPdf(const LegendSheet& sheet, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString();
    }
    {
        QPdfWriter writer(&file);
        writer.setResolution(kReferenceDpi);
        writer.setTitle(QStringLiteral("Key legends"));
        writer.setCreator(QStringLiteral("qk750setup"));
        writer.setPageLayout(QPageLayout(sheet.pageSize(), QPageLayout::Landscape, QMarginsF()));
        QPainter painter(&writer);
        if (!painter.isActive()) {
            file.cancelWriting();
            return QStringLiteral("the PDF could not be drawn");
        }
        sheet.paint(painter);
    }
    if (!file.commit()) {
        return file.errorString();
    }
    return {};
}

LegendCommandResult writeLegendSheetFile(const SetupRecord& setup, const std::string& setupFile,
                                         const std::string& pdfFile) {
    std::unique_ptr<QGuiApplication> application;
    if (QCoreApplication::instance() == nullptr) {
        static char name[] = "qk750setup";
#ifdef _WIN32
        // Windows draws text without a screen of its own; there is no offscreen plugin.
        static char* argv[] = {name, nullptr};
        static int argc = 1;
#else
        static char platform[] = "-platform";
        static char offscreen[] = "offscreen";
        static char* argv[] = {name, platform, offscreen, nullptr};
        static int argc = 3;
#endif
        application = std::make_unique<QGuiApplication>(argc, argv);
    }
    LegendCommandResult result;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        result.error = "no text can be drawn in this process";
        return result;
    }
    const QString setupName = QFileInfo(pathText(setupFile)).fileName();
    const LegendSheet sheet(setup, setupName);
    if (const QString problem = sheet.fitProblem(); !problem.isEmpty()) {
        result.error = problem.toStdString();
        return result;
    }
    const QString error = writeLegendPdf(sheet, pathText(pdfFile));
    if (!error.isEmpty()) {
        result.error = "cannot write " + pdfFile + ": " + error.toStdString();
        return result;
    }
    result.cutKeys = sheet.cutKeys();
    return result;
}

}  // namespace qk750
