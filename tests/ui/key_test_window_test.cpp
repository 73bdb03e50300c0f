#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "ui/key_test_window.h"
#include "window_fixture.h"

using namespace qk750;
using namespace qk750::test;

namespace {

using Strokes = QList<std::pair<int, QString>>;  // key, text

// Presses (and releases) each key on the window's top-level window, as the platform
// delivers keystrokes, then lets the hook's posted keystrokes arrive; returns the memo.
QString type(KeyTestWindow& window, const Strokes& strokes, QWidget* at = nullptr,
             bool release = true) {
    for (const auto& [key, text] : strokes) {
        QWindow* handle = (at ? at : &window)->windowHandle();
        QTest::sendKeyEvent(QTest::Press, handle, Qt::Key(key), text, {});
        if (release) {
            QTest::sendKeyEvent(QTest::Release, handle, Qt::Key(key), text, {});
        }
    }
    QCoreApplication::processEvents();
    return window.keyLog()->toPlainText();
}

// Only one hook can be in place at a time, so whether a probe can hook tells whether the
// window's hook is still there.
bool hookInPlace(const KeyTestWindow& window) {
    ApplicationKeyboardHook probe;
    QObject target;
    const bool free = probe.HookKeyboard(&target, window.keyMessage());
    probe.UnhookKeyboard();
    return !free;
}

// Opens the test window from the main window's menu and runs `during` while the menu
// command waits for the window to close.
struct TestFlow : StartedFixture {
    KeyTestWindow& window = windows->keyTest();
    void run(const std::function<void()>& during) {
        QTimer::singleShot(0, &window, [&] {
            during();
            window.hide();  // so that a failure here cannot hang the flow
        });
        trigger("testKeysAction");
    }
};

}  // namespace

class KeyTestWindowTest : public QObject {
    Q_OBJECT

private slots:
    void keystrokesShown() {
        const struct {
            Strokes strokes;
            QString shown;
        } cases[] = {
            {{{Qt::Key_A, "A"}, {Qt::Key_4, "$"}, {Qt::Key_Eacute, "\u00e9"}}, "A$\u00e9"},
            {{{Qt::Key_F5, ""}}, "<F5>"},
            {{{Qt::Key_Tab, "\t"}, {Qt::Key_Backspace, "\b"}, {Qt::Key_Delete, "\x7f"}},
             "<Tab><Backspace><Del>"},
            {{{Qt::Key_C, "\x03"}}, "<C>"},     // Ctrl+C types a control character
            {{{Qt::Key_A, "\u00b4a"}}, "<A>"},  // a key typing two characters
            {{{Qt::Key_unknown, ""}, {0x0100ffff, ""}, {Qt::Key_X, "x"}}, "x"},  // no name
            {{{Qt::Key_Super_L, ""}, {Qt::Key_AltGr, ""}}, "<Left Windows><AltGr>"},
        };
        for (const auto& c : cases) {
            KeyTestWindow window;
            window.show();
            QVERIFY(window.installHook());
            QCOMPARE(type(window, c.strokes), c.shown);
            window.removeHook();
        }
    }

    void enterEndsTheLineAndTheTwentyFirstLineClears() {
        KeyTestWindow window;
        window.show();
        QVERIFY(window.installHook());
        const Strokes enter{{Qt::Key_Return, "\r"}};
        QCOMPARE(type(window, {{Qt::Key_A, "a"}, {Qt::Key_Return, "\r"}}), QString("a<Enter>\n"));
        // Releases are handed to the window too, and add nothing.
        QCOMPARE(type(window, {{Qt::Key_Enter, "\r"}}, nullptr, false),
                 QString("a<Enter>\n<Enter>\n"));
        for (int line = 3; line < KeyTestWindow::kMaxLines; ++line) {
            type(window, enter);
        }
        // A finished 20th line stays; the 21st begins in an empty box.
        QCOMPARE(type(window, enter), "a" + QString("<Enter>\n").repeated(20));
        QCOMPARE(type(window, {{Qt::Key_Q, "q"}}), QString("q"));
        window.removeHook();
    }

    void testFlowShowsKeysOfEveryWindowUntilClosed() {
        TestFlow flow;
        flow.window.keyLog()->setPlainText("left from before");
        QStringList shown;
        bool mainDisabled = false, closedByButton = false, hookedAfterClear = false;
        flow.run([&] {
            mainDisabled = !flow.main().isEnabled();
            // A keystroke passes the main window's controls too: it is shown once.
            type(flow.window, {{Qt::Key_M, "m"}}, &flow.main());
            shown << type(flow.window, {{Qt::Key_F7, ""}});
            QTest::mouseClick(child<QPushButton>(flow.window, "clearButton"), Qt::LeftButton);
            shown << type(flow.window, {{Qt::Key_C, "c"}});
            hookedAfterClear = hookInPlace(flow.window);
            QTest::mousePress(child<QPushButton>(flow.window, "closeButton"), Qt::LeftButton);
            closedByButton = !flow.window.isVisible();
        });
        QVERIFY(mainDisabled && closedByButton && hookedAfterClear);
        QCOMPARE(shown, (QStringList{"m<F7>", "c"}));
        QVERIFY(!hookInPlace(flow.window) && flow.main().isEnabled() &&
                flow.prompts.seen.isEmpty());
    }

    void testFlowReportsErrorToHook() {
        TestFlow flow;
        ApplicationKeyboardHook other;  // in place first: this window's cannot be installed
        QObject target;
        QVERIFY(other.HookKeyboard(&target, flow.window.keyMessage()));
        bool openAfterError = false;
        flow.run([&] { openAfterError = flow.window.isVisible(); });
        QCOMPARE(flow.prompts.texts("error"), QStringList{"Error To Hook"});
        QVERIFY(openAfterError && flow.main().isEnabled() && other.isInstalled());
    }
};

QTEST_MAIN(KeyTestWindowTest)
#include "key_test_window_test.moc"
