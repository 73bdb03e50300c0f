#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "ui/tstkeys.h"
#include "window_fixture.h"

using namespace qk750;
using namespace qk750::test;

namespace {

struct Stroke {
    int key;
    QString text;
};

// Presses (and releases) each key on the window's top-level window, as the platform
// delivers keystrokes, then lets the hook's posted keystrokes arrive.
void type(QWidget& window, const QList<Stroke>& strokes, bool release = true) {
    for (const Stroke& stroke : strokes) {
        const auto key = static_cast<Qt::Key>(stroke.key);
        QTest::sendKeyEvent(QTest::Press, window.windowHandle(), key, stroke.text, {});
        if (release) {
            QTest::sendKeyEvent(QTest::Release, window.windowHandle(), key, stroke.text, {});
        }
    }
    QCoreApplication::processEvents();
}

void type(QWidget& window, const QString& characters) {
    for (const QChar c : characters) {
        type(window, {{QKeySequence::fromString(QString(c.toUpper()))[0].key(), QString(c)}});
    }
}

QString memoText(const TformTestKeys& window) {
    return window.Memo1()->toPlainText();
}

// A test window on its own, its hook installed for the test's length.
struct HookedWindow : TformTestKeys {
    HookedWindow() {
        show();
        if (!installHook()) {
            qFatal("hook not installed");
        }
    }
    ~HookedWindow() override { removeHook(); }
};

// Only one hook can be in place at a time, so whether a probe can hook tells whether the
// window's hook is still there.
bool hookInPlace(const TformTestKeys& window) {
    ApplicationKeyboardHook probe;
    QObject target;
    const bool free = probe.HookKeyboard(&target, window.keyMessage());
    probe.UnhookKeyboard();
    return !free;
}

// Opens the test window from the main window's menu and runs `during` while the menu
// command waits for the window to close.
struct TestFlow : WindowFixture {
    TformTestKeys& window = windows->testKeys();

    TestFlow() { start(); }

    void run(const std::function<void()>& during) {
        QTimer::singleShot(0, &window, [&] {
            during();
            window.hide();  // so that a failure here cannot hang the flow
        });
        trigger("Test1");
    }
};

}  // namespace

Q_DECLARE_METATYPE(Stroke)

class TestWindowTest : public QObject {
    Q_OBJECT

private slots:
    void keystrokesShown_data() {
        QTest::addColumn<QList<Stroke>>("strokes");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char* name, const QList<Stroke>& strokes, const char* shown) {
            QTest::newRow(name) << strokes << QString::fromUtf8(shown);
        };
        row("characters", {{Qt::Key_A, "A"}, {Qt::Key_4, "$"}, {Qt::Key_Eacute, "\u00e9"}}, "A$é");
        row("function key", {{Qt::Key_F5, ""}}, "<F5>");
        row("keys typing control characters",
            {{Qt::Key_Tab, "\t"}, {Qt::Key_Backspace, "\b"}, {Qt::Key_Escape, "\x1b"}},
            "<Tab><Backspace><Esc>");
        row("Delete typing character 127", {{Qt::Key_Delete, "\x7f"}}, "<Del>");
        row("Ctrl+C types a control character", {{Qt::Key_C, "\x03"}}, "<C>");
        row("keys without a name add nothing",
            {{Qt::Key_unknown, ""}, {0x0100ffff, ""}, {Qt::Key_X, "x"}}, "x");
        row("keys named beside the key sequences", {{Qt::Key_Super_L, ""}, {Qt::Key_AltGr, ""}},
            "<Left Windows><AltGr>");
    }

    void keystrokesShown() {
        QFETCH(QList<Stroke>, strokes);
        QFETCH(QString, shown);
        HookedWindow window;
        type(window, strokes);
        QCOMPARE(memoText(window), shown);
    }

    void enterEndsTheLineAndTheTwentyFirstLineClears() {
        HookedWindow window;
        QPlainTextEdit* memo = window.Memo1();
        type(window, "ab");
        type(window, {{Qt::Key_Return, "\r"}});
        QCOMPARE(memoText(window), QString("ab<Enter>\n"));
        QCOMPARE(memo->textCursor().position(), memo->toPlainText().size());

        // Releases are handed to the window too, and add nothing.
        type(window, {{Qt::Key_Enter, "\r"}}, false);
        QCOMPARE(memoText(window), QString("ab<Enter>\n<Enter>\n"));
        for (int line = 3; line < TformTestKeys::kMaxLines; ++line) {
            type(window, {{Qt::Key_Return, "\r"}});
        }
        type(window, "z");
        QCOMPARE(memo->document()->blockCount(), TformTestKeys::kMaxLines);
        QVERIFY(memoText(window).endsWith("<Enter>\nz"));

        // The line break that would begin line 21 empties the box.
        type(window, {{Qt::Key_Return, "\r"}});
        QCOMPARE(memoText(window), QString());
        type(window, "q");
        QCOMPARE(memoText(window), QString("q"));
    }

    void inputLimit() {
        HookedWindow window;
        const QString full(TformTestKeys::kInputLimit - 2, QLatin1Char('k'));
        window.Memo1()->setPlainText(full);
        type(window, {{Qt::Key_F5, ""}, {Qt::Key_A, "a"}});
        QCOMPARE(memoText(window), full + "<F");
    }

    void testFlowShowsKeysOfEveryWindowUntilClosed() {
        TestFlow flow;
        flow.window.Memo1()->setPlainText("left from before");
        QStringList shown;
        bool mainDisabled = false;
        bool closedByButton = false;
        bool hookedAfterClear = false;
        flow.run([&] {
            mainDisabled = !flow.main().isEnabled();
            // A keystroke passes the main window's controls too: it is shown once.
            type(flow.main(), "m");
            type(flow.window, {{Qt::Key_F7, ""}});
            shown << memoText(flow.window);
            QTest::mouseClick(child<QPushButton>(flow.window, "btnClr"), Qt::LeftButton);
            type(flow.window, "c");
            shown << memoText(flow.window);
            hookedAfterClear = hookInPlace(flow.window);
            QTest::mousePress(child<QPushButton>(flow.window, "btnExit"), Qt::LeftButton);
            closedByButton = !flow.window.isVisible();
        });

        QVERIFY(mainDisabled && closedByButton && hookedAfterClear);
        QCOMPARE(shown, (QStringList{"m<F7>", "c"}));
        QVERIFY(!hookInPlace(flow.window));
        QVERIFY(flow.main().isEnabled());
        QVERIFY(flow.prompts.seen.isEmpty());
    }

    void testFlowReportsErrorToHook() {
        TestFlow flow;
        // Another hook in place: this window's cannot be installed.
        ApplicationKeyboardHook other;
        QObject target;
        QVERIFY(other.HookKeyboard(&target, flow.window.keyMessage()));
        bool openAfterError = false;
        flow.run([&] {
            openAfterError = flow.window.isVisible();
            type(flow.window, "a");
        });
        QCOMPARE(flow.prompts.texts("error"), QStringList{"Error To Hook"});
        QVERIFY(openAfterError);
        QCOMPARE(memoText(flow.window), QString());
        QVERIFY(flow.main().isEnabled() && other.isInstalled());
    }

    // Removing the keyboard or closing the main window ends the test; the flow that opened
    // the test window does not bring a closed main window back.
    void removalOrClosingEndsTheTest() {
        for (const bool removal : {true, false}) {
            TestFlow flow;
            bool closed = false;
            flow.run([&] {
                if (removal) {
                    flow.sim->unplug(flow.sim->keyboardIndex());
                } else {
                    flow.main().close();
                }
                for (int i = 0; i < 10 && flow.window.isVisible(); ++i) {
                    QCoreApplication::processEvents();
                }
                closed = !flow.window.isVisible();
            });
            QVERIFY(closed && !hookInPlace(flow.window));
            QCOMPARE(flow.main().isEnabled() && flow.main().isVisible(), removal);
        }
    }
};

QTEST_MAIN(TestWindowTest)
#include "test_window_test.moc"
