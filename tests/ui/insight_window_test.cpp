#include <QLineEdit>
#include <QtTest>

#include "keys/key_insight.h"
#include "ui/CustomMCR.h"
#include "window_fixture.h"

using namespace qk750;
using namespace qk750::test;

namespace {

struct InsightFixture : StartedFixture {
    TfrmSettings& window = main();

    InsightFixture() {
        // No built-in reader mode, so the MCR lines are editable.
        state.Setup.Mcr.McrSetupMode = 0;
        window.LoadSetupIntoDialogs();
    }

    QTableWidgetItem* cell(int key) const {
        return child<QTableWidget>(window, "KeyboardStringGrid")->item(keyRow(key), keyColumn(key));
    }
    bool marked(int key) const { return cell(key)->data(Qt::BackgroundRole).isValid(); }
};

}  // namespace

class InsightWindowTest : public QObject {
    Q_OBJECT

private slots:
    void typingUpdatesMeterMarkAndHint() {
        InsightFixture f;
        const int emptyUse = f.window.memoryUse().used;
        f.clickCell(5);
        auto* line = child<QLineEdit>(f.window, "edKeyString");

        QTest::keyClicks(line, "abc");
        QCOMPARE(f.window.memoryMeterLabel(), QString("%1 / 1694 bytes").arg(emptyUse + 4));
        QCOMPARE(f.cell(5)->toolTip(), QString("Key 5: 4 / 48 bytes, Func2: 0 / 48"));
        QVERIFY(!f.marked(5));

        // Capitals take three bytes each: 3 + 16 * 3 + 1 = 52.
        QTest::keyClicks(line, "ABCDEFGHIJKLMNOP");
        QCOMPARE(f.cell(5)->toolTip(), QString("Key 5: 52 / 48 bytes, Func2: 0 / 48"));
        QVERIFY(f.marked(5) && !f.marked(4) && !f.marked(6));
        QCOMPARE(f.window.memoryUse().level, MemoryLevel::Error);
        QVERIFY2(f.window.memoryMeterLabel().endsWith(": Key 5 is too long"),
                 qPrintable(f.window.memoryMeterLabel()));

        QTest::keyClick(line, Qt::Key_Backspace);
        QTest::keyClick(line, Qt::Key_Backspace);
        QCOMPARE(f.cell(5)->toolTip(), QString("Key 5: 46 / 48 bytes, Func2: 0 / 48"));
        QVERIFY(!f.marked(5));
        QCOMPARE(f.window.memoryUse().level, MemoryLevel::Ok);

        QVERIFY(f.window.lineHintText().isEmpty());
        QTest::keyClicks(line, "<enter>");
        QVERIFY2(f.window.lineHintText().contains("<Enter>"), qPrintable(f.window.lineHintText()));
        // The hint only informs: the text is stored as typed.
        QCOMPARE(f.state.Setup.KeyStrings[5], std::string("abcABCDEFGHIJKLMN<enter>"));
    }

    void mcrLinesCountWithoutChangingTheRecord() {
        InsightFixture f;
        const int before = f.window.memoryUse().used;
        TMCRCustomForm& custom = f.windows->customMcr();
        custom.show();
        QTest::keyClicks(child<QLineEdit>(custom, "edTrack2Postamble"), "xy<tab>");
        QCOMPARE(f.window.memoryUse().used, before + 3);
        QCOMPARE(f.state.Setup.Mcr.PostambleString, std::string());
        QVERIFY2(custom.lineHintText().contains("<Tab>"), qPrintable(custom.lineHintText()));
        custom.hide();
    }
};

QTEST_MAIN(InsightWindowTest)
#include "insight_window_test.moc"
