#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "app/mcr_settings.h"
#include "app/programming_run.h"
#include "keys/device_image.h"
#include "setup/setup_file.h"
#include "ui/mcr_builtin_dialog.h"
#include "ui/progress_window.h"
#include "ui/prompts.h"
#include "ui/roll_out_window.h"
#include "usb/programming_protocol.h"
#include "window_fixture.h"

using namespace qk750;
using namespace qk750::test;

namespace {

SetupRecord loadedFrom(const std::string& path) {
    SetupRecord setup;
    LoadSetupIni(setup, path);
    return setup;
}

void writeSetup(const std::string& path, int key, const std::string& text) {
    SetupRecord setup;
    setup.KeyStrings[key] = text;
    QVERIFY(SaveSetupIni(setup, path).ok);
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:

    // A cell shows a long string's last 15 characters until it has been left.
    void cellForms() {
        const struct {
            const char *keyString, *compact, *whole;
        } cases[] = {
            {"", "          ", "          "},
            {"A", "          A", "          A"},
            {"<Enter>abcdefg", " <Enter>abcdefg", " <Enter>abcdefg"},
            {"123456789012345", "123456789012345", "123456789012345"},
            {"abcde<Enter>fghijklm", "<Enter>fghijklm", "abcde<Enter>fghijklm"},
            {"  abcdefghijklmnop", "bcdefghijklmnop", "  abcdefghijklmnop"},  // blanks kept
            {"abcde\tfghijklmnop", "cde fghijklmnop", "abcde fghijklmnop"},   // no tab stops
        };
        StartedFixture f;
        for (const auto& c : cases) {
            f.state.Setup.KeyStrings[2] = c.keyString;
            f.main().selectKey(1);
            f.main().RefreshGrid();
            QCOMPARE(f.main().cellText(1, 0), QString(c.compact));
            f.main().selectKey(2);
            f.main().selectKey(3);
            QCOMPARE(f.main().cellText(1, 0), QString(c.whole));
        }
        for (const auto& [column, row] : {std::pair{-1, 0}, {0, -1}, {12, 0}, {0, 7}}) {
            f.main().UpdateGridCell(column, row, true);  // no such cell: nothing drawn
        }
        // 47 bytes a key: the string area overflows at key 37, marked as key 84, too long, is.
        const auto marked = [&](int key) {
            const auto* grid = child<QTableWidget>(f.main(), "keyGrid");
            return grid->item(keyRow(key), keyColumn(key))->data(Qt::BackgroundRole).isValid();
        };
        for (const int emptied : {0, 1}) {
            for (int key = 1; key <= kKeyCount; ++key) {
                f.state.Setup.KeyStrings[key] = key == kKeyCount
                                                    ? std::string(16, 'A')
                                                    : std::string(key == emptied ? 0 : 46, 'a');
            }
            f.main().RefreshGrid();
            QCOMPARE(QList<bool>({marked(36), marked(37), marked(38), marked(84)}),
                     QList<bool>({false, !emptied, bool(emptied), true}));
        }
    }

    // Where the screen holds the window nothing scrolls; on a smaller one (1366 x 768 at 125%)
    // the window fits it, the client area scrolls and the status bar stays in view.
    void fitsTheScreen() {
        StartedFixture f;
        auto* scroll = child<QScrollArea>(f.main(), "clientScroll");
        for (const auto& [available, scrolls] :
             {std::pair{QRect(0, 0, 1920, 1040), false}, {QRect(0, 0, 1093, 582), true}}) {
            f.main().fitInto(available);
            QCoreApplication::processEvents();
            QVERIFY(available.size().expandedTo(f.main().frameGeometry().size()) ==
                    available.size());
            QCOMPARE(scroll->verticalScrollBar()->maximum() > 0, scrolls);
            QCOMPARE(scroll->horizontalScrollBar()->maximum(), 0);
            QVERIFY(f.main().statusBar()->geometry().bottom() < f.main().height());
        }
    }

    // Half the free width picks the padding from a non-monotonic table, its last entry beyond.
    void cellPaddingTable() {
        const int spaces[] = {1, 3, 4, 6, 6, 8, 9, 10, 12, 14, 13, 15, 16, 16, 16};
        for (int pad = 0; pad < 15; ++pad) {
            QCOMPARE(CenterCellText(QString(), 2 * pad + 1), QString(spaces[pad], ' '));
        }
    }

    // Save asks for a name only for an unnamed setup, Save As always; cancelled, nothing is
    // saved. The file gets ".INI"; the replace question is about it, No asks the name again.
    void saveWritesIni() {
        const struct {
            const char *action, *named, *chosen, *saved;  // empty: unnamed, cancelled, none
            bool exists;
        } cases[] = {{"saveSetupAction", "", "b.txt", "b.INI", false},
                     {"saveSetupAction", "", "b.txt", "b.INI", true},
                     {"saveSetupAction", "x.txt", "", "x.INI", false},
                     {"saveSetupAsAction", "x.ini", "c", "c.INI", false},
                     {"saveSetupAsAction", "x.ini", "", "", false}};
        for (const auto& c : cases) {
            StartedFixture f;
            const QString named = c.named, saved = c.saved;
            f.state.SetupFileName = named.isEmpty() ? ".INI" : f.path(named);
            f.prompts.fileNames << (*c.chosen ? f.dir.filePath(c.chosen) : QString());
            if (c.exists) {
                writeSetup(f.path(saved), 5, "old");
                f.prompts.fileNames << f.prompts.fileNames[0];
                f.prompts.answers << false << true;
            }
            f.state.Setup.KeyStrings[5] = "five";
            child<QLineEdit>(f.windows->customMcr(), "preambleEdit")->setText("<F1>");
            f.trigger(c.action);
            const bool asked = QString(c.action) == "saveSetupAsAction" || named.isEmpty();
            QCOMPARE(f.prompts.texts("file"), QStringList(asked + c.exists, "saveDialog"));
            // Not the dialog: Windows' own would make "b.txt" "b.txt.ini".
            QVERIFY(!asked || f.prompts.requests[0].defaultSuffix.isEmpty());
            QCOMPARE(
                f.prompts.texts("askYesNo"),
                QStringList(2 * c.exists, saved + " already exists.\rDo you want to replace it?"));
            QCOMPARE(f.prompts.texts("information"),
                     QStringList(!saved.isEmpty(), " QK750 Setup was saved in file " + saved));
            QCOMPARE(f.state.SetupFileName, f.path(saved.isEmpty() ? named : saved));
            QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files),
                     QStringList(!saved.isEmpty(), saved));
            if (!saved.isEmpty()) {
                QVERIFY(f.main().windowTitle().endsWith(" - " + f.dir.filePath(saved)));
                const SetupRecord setup = loadedFrom(f.path(saved));
                QCOMPARE(setup.KeyStrings[5] + setup.Mcr.PreambleString, std::string("five<F1>"));
            }
        }
    }

    // A dialog for a setup without a name starts in Documents (the process's folder is the
    // program's own on Windows), later in the folder used last.
    void dialogsStartInTheFolderUsedLast() {
        WindowFixture f({}, ".INI");
        f.start();
        QDir(f.dir.path()).mkdir("sub");
        f.prompts.fileNames << f.dir.filePath("sub/a.txt");
        for (const char* action : {"saveSetupAsAction", "newSetupAction", "openSetupAction"}) {
            f.trigger(action);
        }
        QCOMPARE(f.prompts.requests.size(), 2);
        QCOMPARE(f.prompts.requests[0].directory,
                 QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
        QCOMPARE(f.prompts.requests[1].directory, f.dir.filePath("sub"));
    }

    // The grid asks for a narrow sans face, else a sans face drawn condensed; never a serif one.
    void gridFontChoice() {
        const std::pair<QStringList, QString> cases[] = {
            {{"Times New Roman", "Arial", "arial narrow", "Liberation Sans Narrow"},
             "Arial Narrow"},
            {{"Liberation Serif", "Liberation Sans Narrow"}, "Liberation Sans Narrow"},
            {{"Times New Roman", "Tahoma"}, "Tahoma condensed"},
            {{"Times New Roman"},
             QFontDatabase::systemFont(QFontDatabase::GeneralFont).family() + " condensed"},
        };
        for (const auto& [installed, expected] : cases) {
            const QFont font = gridFont(installed);
            const bool condensed = font.stretch() > 0 && font.stretch() < 100;
            QCOMPARE(font.family() + (condensed ? " condensed" : ""), expected);
            QVERIFY(font.pointSize() == 8 && font.styleHint() == QFont::SansSerif);
        }
    }

    // New, Open and closing save a named setup quietly, never dropping work that could not be
    // saved (a cancelled name dialog is no failure); E&xit saves nothing. New empties grid and
    // lines and leaves the setup unnamed.
    void newCloseAndExitSaveOrKeepTheWork() {
        const struct {
            const char* name;
            char how;           // New, Open, Close, eXit
            bool answer, kept;  // answer to "Close without saving ?"
        } cases[] = {{"missing/shop.ini", 'n', false, true}, {".INI", 'n', false, false},
                     {"shop.ini", 'n', false, false},        {"missing/shop.ini", 'c', false, true},
                     {"missing/shop.ini", 'c', true, false}, {".INI", 'c', false, false},
                     {"shop.ini", 'c', false, false},        {"shop.ini", 'x', false, false},
                     {"missing/shop.ini", 'o', false, true}};
        for (const auto& c : cases) {
            StartedFixture f;
            const QString name = c.name;
            const bool closing = c.how == 'c' || c.how == 'x';
            f.state.SetupFileName = name == ".INI" ? ".INI" : f.path(name);
            f.state.Setup.KeyStrings[7] = "seven";
            f.state.Setup.Func2Strings[7] = "f2";
            f.main().RefreshGrid();
            f.main().selectKey(7);
            f.prompts.answers << c.answer;
            if (c.how == 'x') {
                f.trigger("exitAction");
                // Exit asks the application to leave its event loop; run one so that later
                // loops do not end at once.
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
                QCoreApplication::exec();
            }
            f.prompts.fileNames << (c.how == 'o' ? f.dir.filePath("other.ini") : QString());
            c.how == 'c'   ? void(f.main().close())
            : c.how == 'n' ? f.trigger("newSetupAction")
            : c.how == 'o' ? f.trigger("openSetupAction")
                           : void();
            const QStringList failures = f.prompts.texts(closing ? "askYesNo" : "error");
            QCOMPARE(failures.size(), name.startsWith("missing") ? 1 : 0);
            QCOMPARE(f.prompts.texts("file").size(), (name == ".INI") + (c.how == 'o'));
            QVERIFY(f.prompts.texts("information").isEmpty());
            QVERIFY(failures.isEmpty() ||
                    failures[0].startsWith("Cannot save " + f.dir.filePath(name) + "\r\r"));
            QVERIFY(c.how != 'o' || failures[0].endsWith("\r\rNothing was opened."));
            QCOMPARE(loadedFrom(f.path(name)).KeyStrings[7] == "seven",
                     name == "shop.ini" && c.how != 'x');
            if (closing) {
                QVERIFY(failures.isEmpty() || failures[0].endsWith("\r\rClose without saving ?"));
                QCOMPARE(f.main().isVisible(), c.kept);
                QCOMPARE(f.state.Globals.StopWaiting, !c.kept);
                QVERIFY(!QFile::exists(f.dir.filePath(".INI")));
            } else {
                QCOMPARE(f.state.Setup.KeyStrings[7] == "seven", c.kept);
                QCOMPARE(f.main().cellText(6, 0) == QString(10, ' '), !c.kept);
                QCOMPARE(child<QLineEdit>(f.main(), "func2StringEdit")->text().isEmpty(), !c.kept);
                QCOMPARE(f.main().windowTitle().endsWith(" - .INI"), !c.kept);
            }
        }
    }

    // A setup that is not what its file holds is reported and loses its name, so no quiet save
    // overwrites the file or its INI twin; an unreadable DAT leaves the keys and the name.
    void failedInitialLoad() {
        const struct {
            const char *setupFile, *datFile, *error;  // %1: the folder
            bool unnamed;
        } cases[] = {
            {"x.KBD", "", "Invalid KBD File size", true},
            {"d.INI", "", "Cannot read %1/d.INI\r\rIs a directory", true},
            {"x.DAT", "", "Cannot read %1/x.DAT\r\rNo such file or directory", true},
            {"x.INI", "typo.dat", "Cannot read %1/typo.dat\r\rNo such file or directory", false}};
        for (const auto& c : cases) {
            WindowFixture f;
            writeSetup(f.path("x.INI"), 1, "precious");
            std::ofstream(f.path("x.KBD"), std::ios::binary) << std::string(100, 'x');
            QDir(f.dir.path()).mkdir("d.INI");
            f.state.SetupFileName = f.path(c.setupFile);
            f.state.DatImportPath = *c.datFile ? f.path(c.datFile) : std::string();
            f.start();
            QCOMPARE(f.prompts.texts("error"), QStringList{QString(c.error).arg(f.dir.path())});
            QCOMPARE(f.main().windowTitle().endsWith(" - .INI"), c.unnamed);
            f.main().close();  // an unnamed setup asks for a name: cancelled
            QCOMPARE(f.prompts.texts("file").size(), c.unnamed ? 1 : 0);
            QCOMPARE(loadedFrom(f.path("x.INI")).KeyStrings[1], std::string("precious"));
            QVERIFY(QFileInfo(f.dir.filePath("d.INI")).isDir());
        }
    }

    // Open saves the work first and shows the new setup whole before the unlock question; an
    // unreadable key list replaces nothing; a DAT or KBD's title names its INI twin.
    void openKeepsWorkAndLoadsTheChosenFile() {
        WindowFixture f;
        writeSetup(f.path("other.ini"), 2, "two");
        std::ofstream(f.path("OLD.KBD"), std::ios::binary) << "too short";
        std::ofstream(f.path("keys.DAT"), std::ios::binary) << "1,1,1,q\r\n";
        std::ofstream(f.path("NEW.KBD"), std::ios::binary) << std::string(21300, '\0');
        QDir(f.dir.path()).mkdir("bad.DAT");
        f.state.SetupFileName = f.path("shop.ini");
        f.start();
        f.state.Setup.KeyStrings[3] = "three";
        f.trigger("openSetupAction");  // cancelled
        QCOMPARE(f.state.Setup.KeyStrings[3], std::string("three"));
        child<QCheckBox>(f.main(), "lockSetupCheck")->click();
        f.main().selectKey(3);  // a locked grid takes no keys
        for (const auto key : {Qt::Key_Delete, Qt::Key_Return, Qt::Key_A}) {
            QTest::keyClick(child<QTableWidget>(f.main(), "keyGrid"), key);
        }
        QString gridAtQuestion;
        f.prompts.onAsk = [&] { gridAtQuestion = f.main().cellText(1, 0); };
        const auto open = [&](const char* name) {
            f.prompts.fileNames << f.dir.filePath(name);
            f.trigger("openSetupAction");
            return f.main().windowTitle().section(" - ", 1);
        };
        QCOMPARE(open("other.ini"), f.dir.filePath("other.ini"));  // the unlock question: Cancel
        QCOMPARE(loadedFrom(f.path("shop.ini")).KeyStrings[3], std::string("three"));
        // Locking asked nothing; unlocking asks once, and Cancel keeps the lines shut.
        QCOMPARE(f.prompts.texts("confirm"),
                 QStringList{"\rUnlock changes to Setup ?\r\r  Are you sure ?   \r\r"});
        QCOMPARE(gridAtQuestion, cellTextFor("two", true));
        QVERIFY(f.state.Setup.Mcr.LockedSetup &&
                !child<QLineEdit>(f.main(), "keyStringEdit")->isEnabled());
        QCOMPARE(f.state.Setup.KeyStrings[2] + f.state.Setup.KeyStrings[3], std::string("two"));
        open("bad.DAT");
        QCOMPARE(f.state.Setup.KeyStrings[2], std::string("two"));
        QCOMPARE(f.state.SetupFileName, f.path("other.ini"));
        QCOMPARE(open("OLD.KBD"), QString(".INI"));
        QCOMPARE(f.prompts.texts("error"),
                 (QStringList{"Cannot read " + f.dir.filePath("bad.DAT") + "\r\rIs a directory",
                              "Invalid KBD File size"}));
        QCOMPARE(f.prompts.texts("file"), QStringList(4, "openDialog"));
        QCOMPARE(open("keys.DAT"), f.dir.filePath("keys.INI"));
        QCOMPARE(open("NEW.KBD"), f.dir.filePath("NEW.INI"));
    }

    // A KBD or DAT whose INI twin was there before is not saved over it unasked: the first save
    // to it (File's, the MCR dialog's) asks once, No asks for a name. A twin that was not there
    // is written at once.
    void legacyTwinReplacedOnlyWhenAllowed() {
        const struct {
            const char* legacy;
            bool initial, twinExists, replace;
        } cases[] = {{"legacy.DAT", false, true, true},
                     {"legacy.KBD", true, true, false},
                     {"legacy.KBD", false, false, false}};
        for (const auto& c : cases) {
            WindowFixture f;
            std::ofstream(f.path("legacy.DAT"), std::ios::binary) << "1,1,1,q\r\n";
            std::ofstream(f.path("legacy.KBD"), std::ios::binary) << std::string(21300, '\0');
            c.twinExists ? writeSetup(f.path("legacy.INI"), 1, "twin") : void();
            f.state.SetupFileName = f.path(c.initial ? c.legacy : "shop.ini");
            f.start();
            f.prompts.fileNames << (c.initial ? QString() : f.dir.filePath(c.legacy));
            c.initial ? void() : f.trigger("openSetupAction");
            QCOMPARE(QFile::exists(f.dir.filePath("legacy.INI")), c.twinExists || !c.initial);
            f.prompts.answers << c.replace;
            f.trigger("saveSetupAction");
            child<QPushButton>(f.windows->customMcr(), "saveButton")->click();
            const int asked = c.twinExists ? (c.replace ? 1 : 2) : 0;
            QCOMPARE(f.prompts.texts("askYesNo"),
                     QStringList(asked, "legacy.INI already exists. Replace it?"));
            QCOMPARE(f.prompts.texts("file").count("saveDialog"), c.replace ? 0 : asked);
            QCOMPARE(loadedFrom(f.path("legacy.INI")).KeyStrings[1] == "twin",
                     c.twinExists && !c.replace);
        }
    }

    // During a run a second request, a window to open or New does nothing; a failed run
    // reports once. Either way the progress window goes, the run is over, edits come back.
    void programmingRunIgnoresSecondRequest() {
        for (const bool crc : {false, true}) {
            HidPlatformSim::Options options;
            crc ? options.faults.faults.push_back({SimFaultKind::Crc, 0x10}) : void();
            StartedFixture f(options);
            for (int key = 1; key <= kKeyCount; ++key) {
                f.state.Setup.KeyStrings[key] = "K" + std::to_string(key) + "<Enter>";
            }
            ProgressWindow& progress = f.windows->progress();
            bool secondRequested = false, opened = false;
            // A window opened during the run would hold the run up until it is closed.
            const auto closeOpened = [&] {
                for (QWidget* owned : QList<QWidget*>{&f.windows->about(), &f.windows->keyTest(),
                                                      &f.windows->customMcr()}) {
                    opened = opened || owned->isVisible();
                    owned->hide();
                }
            };
            f.waits.onWait = [&] {
                if (progress.isVisible() && !secondRequested) {
                    secondRequested = true;
                    QVERIFY(f.main().ProgrammingBusy());
                    for (const char* action : {"programAction", "aboutAction", "testKeysAction",
                                               "mcrSetupAction", "newSetupAction"}) {
                        QTimer::singleShot(0, &f.main(), closeOpened);
                        f.trigger(action);
                    }
                }
            };
            const QString status = f.main().statusText();
            f.trigger("programAction");
            QVERIFY(secondRequested && !opened && !progress.isVisible());
            QVERIFY(!f.main().ProgrammingBusy() && f.state.ProgrammingOk == !crc);
            QVERIFY(f.state.SetupFileName != ".INI" && f.main().lineSelector() == 0 &&
                    child<QAction>(f.main(), "newSetupAction")->isEnabled() &&
                    f.main().focusWidget() == child<QTableWidget>(f.main(), "keyGrid"));
            QCOMPARE(f.main().statusText(), status);  // the size note gone, blanks and all
            if (crc) {
                QCOMPARE(f.prompts.seen,
                         (QList<std::pair<QString, QString>>{
                             {"error", "CRC Error in data to USB QK750! Check connection."}}));
                continue;
            }
            QCOMPARE(f.prompts.texts("information"),
                     QStringList{QString::fromLatin1(kProgrammingCompletedText)});
            DeviceImage image{};
            const int extent = TransferExtent(BuildDeviceImage(f.state.Setup, image).setupSize);
            QVERIFY(std::equal(image.begin(), image.begin() + extent + 1,
                               f.sim->firmware().memory().begin()));
            // One run's requests: the pairs up to the extent and the closing one.
            QCOMPARE(f.sim->firmware().requestsSeen(), extent / 2 + 2);
        }
    }

    // The roll-out window over the disabled main window, one simulated keyboard after another
    // until Stop; keyboard 2 fails. A setup that does not compile opens nothing: the key is
    // shown and the box says why.
    void rollOutUntilStop() {
        StartedFixture f;
        f.state.SetupFileName = f.path("shop.ini");
        f.state.Setup.KeyStrings[1] = "Coffee<Enter>";
        std::string error;
        f.sim->setFaultPlans(*parseSimFaultPlans("2:crc@0x20", &error));
        RollOutWindow& window = f.windows->rollOut();
        auto* outcome = child<QLabel>(window, "outcomeLabel");
        QStringList seen;
        f.waits.onWait = [&] {
            const QString counts = child<QLabel>(window, "programmedLabel")->text() + ", " +
                                   child<QLabel>(window, "failedLabel")->text();
            const QString now = counts + ": " + outcome->text() + " " +
                                outcome->palette().color(QPalette::WindowText).name();
            seen << (seen.isEmpty() || seen.last() != now ? QStringList{now} : QStringList{});
            QVERIFY(window.isVisible() && !f.main().isEnabled() && !f.state.Globals.StopWaiting);
            if (counts == "Programmed: 2, Failed: 1") {
                child<QPushButton>(window, "stopButton")->click();
            }
        };
        f.trigger("rollOutAction");
        QCOMPARE(seen,
                 (QStringList{"Programmed: 0, Failed: 0:  #000000",
                              "Programmed: 1, Failed: 0: Keyboard 1: OK #008000",
                              "Programmed: 1, Failed: 1: Keyboard 2: CRC Error in data to USB "
                              "QK750! Check connection. #c00000",
                              "Programmed: 2, Failed: 1: Keyboard 3: OK #008000"}));
        QVERIFY(!window.isVisible() && f.main().isEnabled() && !f.state.Globals.StopWaiting);
        std::ifstream log(f.path("QK750.LOG"));
        const std::string lines{std::istreambuf_iterator<char>(log), {}};
        QCOMPARE(std::count(lines.begin(), lines.end(), '\n'), 3);

        f.state.Setup.KeyStrings[12] = std::string(50, 'a');
        f.waits.onWait = [&] { QFAIL("no roll-out for a setup that does not compile"); };
        f.trigger("rollOutAction");
        QCOMPARE(f.prompts.texts("error"),
                 QStringList{"Key 12 is too long !! Reduce length of key..."});
        QCOMPARE(f.main().currentKey(), 12);
    }

    void menus() {
        StartedFixture f;
        QStringList seen;
        for (QAction* top : f.main().menuBar()->actions()) {
            seen << top->text();
            for (const QAction* item : top->menu() ? top->menu()->actions() : QList{top}) {
                seen << item->text() + ' ' + item->shortcut().toString();
            }
        }
        QCOMPARE(seen, (QStringList{"&File", "&New Ctrl+N", "&Open Ctrl+O", " ", "&Save Ctrl+S",
                                    "Save &As... ", " ", "Key &Legends... ", " ", "E&xit ",
                                    "&MCR Setup", "&MCR Setup ", "Program QK750",
                                    "Program QK750 F10", "Roll Out to Each Keyboard Plugged In... ",
                                    "&Test", "&Test F7", "&About", "&About... "}));
    }

    // Open asks with an open dialog for an existing file, Save with one that may name a new one.
    void realFileDialogs() {
        for (const bool save : {true, false}) {
            QList<int> modes;
            QTimer::singleShot(0, [&modes] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                modes << (dialog ? dialog->acceptMode() : -1) << (dialog ? dialog->fileMode() : -1);
                if (dialog) {
                    dialog->reject();
                }
            });
            FileDialogRequest request;
            request.save = save;
            QtPrompts().fileName(request);
            QCOMPARE(modes, (QList<int>{save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen,
                                        save ? QFileDialog::AnyFile : QFileDialog::ExistingFile}));
        }
    }

    // Each row starts from the controls the last one left; unlocking is answered Yes.
    void showThenGather() {
        WindowFixture f;
        f.prompts.defaultAnswer = true;
        f.start();
        for (int row = 0; row < 48; ++row) {
            SetupRecType& loaded = f.state.Setup.Mcr;
            loaded.McrSetupMode = std::array{-1, 0, 1, 11, 12, 255}[row / 8];
            loaded.TransmitChecksum = (row & 4) != 0;
            loaded.BF_Checksum = (row & 2) != 0;
            loaded.McrDelay = (row & 1) * 300;
            // Stale flags that gathering must recompute, and 8-bit text.
            loaded.BuiltIn_Setup = (row % 3) == 0;
            loaded.LockedSetup = (row % 5) < 2;
            loaded.PreambleString = row % 7 == 0 ? "" : " pre\xe9<Enter> ";
            loaded.PostambleString = "<Tab>post" + std::to_string(row);
            const SetupRecType expected = mcrAsShownAndGathered(loaded);
            f.main().LoadSetupIntoDialogs();
            f.main().CollectMcrSettings();
            QVERIFY2(f.state.Setup.Mcr == expected, qPrintable(QString::number(row)));
        }
    }

    // The close button takes the choice, the first mode too, but not an empty one (0); the
    // close box takes nothing.
    void builtInDialogChoice() {
        for (const auto& [closeButton, mode] :
             {std::pair{true, 7}, {true, 1}, {true, 0}, {false, 7}}) {
            StartedFixture f;
            // A missing setup file loads the first built-in mode; start from none.
            f.state.Setup.Mcr.McrSetupMode = 0;
            f.main().LoadSetupIntoDialogs();
            McrCustomDialog& custom = f.windows->customMcr();
            McrBuiltInDialog& builtIn = f.windows->builtInMcr();
            auto* checksum = child<QCheckBox>(custom, "transmitChecksumCheck");
            checksum->setChecked(true);
            QList<int> meanwhile;  // mode, selected entry, custom dialog enabled
            QTimer::singleShot(0, &builtIn, [&] {
                meanwhile << f.state.Setup.Mcr.McrSetupMode << builtIn.selectedEntry()
                          << custom.isEnabled();
                if (mode > 0) {
                    child<QRadioButton>(builtIn, qPrintable("mcrMode" + QString::number(mode)))
                        ->click();
                }
                closeButton ? child<QPushButton>(builtIn, "closeButton")->click()
                            : void(builtIn.close());
            });
            child<QPushButton>(custom, "builtInSetupButton")->click();
            QCOMPARE(meanwhile, (QList<int>{-1, -1, 0}));
            QVERIFY(custom.isEnabled());
            const bool chosen = closeButton && mode > 0;
            QCOMPARE(child<QCheckBox>(custom, "builtInSetupCheck")->isChecked(), chosen);
            QCOMPARE(checksum->isChecked(), !chosen);
            f.main().CollectMcrSettings();
            QCOMPARE(f.state.Setup.Mcr.McrSetupMode, chosen ? mode : 0);
            QCOMPARE(f.state.Setup.Mcr.BuiltIn_Setup, chosen);
        }
    }

    void delayText() {
        const std::pair<QString, int> cases[] = {
            {" 7 ", 7}, {"", 5}, {"7ms", 5}, {"-12", -12}, {"4294967296", 5}};
        StartedFixture f;
        for (const auto& [text, gathered] : cases) {
            child<QLineEdit>(f.windows->customMcr(), "mcrDelayEdit")->setText(text);
            f.main().CollectMcrSettings();
            const int got = f.state.Setup.Mcr.McrDelay;
            QVERIFY2(got == gathered, qPrintable(text + " gave " + QString::number(got)));
        }
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
