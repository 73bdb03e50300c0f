#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include "setup/setup_file.h"
#include "ui/CustomMCR.h"
#include "ui/Keyboard.h"
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

// Key presses go wherever the focus is, as a person's typing would.
void typeIntoFocus(const QString& text) {
    for (const QChar c : text) {
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus != nullptr);
        QTest::keyClick(focus, c.toLatin1());
    }
}

int keyboardIndex(const TKeyboard& keyboard, const QString& plainOutput) {
    const auto& keys = keyboard.Keys();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].outputs[0] == plainOutput) {
            return static_cast<int>(i);
        }
    }
    qFatal("no on-screen key");
    return -1;
}

const QString kDelete7 = QStringLiteral("\r   Delete Key 7 ? Are you sure ?     \r\r");
const QString kRestore7 = QStringLiteral("\r   Restore Key 7 ? Are you sure ?     \r\r");

// The main window shown, activated and loaded, with key 7 holding both strings.
struct EditingFixture : WindowFixture {
    TfrmSettings& window;
    QTableWidget* grid;
    QLineEdit* line;
    QLineEdit* line2;

    EditingFixture()
        : window(main()),
          grid(child<QTableWidget>(main(), "KeyboardStringGrid")),
          line(child<QLineEdit>(main(), "edKeyString")),
          line2(child<QLineEdit>(main(), "edKeyString2")) {
        start();
        if (!QTest::qWaitForWindowActive(&window)) {
            qFatal("main window not active");
        }
        state.Setup.KeyStrings[7] = "seven<Enter>";
        state.Setup.Func2Strings[7] = "<F7>";
        // A missing setup file loads a built-in reader mode, which disables the MCR lines.
        state.Setup.Mcr.McrSetupMode = 0;
        window.LoadSetupIntoDialogs();
    }
};

}  // namespace

class KeyEditingWindowTest : public QObject {
    Q_OBJECT

private slots:
    void wholeKeyDeleteAndRestore_data();
    void wholeKeyDeleteAndRestore();
    void deleteInLineAsksOnlyBeforeOtherKeys();
    void typingOnGridContinuesInLine();
    void lockedGridChangesNothing();
    void lineKeys_data();
    void lineKeys();
    void lineIsReloadedTrimmed();
    void addSpecialKey_data();
    void addSpecialKey();
    void mcrTargetFollowsLines();
    void mcrSaveWritesSetupAndCloses();
    void mcrSaveFailureKeepsDialogOpen();
    void mcrSaveOfUnnamedSetupAsksForName();
};

void KeyEditingWindowTest::wholeKeyDeleteAndRestore_data() {
    QTest::addColumn<bool>("fromLine");
    QTest::addColumn<QString>("between");  // what happens between deletion and Ctrl+Z
    QTest::addColumn<bool>("restored");
    QTest::newRow("grid, nothing between") << false << "" << true;
    QTest::newRow("line, nothing between") << true << "" << true;
    QTest::newRow("grid, on-screen key between") << false << "onscreen" << false;
    QTest::newRow("grid, typed on the grid between") << false << "typed" << false;
    QTest::newRow("grid, other key selected") << false << "other key" << false;
}

void KeyEditingWindowTest::wholeKeyDeleteAndRestore() {
    QFETCH(bool, fromLine);
    QFETCH(QString, between);
    QFETCH(bool, restored);
    EditingFixture f;
    clickCell(f.window, 7);
    f.prompts.answers << true;
    if (fromLine) {
        QCOMPARE(QApplication::focusWidget(), f.line);
        QTest::keyClick(f.line, Qt::Key_Delete);
    } else {
        f.grid->setFocus();
        QTest::keyClick(f.grid, Qt::Key_Delete);
    }
    QCOMPARE(f.prompts.texts("confirm"), QStringList{kDelete7});
    QCOMPARE(f.state.Setup.KeyStrings[7], std::string());
    QCOMPARE(f.state.Setup.Func2Strings[7], std::string());
    QCOMPARE(f.line->text(), QString());
    QCOMPARE(f.line2->text(), QString());
    QCOMPARE(f.window.cellText(6, 0), cellTextFor(QString(), false));

    if (between == "onscreen") {
        auto* keyboard = child<TKeyboard>(f.window, "Keyboard1");
        keyboard->pressKey(keyboardIndex(*keyboard, "q"));
    } else if (between == "typed") {
        f.grid->setFocus();
        QTest::keyClick(f.grid, 'q');
    } else if (between == "other key") {
        clickCell(f.window, 8);
    }
    const std::string keyStringBefore = f.state.Setup.KeyStrings[7];
    f.grid->setFocus();
    f.prompts.answers << true;
    QTest::keyClick(f.grid, Qt::Key_Z, Qt::ControlModifier);

    if (restored) {
        QCOMPARE(f.prompts.texts("confirm"), (QStringList{kDelete7, kRestore7}));
        QCOMPARE(f.state.Setup.KeyStrings[7], std::string("seven<Enter>"));
        QCOMPARE(f.state.Setup.Func2Strings[7], std::string("<F7>"));
        QCOMPARE(f.line->text(), QString("seven<Enter>"));
        QCOMPARE(f.line2->text(), QString("<F7>"));
        QCOMPARE(f.window.cellText(6, 0), cellTextFor("seven<Enter>", false));
        QCOMPARE(f.window.lineSelector(), 0);
    } else {
        QCOMPARE(f.prompts.texts("confirm"), QStringList{kDelete7});
        QCOMPARE(f.state.Setup.KeyStrings[7], keyStringBefore);
        QCOMPARE(f.state.Setup.Func2Strings[7], std::string());
    }
}

void KeyEditingWindowTest::deleteInLineAsksOnlyBeforeOtherKeys() {
    EditingFixture f;
    // Cancel keeps the key.
    clickCell(f.window, 7);
    QTest::keyClick(f.line, Qt::Key_Delete);
    QCOMPARE(f.prompts.texts("confirm"), QStringList{kDelete7});
    QCOMPARE(f.state.Setup.KeyStrings[7], std::string("seven<Enter>"));

    // A key pressed in the line first: Delete at the end is an ordinary Delete.
    clickCell(f.window, 7);
    QTest::keyClick(f.line, 'x');
    QTest::keyClick(f.line, Qt::Key_Delete);
    QCOMPARE(f.prompts.texts("confirm").size(), 1);
    QCOMPARE(f.state.Setup.KeyStrings[7], std::string("seven<Enter>x"));

    // Deleting from the Func2 line also redraws the cell.
    clickCell(f.window, 7);
    f.line2->setFocus();
    QCOMPARE(f.window.lineSelector(), 1);
    f.line2->end(false);
    f.prompts.answers << true;
    QTest::keyClick(f.line2, Qt::Key_Delete);
    QCOMPARE(f.state.Setup.KeyStrings[7], std::string());
    QCOMPARE(f.state.Setup.Func2Strings[7], std::string());
    QCOMPARE(f.window.cellText(6, 0), cellTextFor(QString(), false));
}

void KeyEditingWindowTest::typingOnGridContinuesInLine() {
    EditingFixture f;
    f.state.Setup.KeyStrings[1] = "";
    f.window.RefreshGrid();
    f.window.selectKey(1);
    f.grid->setFocus();
    QCOMPARE(QApplication::focusWidget(), f.grid);
    typeIntoFocus("ab c");
    QCOMPARE(QApplication::focusWidget(), f.line);
    QCOMPARE(f.state.Setup.KeyStrings[1], std::string("ab c"));
    QCOMPARE(f.window.cellText(0, 0), CenterCellText("ab c", 15));
    QCOMPARE(f.window.currentKey(), 1);

    // Enter on the grid appends "<Enter>" to the active line, here the Func2 line.
    f.window.setLineSelector(1);
    f.grid->setFocus();
    QTest::keyClick(f.grid, Qt::Key_Return);
    QCOMPARE(f.state.Setup.Func2Strings[1], std::string("<Enter>"));
    QCOMPARE(QApplication::focusWidget(), f.line2);

    // Arrows still move the cell.
    f.grid->setFocus();
    QTest::keyClick(f.grid, Qt::Key_Down);
    QCOMPARE(f.window.currentKey(), 13);
}

void KeyEditingWindowTest::lockedGridChangesNothing() {
    EditingFixture f;
    child<QCheckBox>(f.window, "LockSetupCheckBox")->setChecked(true);
    f.window.selectKey(7);
    f.grid->setFocus();
    f.prompts.defaultAnswer = true;
    for (const auto key : {Qt::Key_Delete, Qt::Key_Return, Qt::Key_A}) {
        QTest::keyClick(f.grid, key);
    }
    QVERIFY(f.prompts.texts("confirm").isEmpty());
    QCOMPARE(f.state.Setup.KeyStrings[7], std::string("seven<Enter>"));
    QCOMPARE(f.state.Setup.Func2Strings[7], std::string("<F7>"));
}

void KeyEditingWindowTest::lineKeys_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("caret");
    QTest::addColumn<int>("selection");
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("expectedCaret");
    using B = QByteArray;
    const int backspace = Qt::Key_Backspace;
    const int del = Qt::Key_Delete;
    QTest::newRow("backspace takes a final tag")
        << B("ab<Enter>") << 9 << 0 << backspace << B("ab") << 2;
    QTest::newRow("backspace between letters")
        << B("ab<Enter>") << 1 << 0 << backspace << B("b<Enter>") << 0;
    QTest::newRow("delete before a tag") << B("x<Tab>y") << 1 << 0 << del << B("xy") << 1;
    QTest::newRow("delete inside a tag") << B("x<Tab>y") << 3 << 0 << del << B("xy") << 1;
    QTest::newRow("delete a plain character") << B("x<Tab>y") << 0 << 0 << del << B("<Tab>y") << 0;
    QTest::newRow("delete a selection") << B("abcdef") << 1 << 3 << del << B("aef") << 1;
    QTest::newRow("backspace a selection") << B("a<Tab>b") << 1 << 5 << backspace << B("ab") << 1;
    QTest::newRow("8-bit text") << B("\xe9<Tab>\xe8") << 2 << 0 << del << B("\xe9\xe8") << 1;
    QTest::newRow("enter appends at the end")
        << B("ab") << 1 << 0 << int(Qt::Key_Return) << B("ab<Enter>") << 9;
}

void KeyEditingWindowTest::lineKeys() {
    QFETCH(QByteArray, text);
    QFETCH(int, caret);
    QFETCH(int, selection);
    QFETCH(int, key);
    QFETCH(QByteArray, expected);
    QFETCH(int, expectedCaret);
    EditingFixture f;
    f.state.Setup.KeyStrings[20] = text.toStdString();
    clickCell(f.window, 20);
    if (selection > 0) {
        f.line->setSelection(caret, selection);
    } else {
        f.line->setCursorPosition(caret);
    }
    QTest::keyClick(f.line, static_cast<Qt::Key>(key));
    QCOMPARE(f.line->text(), QString::fromLatin1(expected));
    QCOMPARE(f.line->cursorPosition(), expectedCaret);
    QCOMPARE(f.state.Setup.KeyStrings[20], expected.toStdString());
    QVERIFY(f.prompts.seen.isEmpty());
}

void KeyEditingWindowTest::lineIsReloadedTrimmed() {
    EditingFixture f;
    clickCell(f.window, 3);
    QTest::keyClicks(f.line, "ab ");
    QCOMPARE(f.state.Setup.KeyStrings[3], std::string("ab "));
    QTest::mouseClick(f.line, Qt::LeftButton);
    QCOMPARE(f.line->text(), QString("ab"));
    QCOMPARE(f.state.Setup.KeyStrings[3], std::string("ab"));
}

void KeyEditingWindowTest::addSpecialKey_data() {
    QTest::addColumn<QString>("modifier");
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("selector");
    QTest::addColumn<QString>("keyString");
    QTest::addColumn<QString>("func2String");
    QTest::newRow("Alt NumLock") << "Alt"
                                 << "NumLock" << 0 << "seven<Enter><AltNumLock>"
                                 << "<F7>";
    QTest::newRow("None Pad Enter") << "None"
                                    << "Pad Enter" << 0 << "seven<Enter><Pad Enter>"
                                    << "<F7>";
    QTest::newRow("Shift Caps on the Func2 line") << "Shift"
                                                  << "Caps" << 1 << "seven<Enter>"
                                                  << "<F7><ShiftCaps>";
    QTest::newRow("Ctrl FUNC2_SHIFT") << "Ctrl"
                                      << "FUNC2_SHIFT" << 0 << "<FUNC2_SHIFT>"
                                      << "<FUNC2_SHIFT>";
    QTest::newRow("FUNC2_TOGGLE from the Func2 line") << "None"
                                                      << "FUNC2_TOGGLE" << 1 << "<FUNC2_TOGGLE>"
                                                      << "<FUNC2_TOGGLE>";
}

void KeyEditingWindowTest::addSpecialKey() {
    QFETCH(QString, modifier);
    QFETCH(QString, item);
    QFETCH(int, selector);
    QFETCH(QString, keyString);
    QFETCH(QString, func2String);
    EditingFixture f;
    clickCell(f.window, 7);
    (selector == 1 ? f.line2 : f.line)->setFocus();
    QCOMPARE(f.window.lineSelector(), selector);
    auto* list = child<QListWidget>(f.window, "SpecialListBox");
    QCOMPARE(list->count(), 24);
    list->setCurrentItem(list->findItems(item, Qt::MatchExactly).value(0));
    child<QRadioButton>(f.window, ("ShiftKeys" + modifier).toLatin1().constData())
        ->setChecked(true);

    QTest::mouseClick(child<QPushButton>(f.window, "Button1"), Qt::LeftButton);

    QCOMPARE(f.state.Setup.KeyStrings[7], keyString.toLatin1().toStdString());
    QCOMPARE(f.state.Setup.Func2Strings[7], func2String.toLatin1().toStdString());
    QCOMPARE(f.line->text(), keyString);
    QCOMPARE(f.line2->text(), func2String);
    QVERIFY(child<QRadioButton>(f.window, "ShiftKeysNone")->isChecked());
    if (selector == 0) {
        QCOMPARE(f.window.cellText(6, 0), cellTextFor(keyString, true));
    }
}

void KeyEditingWindowTest::mcrTargetFollowsLines() {
    EditingFixture f;
    TMCRCustomForm& custom = f.windows->customMcr();
    auto* preamble = child<QLineEdit>(custom, "edTrack2Preamble");
    auto* postamble = child<QLineEdit>(custom, "edTrack2Postamble");
    auto* keyboard = child<TKeyboard>(custom, "Keyboard1");
    const int q = keyboardIndex(*keyboard, "q");
    QList<int> targets;
    bool active = true;

    QTimer::singleShot(0, &custom, [&] {
        active = active && QTest::qWaitForWindowActive(&custom);
        targets << f.state.Globals.EditTarget;
        keyboard->pressKey(q);
        postamble->setFocus();
        targets << f.state.Globals.EditTarget;
        keyboard->pressKey(q);
        QTest::keyClick(postamble, Qt::Key_Return);
        QTest::keyClick(preamble, Qt::Key_End);
        targets << f.state.Globals.EditTarget;
        postamble->setFocus();
        custom.hide();
    });
    f.window.MCRSetup1Click();
    QCOMPARE(targets, (QList<int>{2, 3, 2}));
    QCOMPARE(f.state.Globals.EditTarget, 1);
    QCOMPARE(preamble->text(), QString("q"));
    QCOMPARE(postamble->text(), QString("q<Enter>"));
    // Nothing went into the key lines.
    QCOMPARE(f.state.Setup.KeyStrings[7], std::string("seven<Enter>"));

    // Opened again, on-screen keys go to the preamble though the postamble had the focus,
    // and the caret waits there too.
    QWidget* focused = nullptr;
    QTimer::singleShot(0, &custom, [&] {
        active = active && QTest::qWaitForWindowActive(&custom);
        focused = custom.focusWidget();
        keyboard->pressKey(q);
        QTest::keyClick(postamble, Qt::Key_Backspace);
        custom.hide();
    });
    f.window.MCRSetup1Click();
    QVERIFY(active);
    QCOMPARE(focused, preamble);
    QCOMPARE(preamble->text(), QString("qq"));
    QCOMPARE(postamble->text(), QString("q"));
}

void KeyEditingWindowTest::mcrSaveWritesSetupAndCloses() {
    EditingFixture f;
    TMCRCustomForm& custom = f.windows->customMcr();
    custom.show();
    QTest::keyClicks(child<QLineEdit>(custom, "edTrack2Preamble"), "%B");
    QTest::mouseClick(child<QPushButton>(custom, "BitBtn1"), Qt::LeftButton);
    QVERIFY(!custom.isVisible());
    QVERIFY(f.prompts.seen.isEmpty());
    SetupRecord saved;
    LoadSetupIni(saved, f.state.SetupFileName);
    QCOMPARE(saved.Mcr.PreambleString, std::string("%B"));
    QCOMPARE(saved.KeyStrings[7], std::string("seven<Enter>"));
}

void KeyEditingWindowTest::mcrSaveFailureKeepsDialogOpen() {
    EditingFixture f;
    f.state.SetupFileName = f.path("missing-folder/shop.INI");
    TMCRCustomForm& custom = f.windows->customMcr();
    custom.show();
    QTest::mouseClick(child<QPushButton>(custom, "BitBtn1"), Qt::LeftButton);
    QVERIFY(custom.isVisible());
    const QStringList errors = f.prompts.texts("error");
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains("No such file or directory"), qPrintable(errors[0]));
    custom.hide();
}

void KeyEditingWindowTest::mcrSaveOfUnnamedSetupAsksForName() {
    EditingFixture f;
    f.state.SetupFileName = ".INI";
    TMCRCustomForm& custom = f.windows->customMcr();
    custom.show();
    auto* save = child<QPushButton>(custom, "BitBtn1");
    QTest::mouseClick(save, Qt::LeftButton);  // cancelled
    QVERIFY(custom.isVisible());
    QCOMPARE(f.state.SetupFileName, std::string(".INI"));

    f.prompts.fileNames << QString::fromStdString(f.path("shop"));
    QTest::mouseClick(save, Qt::LeftButton);
    QVERIFY(!custom.isVisible());
    QCOMPARE(f.prompts.texts("file"), (QStringList{"SaveDialog1", "SaveDialog1"}));
    QCOMPARE(f.state.SetupFileName, f.path("shop.INI"));
    SetupRecord saved;
    QVERIFY(QFile::exists(QString::fromStdString(f.state.SetupFileName)));
    LoadSetupIni(saved, f.state.SetupFileName);
    QCOMPARE(saved.KeyStrings[7], std::string("seven<Enter>"));
}

QTEST_MAIN(KeyEditingWindowTest)
#include "key_editing_window_test.moc"
