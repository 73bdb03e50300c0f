#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include "setup/setup_file.h"
#include "ui/mcr_custom_dialog.h"
#include "ui/onscreen_keyboard.h"
#include "window_fixture.h"

using namespace qk750;
using namespace qk750::test;

namespace {

void pressQ(OnScreenKeyboard& keyboard) {
    const auto& keys = keyboard.keys();
    const auto q = std::find_if(keys.begin(), keys.end(),
                                [](const KeyboardKey& key) { return key.outputs[0] == "q"; });
    QVERIFY(q != keys.end());
    keyboard.pressKey(static_cast<int>(q - keys.begin()));
}

const QString kDelete7 = QStringLiteral("\r   Delete Key 7 ? Are you sure ?     \r\r");
const QString kRestore7 = QStringLiteral("\r   Restore Key 7 ? Are you sure ?     \r\r");

// The main window shown, active and loaded, with key 7 holding both strings.
struct EditingFixture : StartedFixture {
    MainWindow& window = main();
    QTableWidget* grid = child<QTableWidget>(main(), "keyGrid");
    QLineEdit* line = child<QLineEdit>(main(), "keyStringEdit");
    QLineEdit* line2 = child<QLineEdit>(main(), "func2StringEdit");

    EditingFixture() {
        if (!QTest::qWaitForWindowActive(&window)) {
            qFatal("main window not active");
        }
        state.Setup.KeyStrings[7] = "seven<Enter>";
        state.Setup.Func2Strings[7] = "<F7>";
        // A missing setup file loads a built-in reader mode, which disables the MCR lines.
        state.Setup.Mcr.McrSetupMode = 0;
        window.LoadSetupIntoDialogs();
    }

    std::string key7() const {
        return state.Setup.KeyStrings[7] + "|" + state.Setup.Func2Strings[7];
    }
};

}  // namespace

class KeyEditingWindowTest : public QObject {
    Q_OBJECT

private slots:
    // Delete from the grid or the Func2 line's end deletes the whole key, asking; Ctrl+Z on the
    // grid restores it unless something came between, such as About (the question box closing
    // or a return from another application is not: the desktop flow).
    void wholeKeyDeleteAndRestore() {
        for (const auto& [from, between] : {std::pair<QString, QString>{"grid", ""},
                                            {"line2", ""},
                                            {"grid", "onscreen"},
                                            {"grid", "other key"},
                                            {"grid", "about"}}) {
            wholeKeyDeleteAndRestore(from, between);
        }
    }

private:
    void wholeKeyDeleteAndRestore(const QString& from, const QString& between) {
        EditingFixture f;
        f.clickCell(7);
        QCOMPARE(QApplication::focusWidget(), f.line);
        if (from == "grid") {
            f.grid->setFocus();
        } else if (from == "line2") {
            f.line2->setFocus();
            f.line2->end(false);
        }
        f.prompts.defaultAnswer = true;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
        QCOMPARE(f.prompts.texts("confirm"), QStringList{kDelete7});
        QCOMPARE(f.key7(), std::string("|"));
        QCOMPARE(f.line->text() + f.line2->text(), QString());
        QCOMPARE(f.window.cellText(6, 0), cellTextFor(QString(), false));

        if (between == "onscreen") {
            pressQ(*child<OnScreenKeyboard>(f.window, "keyboard"));
        } else if (between == "other key") {
            f.clickCell(8);
        } else if (between == "about") {
            QTimer::singleShot(0, &f.window, [&] { f.windows->about().hide(); });
            f.window.showAbout();
        }
        const std::string before = f.key7();
        f.grid->setFocus();
        QTest::keyClick(f.grid, Qt::Key_Z, Qt::ControlModifier);

        if (!between.isEmpty()) {
            QCOMPARE(f.prompts.texts("confirm"), QStringList{kDelete7});
            QCOMPARE(f.key7(), before);
            return;
        }
        QCOMPARE(f.prompts.texts("confirm"), (QStringList{kDelete7, kRestore7}));
        QCOMPARE(f.key7(), std::string("seven<Enter>|<F7>"));
        QCOMPARE(f.line->text() + f.line2->text(), QString("seven<Enter><F7>"));
        QCOMPARE(f.window.cellText(6, 0), cellTextFor("seven<Enter>", false));
        QCOMPARE(f.window.lineSelector(), 0);
    }

private slots:
    void typingOnGridContinuesInLine() {
        EditingFixture f;
        f.window.selectKey(1);
        // A character typed on the grid starts the line (every one: the desktop flow).
        QTest::keyClick(f.grid, ' ');
        QTest::keyClicks(QApplication::focusWidget(), "az ");  // wherever the focus has gone
        QCOMPARE(QApplication::focusWidget(), f.line);
        QCOMPARE(f.state.Setup.KeyStrings[1], std::string(" az "));
        QCOMPARE(f.window.cellText(0, 0), cellTextFor(" az ", true));
        QCOMPARE(f.window.currentKey(), 1);
        QTest::keyClick(f.line, Qt::Key_Escape);  // back to the grid, the line reloaded trimmed
        QCOMPARE(QApplication::focusWidget(), f.grid);
        QCOMPARE(f.line->text() + '|' + f.state.Setup.KeyStrings[1].c_str(), QString("az|az"));

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
        QCOMPARE(child<QLabel>(f.window, "keyStringLabel")->text() + '|' +
                     child<QLabel>(f.window, "func2StringLabel")->text(),
                 QString("Key 13 String:|Key 13 Func2 String:"));
    }

    // The editing rules are the key-editing tests'; here, what the line hands them. A key
    // typed in the line first makes Delete at its end an ordinary Delete.
    void lineKeys() {
        const struct {
            const char* text;
            int caret, selection;
            const char* typed;
            int key;
            const char* expected;
            int expectedCaret;
        } cases[] = {{"a<Tab>b", 1, 5, "", Qt::Key_Backspace, "ab", 1},
                     {"\xe9<Tab>\xe8", 2, 0, "", Qt::Key_Delete, "\xe9\xe8", 1},
                     {"ab", 2, 0, "x", Qt::Key_Delete, "abx", 3},
                     {"ab", 1, 0, "", Qt::Key_Return, "ab<Enter>", 9}};
        for (const auto& c : cases) {
            EditingFixture f;
            f.state.Setup.KeyStrings[20] = c.text;
            f.clickCell(20);
            f.line->setSelection(c.caret, c.selection);
            QTest::keyClicks(f.line, c.typed);
            QTest::keyClick(f.line, Qt::Key(c.key));
            QCOMPARE(f.line->text(), QString::fromLatin1(c.expected));
            QCOMPARE(f.line->cursorPosition(), c.expectedCaret);
            QCOMPARE(f.state.Setup.KeyStrings[20], std::string(c.expected));
            QVERIFY(f.prompts.seen.isEmpty());
        }
    }

    // A special key goes to the active line with its modifier; the FUNC2 items replace
    // both lines and take no modifier. Return, Enter and Space press the focused button.
    void addSpecialKey() {
        const struct {
            const char *modifier, *item;
            int selector;
            QString keyString, func2String;
            Qt::Key press;
        } cases[] = {{"Alt", "NumLock", 0, "seven<Enter><AltNumLock>", "<F7>", Qt::Key_Return},
                     {"Shift", "Caps", 1, "seven<Enter>", "<F7><ShiftCaps>", Qt::Key_Enter},
                     {"Ctrl", "FUNC2_SHIFT", 0, "<FUNC2_SHIFT>", "<FUNC2_SHIFT>", Qt::Key_Space}};

        for (const auto& c : cases) {
            EditingFixture f;
            f.clickCell(7);
            (c.selector == 1 ? f.line2 : f.line)->setFocus();
            QCOMPARE(f.window.lineSelector(), c.selector);
            auto* list = child<QListWidget>(f.window, "specialKeyList");
            QCOMPARE(list->currentRow(), 0);  // the first item until another is chosen
            list->setCurrentItem(list->findItems(c.item, Qt::MatchExactly).value(0));
            child<QRadioButton>(f.window, qPrintable(QString("modifier") + c.modifier))
                ->setChecked(true);
            auto* button = child<QPushButton>(f.window, "addSpecialKeyButton");
            button->setFocus();
            QTest::keyClick(button, c.press);
            QCOMPARE(f.key7(), (c.keyString + '|' + c.func2String).toStdString());
            QCOMPARE(f.line->text() + '|' + f.line2->text(), c.keyString + '|' + c.func2String);
            QCOMPARE(f.window.cellText(6, 0), cellTextFor(c.keyString, true));
            QVERIFY(child<QRadioButton>(f.window, "modifierNone")->isChecked());
        }
    }

    // The dialog's Save closes it once the setup is saved (when not: the desktop flow).
    void mcrSave() {
        EditingFixture f;
        McrCustomDialog& custom = f.windows->customMcr();
        const auto savedAs = [&](const std::string& file) {
            f.state.SetupFileName = file;
            custom.show();
            QTest::mouseClick(child<QPushButton>(custom, "saveButton"), Qt::LeftButton);
            return !custom.isVisible();
        };
        custom.show();
        QTest::keyClicks(child<QLineEdit>(custom, "preambleEdit"), "%B");

        f.prompts.fileNames << f.dir.filePath("shop");
        QVERIFY(savedAs(".INI"));
        QCOMPARE(f.prompts.texts("file"), QStringList{"saveDialog"});
        QCOMPARE(f.state.SetupFileName, f.path("shop.INI"));
        const qsizetype prompts = f.prompts.seen.size();
        QVERIFY(savedAs(f.path("QK750.INI")));
        QCOMPARE(f.prompts.seen.size(), prompts);
        for (const char* name : {"shop.INI", "QK750.INI"}) {
            SetupRecord saved;
            LoadSetupIni(saved, f.path(name));
            QCOMPARE(saved.Mcr.PreambleString + saved.KeyStrings[7], std::string("%Bseven<Enter>"));
        }
    }

    // Key strings hold 8-bit text: a character outside Latin-1 is not taken, however it comes
    // (a drop goes through the same validator as a paste).
    void notLatin1IsRefused() {
        const std::pair<const char*, const char*> cases[] = {{"keyStringEdit", "typed"},
                                                             {"func2StringEdit", "pasted"},
                                                             {"keyGrid", "typed"},
                                                             {"preambleEdit", "typed"}};
        for (const auto& [control, way] : cases) {
            EditingFixture f;
            McrCustomDialog& custom = f.windows->customMcr();
            const bool mcr = QString(control) == "preambleEdit";
            custom.setVisible(mcr);
            QWidget* target = child(mcr ? static_cast<QWidget&>(custom) : f.main(), control);
            auto* line = qobject_cast<QLineEdit*>(target);
            if (QString(way) == "typed") {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, "\u20ac");
                QApplication::sendEvent(target, &press);
            } else if (QString(way) == "pasted") {
                QApplication::clipboard()->setText("a\u20ac");
                line->paste();
            }
            QCOMPARE(line != nullptr ? line->text() : QString(), QString());
            const auto hint = [&] { return mcr ? custom.lineHintText() : f.main().lineHintText(); };
            QCOMPARE(hint(), "\"\u20ac\" is not taken: key strings hold Latin-1 characters only");
            QCOMPARE(f.state.Setup.KeyStrings[1] + f.state.Setup.Func2Strings[1], std::string());
            // The hint stays while typing goes on, until another key is chosen.
            QTest::keyClicks(mcr ? target : child(f.main(), "keyStringEdit"), "<enter>");
            QVERIFY(hint().startsWith("\"\u20ac\" is not taken") && hint().contains("<Enter>"));
            if (!mcr) {
                f.main().selectKey(2);
                QCOMPARE(hint(), QString());
            }
            custom.hide();
        }
    }
};

QTEST_MAIN(KeyEditingWindowTest)
#include "key_editing_window_test.moc"
