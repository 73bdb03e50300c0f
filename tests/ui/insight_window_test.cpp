#include <QApplication>
#include <QLineEdit>
#include <QTableWidget>
#include <QtTest>

#include "keys/key_insight.h"
#include "ui/CustomMCR.h"
#include "window_fixture.h"

using namespace qk750;
using namespace qk750::test;

namespace {

template <class T>
T* child(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        qFatal("no control %s", name);
    }
    return found;
}

void clickCell(TfrmSettings& window, int key) {
    auto* grid = child<QTableWidget>(window, "KeyboardStringGrid");
    const QRect cell = grid->visualItemRect(grid->item(keyRow(key), keyColumn(key)));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

struct InsightFixture : WindowFixture {
    TfrmSettings& window;
    QTableWidget* grid;

    InsightFixture() : window(main()), grid(child<QTableWidget>(main(), "KeyboardStringGrid")) {
        start();
        // No built-in reader mode, so the MCR lines are editable.
        state.Setup.Mcr.McrSetupMode = 0;
        window.LoadSetupIntoDialogs();
    }

    bool marked(int key) const {
        return grid->item(keyRow(key), keyColumn(key))->data(Qt::BackgroundRole).isValid();
    }
    QString tooltip(int key) const { return grid->item(keyRow(key), keyColumn(key))->toolTip(); }
};

}  // namespace

class InsightWindowTest : public QObject {
    Q_OBJECT

private slots:
    void typingUpdatesMeterMarkAndHint();
    void hintFollowsTheActiveLine();
    void mcrLinesCountWithoutChangingTheRecord();
    void loadShowsFullMemory();
};

void InsightWindowTest::typingUpdatesMeterMarkAndHint() {
    InsightFixture f;
    const int emptyUse = f.window.memoryUse().used;
    clickCell(f.window, 5);
    auto* line = child<QLineEdit>(f.window, "edKeyString");

    QTest::keyClicks(line, "abc");
    QCOMPARE(f.window.memoryUse().used, emptyUse + 4);  // three codes and the end mark
    QCOMPARE(f.window.memoryMeterLabel(), QString("%1 / 1694 bytes").arg(emptyUse + 4));
    QCOMPARE(f.tooltip(5), QString("Key 5: 4 / 48 bytes, Func2: 0 / 48"));
    QVERIFY(!f.marked(5));

    // Capitals take three bytes each: 3 + 16 * 3 + 1 = 52.
    QTest::keyClicks(line, "ABCDEFGHIJKLMNOP");
    QCOMPARE(f.tooltip(5), QString("Key 5: 52 / 48 bytes, Func2: 0 / 48"));
    QVERIFY(f.marked(5));
    QCOMPARE(f.window.memoryUse().level, MemoryLevel::Error);
    QVERIFY2(f.window.memoryMeterLabel().endsWith(": Key 5 is too long"),
             qPrintable(f.window.memoryMeterLabel()));
    QVERIFY(!f.marked(4) && !f.marked(6));

    QTest::keyClick(line, Qt::Key_Backspace);
    QTest::keyClick(line, Qt::Key_Backspace);
    QCOMPARE(f.tooltip(5), QString("Key 5: 46 / 48 bytes, Func2: 0 / 48"));
    QVERIFY(!f.marked(5));
    QCOMPARE(f.window.memoryUse().level, MemoryLevel::Ok);
    QVERIFY(!f.window.memoryMeterLabel().contains(':'));

    QVERIFY(f.window.lineHintText().isEmpty());
    QTest::keyClicks(line, "<enter>");
    QVERIFY2(f.window.lineHintText().contains("<Enter>"), qPrintable(f.window.lineHintText()));
    // The hint only informs: the text is stored as typed.
    QCOMPARE(f.state.Setup.KeyStrings[5], std::string("abcABCDEFGHIJKLMN<enter>"));
}

void InsightWindowTest::hintFollowsTheActiveLine() {
    InsightFixture f;
    f.state.Setup.KeyStrings[9] = "a b";
    f.state.Setup.Func2Strings[9] = "<Esc>";
    clickCell(f.window, 9);
    QVERIFY2(f.window.lineHintText().contains("<Space>"), qPrintable(f.window.lineHintText()));

    f.window.setLineSelector(1);
    QVERIFY(f.window.lineHintText().isEmpty());
    // A Func2 string too long marks the cell too, though the grid shows only key strings.
    QTest::keyClicks(child<QLineEdit>(f.window, "edKeyString2"), QString(16, QChar('Z')));
    QVERIFY(f.marked(9));
    QCOMPARE(f.tooltip(9), QString("Key 9: 3 / 48 bytes, Func2: 50 / 48"));
    QVERIFY2(f.window.memoryMeterLabel().endsWith(": Key 9 is too long (Func2)"),
             qPrintable(f.window.memoryMeterLabel()));
}

void InsightWindowTest::mcrLinesCountWithoutChangingTheRecord() {
    InsightFixture f;
    const int before = f.window.memoryUse().used;
    TMCRCustomForm& custom = f.windows->customMcr();
    custom.show();
    auto* postamble = child<QLineEdit>(custom, "edTrack2Postamble");
    QTest::keyClicks(postamble, "xy<tab>");
    QCOMPARE(f.window.memoryUse().used, before + 3);
    QCOMPARE(f.state.Setup.Mcr.PostambleString, std::string());
    QVERIFY2(custom.lineHintText().contains("<Tab>"), qPrintable(custom.lineHintText()));
    custom.hide();
}

void InsightWindowTest::loadShowsFullMemory() {
    InsightFixture f;
    // 46 letters and the end mark: 47 bytes a key.
    const std::string full(46, 'a');
    for (int key = 1; key <= 33; ++key) {
        f.state.Setup.KeyStrings[key] = full;
    }
    f.window.LoadSetupIntoDialogs();
    QCOMPARE(f.window.memoryUse().level, MemoryLevel::Warning);
    QVERIFY(!f.window.memoryMeterLabel().contains(':'));

    for (int key = 34; key <= 40; ++key) {
        f.state.Setup.KeyStrings[key] = full;
    }
    f.window.LoadSetupIntoDialogs();
    QCOMPARE(f.window.memoryUse().level, MemoryLevel::Error);
    QVERIFY(f.window.memoryUse().used > kStringAreaCapacity);
    QVERIFY2(f.window.memoryMeterLabel().contains(": memory full at key"),
             qPrintable(f.window.memoryMeterLabel()));
    // No key is too long on its own.
    QVERIFY(!f.marked(1) && !f.marked(40));
}

QTEST_MAIN(InsightWindowTest)
#include "insight_window_test.moc"
