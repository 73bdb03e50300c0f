#include <QAction>
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

QList<Stroke> characters(const QString& text) {
    QList<Stroke> strokes;
    for (const QChar c : text) {
        strokes.append({QKeySequence::fromString(QString(c.toUpper()))[0].key(), QString(c)});
    }
    return strokes;
}

QString memoText(const TformTestKeys& window) {
    return window.Memo1()->toPlainText();
}

// Counts the hook calls and does what the real hook does, or refuses to install.
class RecordingHook : public KeyboardHook {
public:
    bool refuse = false;
    int hooks = 0;
    int unhooks = 0;
    QObject* window = nullptr;
    QEvent::Type message = QEvent::None;

    bool HookKeyboard(QObject* target, QEvent::Type type) override {
        ++hooks;
        window = target;
        message = type;
        return !refuse && m_real.HookKeyboard(target, type);
    }
    void UnhookKeyboard() override {
        ++unhooks;
        m_real.UnhookKeyboard();
    }

private:
    ApplicationKeyboardHook m_real;
};

}  // namespace

Q_DECLARE_METATYPE(Stroke)

class TestWindowTest : public QObject {
    Q_OBJECT

private slots:
    void keystrokesShown_data();
    void keystrokesShown();
    void enterEndsTheLineAndTheTwentyFirstLineClears();
    void inputLimit();
    void keysTypedIntoOtherWindowsAreShown();
    void oneHookAtATime();
    void testFlowClearKeepsHookCloseRemovesIt();
    void testFlowReportsErrorToHook();
    void removingTheKeyboardClosesTheTest();
    void closingTheMainWindowEndsTheTest();
};

void TestWindowTest::keystrokesShown_data() {
    QTest::addColumn<QList<Stroke>>("strokes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("characters") << characters("ab 1;") << "ab 1;";
    QTest::newRow("shifted and 8-bit characters")
        << QList<Stroke>{{Qt::Key_A, "A"}, {Qt::Key_4, "$"}, {Qt::Key_Eacute, "\u00e9"}}
        << "A$\u00e9";
    QTest::newRow("function key") << QList<Stroke>{{Qt::Key_F5, ""}} << "<F5>";
    QTest::newRow("keys typing control characters")
        << QList<Stroke>{{Qt::Key_Tab, "\t"}, {Qt::Key_Backspace, "\b"}, {Qt::Key_Escape, "\x1b"}}
        << "<Tab><Backspace><Esc>";
    QTest::newRow("Delete typing character 127")
        << QList<Stroke>{{Qt::Key_Delete, "\x7f"}} << "<Del>";
    QTest::newRow("Ctrl+C types a control character")
        << QList<Stroke>{{Qt::Key_C, "\x03"}} << "<C>";
    QTest::newRow("modifier keys")
        << QList<Stroke>{{Qt::Key_Shift, ""}, {Qt::Key_Control, ""}} << "<Shift><Control>";
    QTest::newRow("key typing two characters") << QList<Stroke>{{Qt::Key_A, "\u00b4a"}} << "<A>";
    QTest::newRow("keys without a name add nothing")
        << QList<Stroke>{{Qt::Key_unknown, ""}, {0x0100ffff, ""}, {Qt::Key_X, "x"}} << "x";
    QTest::newRow("keys named beside the key sequences")
        << QList<Stroke>{{Qt::Key_Super_L, ""}, {Qt::Key_AltGr, ""}} << "<Left Windows><AltGr>";
}

void TestWindowTest::keystrokesShown() {
    QFETCH(QList<Stroke>, strokes);
    QFETCH(QString, shown);
    TformTestKeys window;
    window.show();
    QVERIFY(window.installHook());

    type(window, strokes);

    window.removeHook();
    QCOMPARE(memoText(window), shown);
}

void TestWindowTest::enterEndsTheLineAndTheTwentyFirstLineClears() {
    TformTestKeys window;
    window.show();
    QVERIFY(window.installHook());
    QPlainTextEdit* memo = window.Memo1();

    type(window, characters("ab") + QList<Stroke>{{Qt::Key_Return, "\r"}});
    QCOMPARE(memoText(window), QString("ab<Enter>\n"));
    QCOMPARE(memo->textCursor().position(), memo->toPlainText().size());
    QVERIFY(memo->hasFocus() || !window.isActiveWindow());

    // Releases are handed to the window too, and add nothing.
    type(window, {{Qt::Key_Enter, "\r"}}, false);
    QCOMPARE(memoText(window), QString("ab<Enter>\n<Enter>\n"));
    for (int line = 3; line < TformTestKeys::kMaxLines; ++line) {
        type(window, {{Qt::Key_Return, "\r"}});
    }
    type(window, characters("z"));
    QCOMPARE(memo->document()->blockCount(), TformTestKeys::kMaxLines);
    QVERIFY(memoText(window).endsWith("<Enter>\nz"));

    // The line break that would begin line 21 empties the box.
    type(window, {{Qt::Key_Return, "\r"}});
    QCOMPARE(memoText(window), QString());
    type(window, characters("q"));
    QCOMPARE(memoText(window), QString("q"));
    window.removeHook();
}

void TestWindowTest::inputLimit() {
    TformTestKeys window;
    window.show();
    QVERIFY(window.installHook());
    const QString full(TformTestKeys::kInputLimit - 2, QLatin1Char('k'));
    window.Memo1()->setPlainText(full);

    type(window, {{Qt::Key_F5, ""}, {Qt::Key_A, "a"}});

    QCOMPARE(memoText(window), full + "<F");
    window.removeHook();
}

void TestWindowTest::keysTypedIntoOtherWindowsAreShown() {
    WindowFixture fixture;
    fixture.start();
    TformTestKeys& window = fixture.windows->testKeys();
    QVERIFY(window.installHook());

    type(fixture.main(), characters("m"));
    type(window, characters("t"));

    // A keystroke passes the main window's controls too: it is shown once.
    QCOMPARE(memoText(window), QString("mt"));
    window.removeHook();
}

void TestWindowTest::oneHookAtATime() {
    TformTestKeys window;
    window.show();
    ApplicationKeyboardHook other;
    QObject target;
    QVERIFY(other.HookKeyboard(&target, window.keyMessage()));
    QVERIFY(!window.installHook());
    QVERIFY(!other.HookKeyboard(&target, window.keyMessage()));

    other.UnhookKeyboard();
    QVERIFY(!other.isInstalled());
    QVERIFY(window.installHook());
    window.removeHook();

    QVERIFY(!other.HookKeyboard(&target, QEvent::None));
    QVERIFY(!other.HookKeyboard(nullptr, window.keyMessage()));
}

void TestWindowTest::testFlowClearKeepsHookCloseRemovesIt() {
    WindowFixture fixture;
    fixture.start();
    TformTestKeys& window = fixture.windows->testKeys();
    RecordingHook hook;
    window.setKeyboardHook(&hook);
    window.Memo1()->setPlainText("left from before");
    QString beforeClear;
    QString afterClear;
    bool mainDisabled = false;
    int unhooksBeforeClose = -1;
    bool closedByButton = false;

    QTimer::singleShot(0, &window, [&] {
        mainDisabled = !fixture.main().isEnabled();
        type(window, characters("ab") + QList<Stroke>{{Qt::Key_F7, ""}});
        beforeClear = memoText(window);
        QTest::mouseClick(window.findChild<QPushButton*>("btnClr"), Qt::LeftButton);
        type(window, characters("c"));
        afterClear = memoText(window);
        unhooksBeforeClose = hook.unhooks;
        QTest::mousePress(window.findChild<QPushButton*>("btnExit"), Qt::LeftButton);
        closedByButton = !window.isVisible();
        window.hide();  // so that a failure here cannot hang the flow
    });

    fixture.main().findChild<QAction*>("Test1")->trigger();

    QVERIFY(mainDisabled);
    QCOMPARE(beforeClear, QString("ab<F7>"));
    QCOMPARE(afterClear, QString("c"));
    QCOMPARE(hook.hooks, 1);
    QCOMPARE(hook.window, &window);
    QCOMPARE(hook.message, window.keyMessage());
    QCOMPARE(unhooksBeforeClose, 0);
    QVERIFY(hook.unhooks >= 1);
    QVERIFY(closedByButton);
    QVERIFY(fixture.main().isEnabled());
    QVERIFY(fixture.prompts.seen.isEmpty());

    // With the hook gone, keystrokes reach the window no more.
    window.show();
    type(window, characters("x"));
    QCOMPARE(memoText(window), QString("c"));
    window.hide();
    window.setKeyboardHook(nullptr);
}

void TestWindowTest::testFlowReportsErrorToHook() {
    WindowFixture fixture;
    fixture.start();
    TformTestKeys& window = fixture.windows->testKeys();
    // Another hook in place: this window's cannot be installed.
    ApplicationKeyboardHook other;
    QObject target;
    QVERIFY(other.HookKeyboard(&target, window.keyMessage()));
    bool openAfterError = false;

    QTimer::singleShot(0, &window, [&] {
        openAfterError = window.isVisible();
        type(window, characters("a"));
        window.close();
    });

    fixture.main().findChild<QAction*>("Test1")->trigger();

    QCOMPARE(fixture.prompts.texts("error"), QStringList{"Error To Hook"});
    QVERIFY(openAfterError);
    QCOMPARE(memoText(window), QString());
    QVERIFY(!window.isVisible());
    QVERIFY(fixture.main().isEnabled());
    QVERIFY(other.isInstalled());
}

void TestWindowTest::removingTheKeyboardClosesTheTest() {
    WindowFixture fixture;
    fixture.start();
    TformTestKeys& window = fixture.windows->testKeys();
    RecordingHook hook;
    window.setKeyboardHook(&hook);
    bool wasOpen = false;
    bool closedByRemoval = false;

    QTimer::singleShot(0, &window, [&] {
        wasOpen = window.isVisible();
        fixture.sim->unplug(fixture.sim->keyboardIndex());
        for (int i = 0; i < 10 && window.isVisible(); ++i) {
            QCoreApplication::processEvents();
        }
        closedByRemoval = !window.isVisible();
        window.hide();  // so that a failure here cannot hang the flow
    });

    fixture.main().findChild<QAction*>("Test1")->trigger();

    QVERIFY(wasOpen);
    QVERIFY(closedByRemoval);
    QCOMPARE(hook.hooks, 1);
    QVERIFY(hook.unhooks >= 1);
    QVERIFY(fixture.main().isEnabled());
    QCOMPARE(fixture.main().statusText(), QString());
    window.setKeyboardHook(nullptr);
}

void TestWindowTest::closingTheMainWindowEndsTheTest() {
    WindowFixture fixture;
    fixture.start();
    TformTestKeys& window = fixture.windows->testKeys();
    RecordingHook hook;
    window.setKeyboardHook(&hook);
    bool closedWithMain = false;

    QTimer::singleShot(0, &window, [&] {
        fixture.main().close();
        closedWithMain = !window.isVisible();
        window.hide();  // so that a failure here cannot hang the flow
    });

    fixture.main().findChild<QAction*>("Test1")->trigger();

    QVERIFY(closedWithMain);
    QVERIFY(hook.unhooks >= 1);
    // The flow that opened the test window does not bring the closed window back.
    QVERIFY(!fixture.main().isVisible());
    window.setKeyboardHook(nullptr);
}

QTEST_MAIN(TestWindowTest)
#include "test_window_test.moc"
