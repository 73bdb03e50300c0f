#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <fstream>
#include <sstream>

#include "app/programming_run.h"
#include "keys/device_image.h"
#include "setup/setup_file.h"
#include "ui/progress_window.h"
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
    void cellForms_data() {
        QTest::addColumn<QString>("keyString");
        QTest::addColumn<QString>("compact");
        QTest::addColumn<QString>("whole");  // once the cell has been left
        const auto row = [](const char* name, const char* key, const char* compact,
                            const char* whole) {
            QTest::newRow(name) << QString(key) << QString(compact) << QString(whole);
        };
        row("empty", "", "          ", "          ");
        row("one character", "A", "          A", "          A");
        row("12 characters", "Coffee<Ent>x", "   Coffee<Ent>x", "   Coffee<Ent>x");
        row("14 characters", "<Enter>abcdefg", " <Enter>abcdefg", " <Enter>abcdefg");
        row("15 characters", "123456789012345", "123456789012345", "123456789012345");
        row("20 characters", "abcde<Enter>fghijklm", "<Enter>fghijklm", "abcde<Enter>fghijklm");
        row("blanks kept when long", "  abcdefghijklmnop", "bcdefghijklmnop", "  abcdefghijklmnop");
    }

    void cellForms() {
        QFETCH(QString, keyString);
        QFETCH(QString, compact);
        QFETCH(QString, whole);
        StartedFixture f;
        f.state.Setup.KeyStrings[2] = keyString.toLatin1().toStdString();
        f.main().RefreshGrid();
        QCOMPARE(f.main().cellText(1, 0), compact);
        f.main().selectKey(2);
        f.main().selectKey(3);
        QCOMPARE(f.main().cellText(1, 0), whole);
    }

    void saveWritesIni_data() {
        QTest::addColumn<QString>("named");   // the setup's file; empty for an unnamed setup
        QTest::addColumn<QString>("chosen");  // the save dialog's answer; empty when not asked
        QTest::addColumn<QString>("saved");
        QTest::newRow("unnamed asks and saves beside the choice") << ""
                                                                  << "b.txt"
                                                                  << "b.INI";
        QTest::newRow("named with another extension") << "x.txt"
                                                      << ""
                                                      << "x.INI";
    }

    void saveWritesIni() {
        QFETCH(QString, named);
        QFETCH(QString, chosen);
        QFETCH(QString, saved);
        StartedFixture f;
        f.state.SetupFileName = named.isEmpty() ? ".INI" : f.path(named);
        f.prompts.fileNames << f.dir.filePath(chosen);
        f.state.Setup.KeyStrings[5] = "five";

        f.trigger("saveSetupAction");

        QCOMPARE(f.prompts.texts("file"), QStringList(named.isEmpty(), "saveDialog"));
        QCOMPARE(f.prompts.texts("information"),
                 QStringList{" QK750 Setup was saved in file " + saved});
        QCOMPARE(f.state.SetupFileName, f.path(saved));
        QVERIFY(f.main().windowTitle().endsWith(" - " + f.dir.filePath(saved)));
        QVERIFY(!QFile::exists(f.dir.filePath(named + chosen)));
        QCOMPARE(loadedFrom(f.path(saved)).KeyStrings[5], std::string("five"));
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

    void closeSavesNamedSetupKeepingUnknownSection() {
        WindowFixture f;
        const std::string name = f.path("shop.ini");
        writeSetup(name, 3, "three");
        std::ofstream(name, std::ios::app | std::ios::binary) << "[Till]\r\nPrinter=COM2\r\n";
        f.state.SetupFileName = name;
        f.start();
        f.state.Setup.KeyStrings[4] = "four";

        f.main().close();

        QVERIFY(f.prompts.seen.isEmpty());
        QVERIFY(f.state.Globals.StopWaiting);
        std::ostringstream text;
        text << std::ifstream(name, std::ios::binary).rdbuf();
        QVERIFY(text.str().find("[Till]\r\nPrinter=COM2") != std::string::npos);
        const SetupRecord saved = loadedFrom(name);
        QCOMPARE(saved.KeyStrings[3] + saved.KeyStrings[4], std::string("threefour"));
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

    void removalEmptiesStatusBar() {
        StartedFixture f;
        QVERIFY(f.main().statusText().startsWith(" **  "));
        QVERIFY(f.main().statusText().endsWith(" Detected **"));
        f.sim->unplug(f.sim->keyboardIndex());
        for (int i = 0; i < 10 && !f.main().statusText().isEmpty(); ++i) {
            QCoreApplication::processEvents();
        }
        QCOMPARE(f.main().statusText(), QString());
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
