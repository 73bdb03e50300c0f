#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "setup/setup_file.h"
#include "sheet/legend_sheet.h"
#include "ui/legend_window.h"
#include "window_fixture.h"

using namespace qk750;
using namespace qk750::test;

namespace {

struct LegendFixture : StartedFixture {
    LegendWindow& window = windows->legends();
    QWidget* sheet = child(window, "legendSheet");

    LegendFixture() {
        state.Setup.KeyStrings[13] = "Coffee<Enter>";
        state.Setup.Func2Strings[13] = "Large<Space>Coffee<Enter>";
        window.refresh();
        window.show();
        window.selectKey(13);
    }
    const InsertLegends& legends(int key) const { return window.sheet().insert(key).legends; }
    // Edits the selected insert: the Func2 line, then the key's own, then the closing key.
    void edit(const QString& func2, const QString& key, Qt::Key closing = Qt::Key_Return) {
        QTest::keyClick(sheet, Qt::Key_Return);
        child<QLineEdit>(window, "func2LegendEdit")->setText(func2);
        auto* line = child<QLineEdit>(window, "legendEdit");
        line->setText(key);
        QTest::keyClick(line, closing);
    }
};

QString readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().left(5)) : QString();
}

}  // namespace

class LegendWindowTest : public QObject {
    Q_OBJECT

private slots:
    // A legend is one's own only while it says something else than the key string; an
    // emptied one, Delete or one saying the same gives the derived legend back; Esc keeps
    // what was there; a locked setup takes no edit. Own legends are saved and read back.
    void editingInPlace() {
        LegendFixture f;
        QCOMPARE(f.window.statusText(),
                 QString::fromUtf8("Key 13: \u201cCoffee\u201d, from the key "
                                   "string; Func2: \u201cLarge Coffee\u201d, "
                                   "from the key string."));
        // The Func2 legend's line holds it at its largest size.
        QCOMPARE(f.window.sheet().insert(13).func2.pointSize, kFunc2MaxPoints);
        f.edit("Big", "Flat  White ");
        QCOMPARE(f.state.Setup.Legends.Key[13] + "|" + f.state.Setup.Legends.Func2[13],
                 std::string("Flat White|Big"));
        QVERIFY(f.legends(13).key.own && !f.window.editing());
        QCOMPARE(f.window.statusText(),
                 QString::fromUtf8("Key 13: \u201cFlat White\u201d, your own (cleared, it is "
                                   "\u201cCoffee\u201d); Func2: \u201cBig\u201d, your own "
                                   "(cleared, it is \u201cLarge Coffee\u201d)."));
        f.edit("x", "y", Qt::Key_Escape);
        QCOMPARE(f.legends(13).key.text + f.legends(13).func2.text, std::string("Flat WhiteBig"));
        f.edit("Large Coffee", "");
        QCOMPARE(f.state.Setup.Legends.Key[13] + f.state.Setup.Legends.Func2[13], std::string());
        QCOMPARE(f.legends(13).key.text, std::string("Coffee"));

        f.edit("", "Mine");
        f.main().saveSetup();
        SetupRecord saved;
        LoadSetupIni(saved, f.state.SetupFileName);
        QCOMPARE(saved.Legends.Key[13], std::string("Mine"));
        QTest::keyClick(f.sheet, Qt::Key_Delete);
        QVERIFY(!f.legends(13).key.own);

        // A click edits the insert under it.
        QTest::mouseClick(f.sheet, Qt::LeftButton, {},
                          f.window.insertOnScreen(84).center().toPoint());
        QVERIFY(f.window.editing() && f.window.selectedKey() == 84);
        QTest::keyClick(child(f.window, "legendEdit"), Qt::Key_Escape);
        QTest::mouseClick(f.sheet, Qt::LeftButton, {}, QPoint(1, 1));  // beside the page
        QVERIFY(!f.window.editing() && f.window.selectedKey() == 84);

        // The arrow keys walk the layout and stop at its edges.
        f.window.selectKey(37);
        for (const Qt::Key key :
             {Qt::Key_Up, Qt::Key_Left, Qt::Key_Right, Qt::Key_Right, Qt::Key_Left, Qt::Key_Down}) {
            QTest::keyClick(f.sheet, key);
        }
        QCOMPARE(f.window.selectedKey(), 38);

        f.state.Setup.Mcr.LockedSetup = true;
        f.window.refresh();
        QTest::keyClick(f.sheet, Qt::Key_Return);
        QVERIFY(!f.window.editing() && f.window.statusText().contains("locked"));
        QVERIFY(!child(f.window, "gapBox")->isEnabled());
    }

    // The sizes are the setup's; a sheet too large for its page can be neither printed nor
    // exported, and a cut legend is named.
    void sizesAndWarnings() {
        LegendFixture f;
        auto* warning = child<QLabel>(f.window, "legendWarning");
        child<QDoubleSpinBox>(f.window, "insertWidthBox")->setValue(30);
        QCOMPARE(f.state.Setup.Legends.InsertWidth, 30.0);
        QVERIFY(warning->text().startsWith("The inserts do not fit on one"));
        QVERIFY(!child(f.window, "printButton")->isEnabled());
        QVERIFY(!child(f.window, "exportButton")->isEnabled());
        child<QDoubleSpinBox>(f.window, "insertWidthBox")->setValue(14);
        f.edit("", "A Legend Far Too Long For Any Insert At All, Even At The Smallest Size");
        QCOMPARE(warning->text(),
                 QString("Too long for the insert, cut to fit: key 13. Shorten the "
                         "legend or make the insert larger."));
        QVERIFY(child(f.window, "exportButton")->isEnabled());

        // A legend of one's own lies on a blue ground (a Func2 one too), a cut one is framed.
        f.state.Setup.Legends.Func2[14] = "Own";
        f.window.refresh();
        const QImage shot = f.sheet->grab().toImage();
        const auto colour = [&](int key, double inset) {
            const QRectF insert = f.window.insertOnScreen(key);
            return shot.pixelColor((insert.bottomLeft() + QPointF(inset, -inset)).toPoint()).name();
        };
        QCOMPARE(colour(13, 2) + colour(14, 4) + colour(15, 4), QString("#c07000#d4e6ff#ffffff"));
    }

    // Export asks before replacing a file; Print goes through the print dialog. Both write
    // the sheet (here a PDF); a cancelled dialog writes nothing.
    void exportAndPrint() {
        LegendFixture f;
        const QString pdf = f.dir.path() + "/sheet.pdf";
        const QString printed = f.dir.path() + "/printed.pdf";
        f.prompts.fileNames = {pdf, pdf, printed};
        f.prompts.answers = {false};
        f.window.exportPdf();
        QCOMPARE(readFile(pdf), QString("%PDF-"));
        QFile::resize(pdf, 0);
        f.window.exportPdf();  // not replaced
        QCOMPARE(QFileInfo(pdf).size(), 0);
        f.window.printSheet();
        QCOMPARE(readFile(printed), QString("%PDF-"));
        f.window.printSheet();  // cancelled
        QCOMPARE(f.prompts.texts("askYesNo"),
                 QStringList{QDir::toNativeSeparators(pdf) + " already exists.\r\rReplace it?"});
        QCOMPARE(f.prompts.texts("print"),
                 QStringList(2, QStringLiteral("Key legends - QK750.INI")));
    }

    // The owned window: the main window waits disabled while it is open, Esc closes it.
    void openedFromTheMainWindow() {
        LegendFixture f;
        f.window.hide();
        bool ownerDisabled = false;
        QTimer::singleShot(0, &f.window, [&] {
            ownerDisabled = !f.main().isEnabled() && f.window.isVisible();
            QTest::keyClick(f.sheet, Qt::Key_Escape);
        });
        f.trigger("keyLegendsAction");
        QVERIFY(ownerDisabled && f.main().isEnabled() && !f.window.isVisible());
    }

    // Words wrap at blanks onto at most three lines at the largest size that holds them;
    // what does not fit at the smallest size is cut with an ellipsis.
    void legendsFitTheirInsert() {
        const struct {
            const char* text;
            double width, height;
            qsizetype lines;
            bool smaller, cut;  // smaller: not at the largest size
        } cases[] = {
            {"F1", 12, 12, 1, false, false},
            {"Fruit Cup", 12.4, 12.4, 1, false, false},
            {"Hot Chocolate", 12, 12, 2, true, false},
            {"Cheesecake", 12, 12, 1, true, false},
            {"a b c d e f g h i j k l m n o p", 4, 12, 3, true, true},
            {"Word", 2, 1, 1, true, true},
            {"", 12, 12, 0, true, false},
        };
        for (const auto& c : cases) {
            const FittedLegend fitted = fitLegend(c.text, legendFont(), QSizeF(c.width, c.height),
                                                  kLegendMaxPoints, kLegendMinPoints, 3);
            QCOMPARE(fitted.lines.size(), c.lines);
            QCOMPARE(fitted.cut, c.cut);
            QCOMPARE(fitted.pointSize < kLegendMaxPoints, c.smaller);
            QCOMPARE(fitted.lines.join(' ') == c.text, !c.cut);
            QVERIFY(!c.cut || fitted.lines.last().endsWith(QChar(0x2026)));
        }
    }
};

QTEST_MAIN(LegendWindowTest)
#include "legend_window_test.moc"
