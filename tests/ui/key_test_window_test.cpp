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

// Presses (and releases) keys at a top-level window as the platform does; returns the memo.
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

// Only one hook can be in place at a time: a probe that cannot hook finds the window's.
bool hookInPlace(const KeyTestWindow& window) {
    ApplicationKeyboardHook probe;
    QObject target;
    const bool free = probe.HookKeyboard(&target, window.keyMessage());
    probe.UnhookKeyboard();
    return !free;
}

}  // namespace

class KeyTestWindowTest : public QObject {
    Q_OBJECT

private slots:
    // Each row from an empty box; then Enter ends a line and the 21st line clears the box.
    void keystrokesShownAndTwentyLines() {
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
        KeyTestWindow window;
        window.show();
        QVERIFY(window.installHook());
        for (const auto& c : cases) {
            window.keyLog()->clear();
            QCOMPARE(type(window, c.strokes), c.shown);
        }
        window.keyLog()->clear();
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

    // Opened from the menu, the window shows the keys typed in every window until it is
    // closed; a hook that cannot be installed is reported and the window still opens.
    void testFlowFromTheMenu() {
        StartedFixture f;
        KeyTestWindow& window = f.windows->keyTest();
        const auto run = [&](const std::function<void()>& during) {
            QTimer::singleShot(0, &window, [&] {
                during();
                window.hide();  // so that a failure here cannot hang the flow
            });
            f.trigger("testKeysAction");
        };
        window.keyLog()->setPlainText("left from before");
        QStringList shown;
        bool mainDisabled = false, closedByButton = false, hookedAfterClear = false;
        run([&] {
            mainDisabled = !f.main().isEnabled();
            // A keystroke passes the main window's controls too: it is shown once.
            type(window, {{Qt::Key_M, "m"}}, &f.main());
            shown << type(window, {{Qt::Key_F7, ""}});
            QTest::mouseClick(child<QPushButton>(window, "clearButton"), Qt::LeftButton);
            shown << type(window, {{Qt::Key_C, "c"}});
            hookedAfterClear = hookInPlace(window);
            QTest::mousePress(child<QPushButton>(window, "closeButton"), Qt::LeftButton);
            closedByButton = !window.isVisible();
        });
        QVERIFY(mainDisabled && closedByButton && hookedAfterClear);
        QCOMPARE(shown, (QStringList{"m<F7>", "c"}));
        QVERIFY(!hookInPlace(window) && f.main().isEnabled() && f.prompts.seen.isEmpty());

        ApplicationKeyboardHook other;  // in place first: the window's cannot be installed
        QObject target;
        QVERIFY(other.HookKeyboard(&target, window.keyMessage()));
        bool openAfterError = false;
        run([&] { openAfterError = window.isVisible(); });
        QCOMPARE(f.prompts.texts("error"), QStringList{"Error To Hook"});
        QVERIFY(openAfterError && f.main().isEnabled() && other.isInstalled());
    }
};

QTEST_MAIN(KeyTestWindowTest)
#include "key_test_window_test.moc"
