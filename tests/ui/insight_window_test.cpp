#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QtTest>

#include "keys/key_insight.h"
#include "ui/mcr_custom_dialog.h"
#include "window_fixture.h"

using namespace qk750;
using namespace qk750::test;

namespace {

struct InsightFixture : StartedFixture {
    MainWindow& window = main();

    InsightFixture() {
        // No built-in reader mode, so the MCR lines are editable.
        state.Setup.Mcr.McrSetupMode = 0;
        window.LoadSetupIntoDialogs();
    }

    QTableWidgetItem* cell(int key) const {
        return child<QTableWidget>(window, "keyGrid")->item(keyRow(key), keyColumn(key));
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
        auto* line = child<QLineEdit>(f.window, "keyStringEdit");

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

    void hintAndMarkFollowTheFunc2Line() {
        InsightFixture f;
        f.state.Setup.KeyStrings[9] = "a b";
        f.state.Setup.Func2Strings[9] = "<Esc>";
        f.clickCell(9);
        QVERIFY2(f.window.lineHintText().contains("<Space>"), qPrintable(f.window.lineHintText()));

        f.window.setLineSelector(1);
        QVERIFY(f.window.lineHintText().isEmpty());
        // A Func2 string too long marks the cell too, though the grid shows only key strings.
        QTest::keyClicks(child<QLineEdit>(f.window, "func2StringEdit"), QString(16, QChar('Z')));
        QVERIFY(f.marked(9));
        QCOMPARE(f.cell(9)->toolTip(), QString("Key 9: 3 / 48 bytes, Func2: 50 / 48"));
        QVERIFY2(f.window.memoryMeterLabel().endsWith(": Key 9 is too long (Func2)"),
                 qPrintable(f.window.memoryMeterLabel()));
    }

    void mcrLinesCountWithoutChangingTheRecord() {
        InsightFixture f;
        const int before = f.window.memoryUse().used;
        McrCustomDialog& custom = f.windows->customMcr();
        custom.show();
        QTest::keyClicks(child<QLineEdit>(custom, "postambleEdit"), "xy<tab>");
        QCOMPARE(f.window.memoryUse().used, before + 3);
        QCOMPARE(f.state.Setup.Mcr.PostambleString, std::string());
        QVERIFY2(custom.lineHintText().contains("<Tab>"), qPrintable(custom.lineHintText()));
        custom.hide();
    }

    // A character the keyboard cannot type is not taken, however it comes; the hint says
    // why.
    void notLatin1IsRefused_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("way");
        QTest::newRow("typed") << "keyStringEdit"
                               << "typed";
        QTest::newRow("pasted") << "func2StringEdit"
                                << "pasted";
        QTest::newRow("dropped") << "keyStringEdit"
                                 << "dropped";
        QTest::newRow("typed on the grid") << "keyGrid"
                                           << "typed";
        QTest::newRow("MCR line") << "preambleEdit"
                                  << "typed";
    }

    void notLatin1IsRefused() {
        QFETCH(QString, control);
        QFETCH(QString, way);
        InsightFixture f;
        McrCustomDialog& custom = f.windows->customMcr();
        const bool mcr = control == "preambleEdit";
        if (mcr) {
            custom.show();
        }
        QWidget* target =
            child(mcr ? static_cast<QWidget&>(custom) : f.window, qPrintable(control));
        auto* line = qobject_cast<QLineEdit*>(target);
        if (way == "typed") {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, "\u20ac");
            QApplication::sendEvent(target, &press);
        } else if (way == "pasted") {
            QApplication::clipboard()->setText("a\u20ac");
            line->paste();
        } else {
            QMimeData text;
            text.setText("a\u20ac");
            QDragEnterEvent enter(QPoint(4, 4), Qt::CopyAction, &text, Qt::LeftButton, {});
            QApplication::sendEvent(target, &enter);
            QDropEvent drop(QPointF(4, 4), Qt::CopyAction, &text, Qt::LeftButton, {});
            QApplication::sendEvent(target, &drop);
        }
        QCOMPARE(line != nullptr ? line->text() : QString(), QString());
        const auto hint = [&] { return mcr ? custom.lineHintText() : f.window.lineHintText(); };
        QCOMPARE(hint(), "\"\u20ac\" is not taken: key strings hold Latin-1 characters only");
        QCOMPARE(f.state.Setup.KeyStrings[1] + f.state.Setup.Func2Strings[1], std::string());
        // The hint stays while typing goes on, until another key is chosen.
        QTest::keyClicks(mcr ? target : child(f.window, "keyStringEdit"), "<enter>");
        QVERIFY(hint().startsWith("\"\u20ac\" is not taken") && hint().contains("<Enter>"));
        if (!mcr) {
            f.window.selectKey(2);
            QCOMPARE(hint(), QString());
        }
        custom.hide();
    }

    void loadShowsFullMemory() {
        InsightFixture f;
        // 46 letters and the end mark: 47 bytes a key; 40 keys do not fit.
        for (int key = 1; key <= 40; ++key) {
            f.state.Setup.KeyStrings[key] = std::string(46, 'a');
        }
        f.window.LoadSetupIntoDialogs();
        QCOMPARE(f.window.memoryUse().level, MemoryLevel::Error);
        QVERIFY(f.window.memoryUse().used > kStringAreaCapacity);
        QVERIFY2(f.window.memoryMeterLabel().contains(": memory full at key"),
                 qPrintable(f.window.memoryMeterLabel()));
        // No key is too long on its own.
        QVERIFY(!f.marked(1) && !f.marked(40));
    }
};

QTEST_MAIN(InsightWindowTest)
#include "insight_window_test.moc"
