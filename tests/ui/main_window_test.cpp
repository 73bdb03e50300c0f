#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <fstream>
#include <sstream>

#include "keys/device_image.h"
#include "setup/setup_file.h"
#include "ui/CustomMCR.h"
#include "ui/ZQ_setup_about_u.h"
#include "ui/status.h"
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
        QTest::newRow("unnamed asks and saves beside the choice") << "Save1"
                                                                  << ""
                                                                  << "b.txt"
                                                                  << "b.INI";
        QTest::newRow("named with another extension") << "Save1"
                                                      << "x.txt"
                                                      << ""
                                                      << "x.INI";
        QTest::newRow("Save As asks when named") << "SaveAs1"
                                                 << "x.ini"
                                                 << "c"
                                                 << "c.INI";
        QTest::newRow("Save As cancelled") << "SaveAs1"
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
        child<QLineEdit>(f.windows->customMcr(), "edTrack2Preamble")->setText("<F1>");  // gathered

        f.trigger(qPrintable(action));

        const bool asked = action == "SaveAs1" || named.isEmpty();
        QCOMPARE(f.prompts.texts("file"), QStringList(asked, "SaveDialog1"));
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
        f.trigger("Save1");
        const QStringList errors = f.prompts.texts("error");
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors[0].startsWith("Cannot save ") && errors[0].contains("shop.ini"));
        QVERIFY(f.prompts.texts("information").isEmpty());
    }

    void newSavesNamedSetupSilentlyAndEmptiesGrid() {
        WindowFixture f;
        f.state.SetupFileName = f.path("shop.ini");
        f.start();
        f.state.Setup.KeyStrings[7] = "seven";
        f.main().RefreshGrid();

        f.trigger("New1");

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

        f.trigger("Open1");  // cancelled
        QCOMPARE(f.state.Setup.KeyStrings[3], std::string("three"));

        f.prompts.fileNames << f.dir.filePath("shop.INI") << f.dir.filePath("OLD.KBD");
        f.trigger("Open1");
        QCOMPARE(f.state.Setup.KeyStrings[2] + f.state.Setup.KeyStrings[3], std::string("two"));
        QCOMPARE(f.main().cellText(1, 0), cellTextFor("two", true));
        QVERIFY(f.main().windowTitle().endsWith(" - " + f.dir.filePath("shop.INI")));
        QVERIFY(f.prompts.texts("error").isEmpty());

        f.trigger("Open1");
        QCOMPARE(f.prompts.texts("error"), QStringList{"Invalid KBD File size"});
        // A DAT or KBD file is read into the keys; the title names its INI twin.
        std::ofstream(f.path("keys.DAT"), std::ios::binary) << "1,1,1,q\r\n";
        std::ofstream(f.path("NEW.KBD"), std::ios::binary) << std::string(21300, '\0');
        for (const QString name : {"keys", "NEW"}) {
            f.prompts.fileNames << f.dir.filePath(name + (name == "NEW" ? ".KBD" : ".DAT"));
            f.trigger("Open1");
            QVERIFY(f.main().windowTitle().endsWith(" - " + f.dir.filePath(name + ".INI")));
        }
        QCOMPARE(f.prompts.texts("file"), QStringList(5, "OpenDialog1"));
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
                f.trigger("Exit1");
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
        QCOMPARE(f.prompts.texts("file"), QStringList{"SaveDialog1"});
        QVERIFY(!f.main().isVisible());
        QVERIFY(!QFile::exists(f.dir.filePath(".INI")));
    }

    void unlockAsksAndCancelKeepsItLocked() {
        StartedFixture f;
        auto* lock = child<QCheckBox>(f.main(), "LockSetupCheckBox");
        auto* line = child<QLineEdit>(f.main(), "edKeyString");
        lock->click();  // locking asks nothing
        QVERIFY(f.prompts.seen.isEmpty());
        QVERIFY(f.state.Setup.Mcr.LockedSetup && !line->isEnabled());

        f.prompts.answers << false << true;
        lock->click();
        QCOMPARE(f.prompts.texts("confirm"),
                 QStringList{"\rUnlock changes to Setup ?\r\r  Are you sure ?   \r\r"});
        QVERIFY(lock->isChecked() && !line->isEnabled() && f.state.Setup.Mcr.LockedSetup);
        QVERIFY(child(f.main(), "Program1")->isEnabled());

        lock->click();
        QVERIFY(!lock->isChecked() && line->isEnabled() && !f.state.Setup.Mcr.LockedSetup);
    }

    void programmingRunIgnoresSecondRequest() {
        StartedFixture f;
        for (int key = 1; key <= kKeyCount; ++key) {
            f.state.Setup.KeyStrings[key] = "K" + std::to_string(key) + "<Enter>";
        }
        TStatusForm& progress = f.windows->status();
        bool secondRequested = false;
        f.waits.onWait = [&] {
            if (progress.isVisible() && !secondRequested) {
                secondRequested = true;
                QVERIFY(f.main().ProgrammingBusy());
                f.trigger("ProgramQK7501");
            }
        };

        f.trigger("ProgramQK7501");

        QVERIFY(secondRequested);  // so the progress window was shown
        QVERIFY(!progress.isVisible());
        QVERIFY(!f.main().ProgrammingBusy());
        QVERIFY(f.state.ProgrammingOk);
        QCOMPARE(f.prompts.texts("information"),
                 QStringList{"USB QK750 programming completed ok.                          "});
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

    void menuCaptionsAndShortcuts() {
        StartedFixture f;
        QStringList seen;
        for (const char* name : {"New1", "Open1", "Save1", "SaveAs1", "Exit1", "MCRSetup1",
                                 "ProgramQK7501", "Test1", "About1"}) {
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
        QCOMPARE(child(f.main(), "RadioGroup1")->findChildren<QRadioButton*>().size(), 2);
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
        QCOMPARE(child<QPushButton>(about, "Button1")->text(), QString("&OK"));
        for (const int key : {int(Qt::Key_Escape), int(Qt::Key_Return), 0}) {
            QTimer::singleShot(0, &about, [&] {
                if (key != 0) {
                    QTest::keyClick(&about, Qt::Key(key));
                } else {
                    child<QPushButton>(about, "Button1")->click();
                }
                if (about.isVisible()) {
                    about.hide();  // so that a failure cannot hang the test
                    QFAIL("still open");
                }
            });
            f.trigger("About1");
            QVERIFY(f.main().isEnabled());
        }
    }

    void failingRunReportsOnceAndHidesProgress() {
        HidPlatformSim::Options options;
        options.faults.faults.push_back({SimFaultKind::Crc, 0x10});
        StartedFixture f(options);
        f.state.Setup.KeyStrings[1] = "abc";

        f.trigger("ProgramQK7501");

        QCOMPARE(f.prompts.seen.size(), 1);
        QCOMPARE(f.prompts.texts("error"),
                 QStringList{"CRC Error in data to USB QK750! Check connection."});
        QVERIFY(!f.windows->status().isVisible());
        QVERIFY(!f.state.ProgrammingOk && !f.main().ProgrammingBusy());
        QVERIFY(!f.main().statusText().contains('['));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
