#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <fstream>
#include <sstream>

#include "app/programming_run.h"
#include "keys/device_image.h"
#include "setup/setup_file.h"
#include "ui/about_window.h"
#include "ui/mcr_custom_dialog.h"
#include "ui/progress_window.h"
#include "ui/prompts.h"
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

// A setup file holding one key string.
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
    }

    // Half the free width picks the padding from a table that is not monotonic, its last
    // entry standing for every wider cell.
    void cellPaddingTable() {
        const int spaces[] = {1, 3, 4, 6, 6, 8, 9, 10, 12, 14, 13, 15, 16, 16, 16};
        for (int pad = 0; pad < 15; ++pad) {
            QCOMPARE(CenterCellText(QString(), 2 * pad + 1), QString(spaces[pad], ' '));
        }
    }

    void saveWritesIni_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("named");   // the setup's file; empty for an unnamed setup
        QTest::addColumn<QString>("chosen");  // the save dialog's answer; empty: cancelled
        QTest::addColumn<QString>("saved");   // empty: nothing saved
        QTest::newRow("unnamed asks and saves beside the choice") << "saveSetupAction"
                                                                  << ""
                                                                  << "b.txt"
                                                                  << "b.INI";
        QTest::newRow("named with another extension") << "saveSetupAction"
                                                      << "x.txt"
                                                      << ""
                                                      << "x.INI";
        QTest::newRow("Save As asks when named") << "saveSetupAsAction"
                                                 << "x.ini"
                                                 << "c"
                                                 << "c.INI";
        QTest::newRow("Save As cancelled") << "saveSetupAsAction"
                                           << "x.ini"
                                           << ""
                                           << "";
    }

    void saveWritesIni() {
        QFETCH(QString, action);
        QFETCH(QString, named);
        QFETCH(QString, chosen);
        QFETCH(QString, saved);
        StartedFixture f;
        f.state.SetupFileName = named.isEmpty() ? ".INI" : f.path(named);
        if (!chosen.isEmpty()) {
            f.prompts.fileNames << f.dir.filePath(chosen);
        }
        f.state.Setup.KeyStrings[5] = "five";
        child<QLineEdit>(f.windows->customMcr(), "preambleEdit")->setText("<F1>");  // gathered

        f.trigger(qPrintable(action));

        const bool asked = action == "saveSetupAsAction" || named.isEmpty();
        QCOMPARE(f.prompts.texts("file"), QStringList(asked, "saveDialog"));
        if (saved.isEmpty()) {
            QVERIFY(f.prompts.texts("information").isEmpty());
            QVERIFY(QDir(f.dir.path()).isEmpty());
            QCOMPARE(f.state.SetupFileName, f.path(named));
            return;
        }
        QCOMPARE(f.prompts.texts("information"),
                 QStringList{" QK750 Setup was saved in file " + saved});
        QCOMPARE(f.state.SetupFileName, f.path(saved));
        QVERIFY(f.main().windowTitle().endsWith(" - " + f.dir.filePath(saved)));
        QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files), QStringList{saved});
        const SetupRecord setup = loadedFrom(f.path(saved));
        QCOMPARE(setup.KeyStrings[5] + setup.Mcr.PreambleString, std::string("five<F1>"));
    }

    void failedSaveShowsTheError() {
        StartedFixture f;
        f.state.SetupFileName = f.path("missing/shop.ini");
        f.trigger("saveSetupAction");
        const QStringList errors = f.prompts.texts("error");
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors[0].startsWith("Cannot save ") && errors[0].contains("shop.ini"));
        QVERIFY(f.prompts.texts("information").isEmpty());
    }

    // New and closing never drop work that could not be saved; a cancelled name dialog
    // is not a failure.
    void failedSaveKeepsTheWork_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("closing");  // else New
        QTest::addColumn<bool>("answer");   // to "Close without saving ?"
        QTest::addColumn<bool>("kept");     // the setup, and the window when closing
        QTest::newRow("New, save failed") << "missing/shop.ini" << false << false << true;
        QTest::newRow("New, name dialog cancelled") << ".INI" << false << false << false;
        QTest::newRow("close, No") << "missing/shop.ini" << true << false << true;
        QTest::newRow("close, Yes") << "missing/shop.ini" << true << true << false;
    }

    void failedSaveKeepsTheWork() {
        QFETCH(QString, name);
        QFETCH(bool, closing);
        QFETCH(bool, answer);
        QFETCH(bool, kept);
        StartedFixture f;
        f.state.SetupFileName = name == ".INI" ? ".INI" : f.path(name);
        f.state.Setup.KeyStrings[7] = "seven";
        f.prompts.answers << answer;
        if (closing) {
            f.main().close();
        } else {
            f.trigger("newSetupAction");
        }
        const QStringList failures = f.prompts.texts(closing ? "askYesNo" : "error");
        QCOMPARE(failures.size(), name == ".INI" ? 0 : 1);
        if (closing) {
            QVERIFY(failures[0].startsWith("Cannot save " + f.dir.filePath(name) + "\r\r"));
            QVERIFY(failures[0].endsWith("\r\rClose without saving ?"));
            QCOMPARE(f.main().isVisible(), kept);
            QCOMPARE(f.state.Globals.StopWaiting, !kept);
        } else {
            QCOMPARE(f.state.Setup.KeyStrings[7] == "seven", kept);
        }
    }

    // A setup that is not what its file holds is reported and loses its name, so that no
    // quiet save writes it over the file or its INI twin; a DAT that cannot be read leaves
    // the keys and the name.
    void failedInitialLoad_data() {
        QTest::addColumn<QString>("setupFile");
        QTest::addColumn<QString>("datFile");
        QTest::addColumn<QString>("error");  // %1: the folder
        QTest::addColumn<bool>("unnamed");
        QTest::newRow("wrong-size KBD") << "x.KBD"
                                        << ""
                                        << "Invalid KBD File size" << true;
        QTest::newRow("KBD that is a folder") << "d.KBD"
                                              << ""
                                              << "Cannot read %1/d.KBD\r\rIs a directory" << true;
        QTest::newRow("INI that is a folder") << "d.INI"
                                              << ""
                                              << "Cannot read %1/d.INI\r\rIs a directory" << true;
        QTest::newRow("missing DAT setup file")
            << "x.DAT"
            << ""
            << "Cannot read %1/x.DAT\r\rNo such file or directory" << true;
        QTest::newRow("missing DAT")
            << "x.INI"
            << "typo.dat"
            << "Cannot read %1/typo.dat\r\rNo such file or directory" << false;
    }

    void failedInitialLoad() {
        QFETCH(QString, setupFile);
        QFETCH(QString, datFile);
        QFETCH(QString, error);
        QFETCH(bool, unnamed);
        WindowFixture f;
        writeSetup(f.path("x.INI"), 1, "precious");
        std::ofstream(f.path("x.KBD"), std::ios::binary) << std::string(100, 'x');
        QDir(f.dir.path()).mkdir("d.KBD");
        QDir(f.dir.path()).mkdir("d.INI");
        f.state.SetupFileName = f.path(setupFile);
        if (!datFile.isEmpty()) {
            f.state.DatImportPath = f.path(datFile);
        }
        f.start();
        QCOMPARE(f.prompts.texts("error"), QStringList{error.arg(f.dir.path())});
        QCOMPARE(f.main().windowTitle().endsWith(" - .INI"), unnamed);
        f.main().close();  // an unnamed setup asks for a name: cancelled
        QCOMPARE(f.prompts.texts("file").size(), unnamed ? 1 : 0);
        QCOMPARE(loadedFrom(f.path("x.INI")).KeyStrings[1], std::string("precious"));
        QVERIFY(QFileInfo(f.dir.filePath("d.INI")).isDir());
    }

    void newSavesNamedSetupSilentlyAndEmptiesGrid() {
        WindowFixture f;
        f.state.SetupFileName = f.path("shop.ini");
        f.start();
        f.state.Setup.KeyStrings[7] = "seven";
        f.state.Setup.Func2Strings[7] = "f2";
        f.main().RefreshGrid();
        f.main().selectKey(7);

        f.trigger("newSetupAction");
        QCOMPARE(child<QLineEdit>(f.main(), "func2StringEdit")->text(), QString());

        QVERIFY(f.prompts.seen.isEmpty());
        QCOMPARE(loadedFrom(f.path("shop.ini")).KeyStrings[7], std::string("seven"));
        QCOMPARE(f.state.Setup.KeyStrings[7], std::string());
        QCOMPARE(f.main().cellText(6, 0), QString(10, ' '));
        QVERIFY(f.main().windowTitle().endsWith(" - .INI"));
    }

    void openLoadsTheChosenFile() {
        StartedFixture f;
        writeSetup(f.path("shop.INI"), 2, "two");
        std::ofstream(f.path("OLD.KBD"), std::ios::binary) << "too short";
        f.state.Setup.KeyStrings[3] = "three";

        f.trigger("openSetupAction");  // cancelled
        QCOMPARE(f.state.Setup.KeyStrings[3], std::string("three"));

        f.prompts.fileNames << f.dir.filePath("shop.INI") << f.dir.filePath("OLD.KBD");
        f.trigger("openSetupAction");
        QCOMPARE(f.state.Setup.KeyStrings[2] + f.state.Setup.KeyStrings[3], std::string("two"));
        QCOMPARE(f.main().cellText(1, 0), cellTextFor("two", true));
        QVERIFY(f.main().windowTitle().endsWith(" - " + f.dir.filePath("shop.INI")));
        QVERIFY(f.prompts.texts("error").isEmpty());

        f.trigger("openSetupAction");
        QCOMPARE(f.prompts.texts("error"), QStringList{"Invalid KBD File size"});
        QVERIFY(f.main().windowTitle().endsWith(" - .INI"));
        QCOMPARE(f.prompts.texts("file"), QStringList(3, "openDialog"));
        // A DAT or KBD file is read into the keys; the title names its INI twin.
        std::ofstream(f.path("keys.DAT"), std::ios::binary) << "1,1,1,q\r\n";
        std::ofstream(f.path("NEW.KBD"), std::ios::binary) << std::string(21300, '\0');
        for (const QString name : {"keys", "NEW"}) {
            f.prompts.fileNames << f.dir.filePath(name + (name == "NEW" ? ".KBD" : ".DAT"));
            f.trigger("openSetupAction");
            QVERIFY(f.main().windowTitle().endsWith(" - " + f.dir.filePath(name + ".INI")));
        }
    }

    // Open saves the work first and shows the new setup whole, asking the unlock question
    // once; a key list that cannot be read replaces nothing.
    void openKeepsWorkAndAsksOnce() {
        WindowFixture f;
        writeSetup(f.path("other.ini"), 2, "two");
        f.state.SetupFileName = f.path("shop.ini");
        f.start();
        f.state.Setup.KeyStrings[3] = "three";
        child<QCheckBox>(f.main(), "lockSetupCheck")->click();
        QString gridAtQuestion;
        f.prompts.onAsk = [&] { gridAtQuestion = f.main().cellText(1, 0); };
        f.prompts.fileNames << f.dir.filePath("other.ini");
        f.trigger("openSetupAction");  // the unlock question: Cancel
        QCOMPARE(loadedFrom(f.path("shop.ini")).KeyStrings[3], std::string("three"));
        QCOMPARE(f.prompts.texts("confirm").size(), 1);
        QCOMPARE(gridAtQuestion, cellTextFor("two", true));
        QVERIFY(f.state.Setup.Mcr.LockedSetup);

        QDir(f.dir.path()).mkdir("keys.DAT");
        f.prompts.fileNames << f.dir.filePath("keys.DAT");
        f.trigger("openSetupAction");
        QCOMPARE(f.prompts.texts("error"),
                 QStringList{"Cannot read " + f.dir.filePath("keys.DAT") + "\r\rIs a directory"});
        QCOMPARE(f.state.Setup.KeyStrings[2], std::string("two"));
        QCOMPARE(f.state.SetupFileName, f.path("other.ini"));
    }

    // The Save dialog's name may get ".INI": the question is about the file written.
    void saveAsksAboutTheFileItWrites() {
        StartedFixture f;
        writeSetup(f.path("b.INI"), 1, "old");
        f.state.SetupFileName = ".INI";
        f.state.Setup.KeyStrings[1] = "new";
        f.prompts.fileNames << f.dir.filePath("b.txt") << f.dir.filePath("b.txt");
        f.prompts.answers << false << true;  // No: the dialog comes back
        f.trigger("saveSetupAction");
        QCOMPARE(f.prompts.texts("askYesNo"),
                 QStringList(2, "b.INI already exists.\rDo you want to replace it?"));
        QCOMPARE(f.prompts.texts("file").size(), 2);
        QCOMPARE(loadedFrom(f.path("b.INI")).KeyStrings[1], std::string("new"));
    }

    // Closing saves the named setup quietly, keeping what the program does not know; E&xit
    // ends without that save.
    void closeSavesNamedSetupExitDoesNot() {
        for (const bool exit : {false, true}) {
            WindowFixture f;
            const std::string name = f.path("shop.ini");
            writeSetup(name, 3, "three");
            std::ofstream(name, std::ios::app | std::ios::binary) << "[Till]\r\nPrinter=COM2\r\n";
            f.state.SetupFileName = name;
            f.start();
            f.state.Setup.KeyStrings[4] = "four";
            if (exit) {
                f.trigger("exitAction");
                // Exit asks the application to leave its event loop; run one so that later
                // tests' loops do not end at once.
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
                QCoreApplication::exec();
            } else {
                f.main().close();
            }
            QVERIFY(f.prompts.seen.isEmpty() && !f.main().isVisible());
            std::ostringstream text;
            text << std::ifstream(name, std::ios::binary).rdbuf();
            QVERIFY(text.str().find("[Till]\r\nPrinter=COM2") != std::string::npos);
            const SetupRecord saved = loadedFrom(name);
            QCOMPARE(saved.KeyStrings[3] + saved.KeyStrings[4], exit ? "three" : "threefour");
        }
    }

    void closeUnnamedCancelStillCloses() {
        StartedFixture f;
        f.state.SetupFileName = ".INI";
        f.main().close();
        QCOMPARE(f.prompts.texts("file"), QStringList{"saveDialog"});
        QVERIFY(!f.main().isVisible());
        QVERIFY(!QFile::exists(f.dir.filePath(".INI")));
    }

    void unlockAsksAndCancelKeepsItLocked() {
        StartedFixture f;
        auto* lock = child<QCheckBox>(f.main(), "lockSetupCheck");
        auto* line = child<QLineEdit>(f.main(), "keyStringEdit");
        lock->click();  // locking asks nothing
        QVERIFY(f.prompts.seen.isEmpty());
        QVERIFY(f.state.Setup.Mcr.LockedSetup && !line->isEnabled());

        f.prompts.answers << false << true;
        lock->click();
        QCOMPARE(f.prompts.texts("confirm"),
                 QStringList{"\rUnlock changes to Setup ?\r\r  Are you sure ?   \r\r"});
        QVERIFY(lock->isChecked() && !line->isEnabled() && f.state.Setup.Mcr.LockedSetup);
        QVERIFY(child(f.main(), "programButton")->isEnabled());

        lock->click();
        QVERIFY(!lock->isChecked() && line->isEnabled() && !f.state.Setup.Mcr.LockedSetup);
    }

    void programmingRunIgnoresSecondRequest() {
        StartedFixture f;
        for (int key = 1; key <= kKeyCount; ++key) {
            f.state.Setup.KeyStrings[key] = "K" + std::to_string(key) + "<Enter>";
        }
        ProgressWindow& progress = f.windows->progress();
        bool secondRequested = false;
        bool opened = false;
        // A window opened during the run would hold the run up until it is closed.
        const auto closeOpened = [&] {
            for (QWidget* owned : f.ownedWindows()) {
                opened = opened || owned->isVisible();
                owned->hide();
            }
        };
        f.waits.onWait = [&] {
            if (progress.isVisible() && !secondRequested) {
                secondRequested = true;
                QVERIFY(f.main().ProgrammingBusy());
                for (const char* action :
                     {"programAction", "aboutAction", "testKeysAction", "mcrSetupAction"}) {
                    QTimer::singleShot(0, &f.main(), closeOpened);
                    f.trigger(action);
                }
            }
        };

        f.trigger("programAction");

        QVERIFY(secondRequested);  // so the progress window was shown
        QVERIFY(!opened);
        QVERIFY(!progress.isVisible());
        QCoreApplication::processEvents();
        QCOMPARE(progress.progressBar()->value(), progress.progressBar()->maximum());
        QVERIFY(!f.main().ProgrammingBusy());
        QVERIFY(f.state.ProgrammingOk);
        QCOMPARE(f.prompts.texts("information"),
                 QStringList{QString::fromLatin1(kProgrammingCompletedText)});
        QVERIFY(!f.main().statusText().contains('['));
        DeviceImage image{};
        const ImageResult built = BuildDeviceImage(f.state.Setup, image);
        QVERIFY(built.ok());
        const int extent = TransferExtent(built.setupSize);
        QVERIFY(std::equal(image.begin(), image.begin() + extent + 1,
                           f.sim->firmware().memory().begin()));
        // One run's requests: the pairs up to the extent and the closing one.
        QCOMPARE(f.sim->firmware().requestsSeen(), extent / 2 + 2);
    }

    void ownedWindowBelongsToMainAndReturnsFocus_data() {
        QTest::addColumn<QString>("action");
        for (const char* action : {"aboutAction", "testKeysAction", "mcrSetupAction"}) {
            QTest::newRow(action) << QString(action);
        }
    }

    void ownedWindowBelongsToMainAndReturnsFocus() {
        QFETCH(QString, action);
        StartedFixture f;
        auto* line = child<QLineEdit>(f.main(), "func2StringEdit");
        line->setFocus();
        QWindow* owner = nullptr;
        QTimer::singleShot(0, &f.main(), [&] {
            for (QWidget* owned : f.ownedWindows()) {
                if (owned->isVisible()) {
                    owner = owned->windowHandle()->transientParent();
                    owned->hide();
                }
            }
        });
        f.trigger(qPrintable(action));
        QCOMPARE(owner, f.main().windowHandle());
        QVERIFY(f.main().isEnabled());
        QCOMPARE(f.main().focusWidget(), line);
    }

    void mainWindowCentredOnScreen() {
        StartedFixture f;
        // Up to the frame, which is not known before the window is first shown.
        const QPoint offCentre =
            f.main().frameGeometry().center() - f.main().screen()->availableGeometry().center();
        QVERIFY2(offCentre.manhattanLength() <= 10, qPrintable(QString::number(offCentre.x())));
    }

    void menuCaptionsAndShortcuts() {
        StartedFixture f;
        QStringList seen;
        for (const char* name :
             {"newSetupAction", "openSetupAction", "saveSetupAction", "saveSetupAsAction",
              "exitAction", "mcrSetupAction", "programAction", "testKeysAction", "aboutAction"}) {
            const QAction* action = child<QAction>(f.main(), name);
            seen << action->text() + ' ' + action->shortcut().toString();
        }
        QCOMPARE(seen, (QStringList{"&New Ctrl+N", "&Open Ctrl+O", "&Save Ctrl+S", "Save &As... ",
                                    "E&xit ", "&MCR Setup ", "Program QK750 F10", "&Test F7",
                                    "&About... "}));
        QStringList menus;
        for (const QAction* top : f.main().menuBar()->actions()) {
            menus << top->text();
        }
        QCOMPARE(menus, (QStringList{"&File", "&MCR Setup", "Program QK750", "&Test", "&About"}));
        // Two lines to choose between: the key string and the Func2 string.
        QCOMPARE(child(f.main(), "lineSelector")->findChildren<QRadioButton*>().size(), 2);
    }

    // The production prompts: Open asks with an open dialog for an existing file, Save with a
    // save dialog that may name a new one.
    void realFileDialogs() {
        QtPrompts prompts;
        for (const bool save : {true, false}) {
            FileDialogRequest request;
            request.save = save;
            QList<int> modes;
            QTimer::singleShot(0, [&] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                modes << dialog->acceptMode() << dialog->fileMode();
                dialog->reject();
            });
            QCOMPARE(prompts.fileName(request), QString());
            const QList<int> expected = {save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen,
                                         save ? QFileDialog::AnyFile : QFileDialog::ExistingFile};
            QCOMPARE(modes, expected);
        }
    }

    void aboutBoxClosesWithEscEnterAndOk() {
        StartedFixture f;
        QWidget& about = f.windows->about();
        QCOMPARE(child<QPushButton>(about, "okButton")->text(), QString("&OK"));
        for (const int key : {int(Qt::Key_Escape), int(Qt::Key_Return), 0}) {
            QTimer::singleShot(0, &about, [&] {
                if (key != 0) {
                    QTest::keyClick(&about, Qt::Key(key));
                } else {
                    child<QPushButton>(about, "okButton")->click();
                }
                if (about.isVisible()) {
                    about.hide();  // so that a failure cannot hang the test
                    QFAIL("still open");
                }
            });
            f.trigger("aboutAction");
            QVERIFY(f.main().isEnabled());
        }
    }

    void failingRunReportsOnceAndHidesProgress() {
        HidPlatformSim::Options options;
        options.faults.faults.push_back({SimFaultKind::Crc, 0x10});
        StartedFixture f(options);
        f.state.Setup.KeyStrings[1] = "abc";

        f.trigger("programAction");

        QCOMPARE(f.prompts.seen.size(), 1);
        QCOMPARE(f.prompts.texts("error"),
                 QStringList{"CRC Error in data to USB QK750! Check connection."});
        QVERIFY(!f.windows->progress().isVisible());
        QVERIFY(!f.state.ProgrammingOk && !f.main().ProgrammingBusy());
        QVERIFY(!f.main().statusText().contains('['));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
