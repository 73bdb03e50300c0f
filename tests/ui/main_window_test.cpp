#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <fstream>
#include <sstream>

#include "app/programming_run.h"
#include "keys/device_image.h"
#include "setup/setup_file.h"
#include "ui/ZQ_setup_about_u.h"
#include "ui/status.h"
#include "usb/programming_protocol.h"
#include "window_fixture.h"

using namespace qk750;
using namespace qk750::test;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool fileExists(const std::string& path) {
    return QFile::exists(QString::fromStdString(path));
}

template <class T>
T* child(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        qFatal("no control %s", name);
    }
    return found;
}

void clickCell(TfrmSettings& window, int row, int column) {
    auto* grid = child<QTableWidget>(window, "KeyboardStringGrid");
    const QRect cell = grid->visualItemRect(grid->item(row, column));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

void trigger(TfrmSettings& window, const char* action) {
    child<QAction>(window, action)->trigger();
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void cellForms_data();
    void cellForms();
    void clickSelectsKeyAndTypingStoresIt();
    void saveUnnamedAsksAndWritesIniBesideChoice();
    void saveNamedOtherExtensionWritesIniTwin();
    void failedSaveShowsSystemErrorAndKeepsOldFile();
    void newSavesNamedSetupSilentlyAndEmptiesGrid();
    void closeSavesNamedSetupKeepingUnknownSection();
    void closeUnnamedCancelStillCloses();
    void invalidKbdSizeOnFirstActivation();
    void lockCancelKeepsItLocked();
    void removalEmptiesStatusBar();
    void programmingRunIgnoresSecondRequest();
    void failingRunReportsOnceAndHidesProgress();
    void escapeClosesAboutAndReturnsToMain();
};

void MainWindowTest::cellForms_data() {
    QTest::addColumn<QString>("keyString");
    QTest::addColumn<QString>("compact");
    QTest::addColumn<QString>("whole");
    QTest::newRow("14 characters") << "<Enter>abcdefg"
                                   << " <Enter>abcdefg"
                                   << " <Enter>abcdefg";
    QTest::newRow("empty") << ""
                           << "          "
                           << "          ";
    QTest::newRow("one character") << "A"
                                   << "          A"
                                   << "          A";
    QTest::newRow("12 characters") << "Coffee<Ent>x"
                                   << "   Coffee<Ent>x"
                                   << "   Coffee<Ent>x";
    QTest::newRow("15 characters") << "123456789012345"
                                   << "123456789012345"
                                   << "123456789012345";
    QTest::newRow("20 characters") << "abcde<Enter>fghijklm"
                                   << "<Enter>fghijklm"
                                   << "abcde<Enter>fghijklm";
    QTest::newRow("blanks kept when long") << "  abcdefghijklmnop"
                                           << "bcdefghijklmnop"
                                           << "  abcdefghijklmnop";
}

void MainWindowTest::cellForms() {
    QFETCH(QString, keyString);
    QFETCH(QString, compact);
    QFETCH(QString, whole);
    WindowFixture fixture;
    fixture.start();
    TfrmSettings& window = fixture.main();
    fixture.state.Setup.KeyStrings[2] = keyString.toLatin1().toStdString();
    window.RefreshGrid();
    QCOMPARE(window.cellText(1, 0), compact);

    // Leaving the cell draws it whole.
    window.selectKey(2);
    window.selectKey(3);
    QCOMPARE(window.cellText(1, 0), whole);
}

void MainWindowTest::clickSelectsKeyAndTypingStoresIt() {
    WindowFixture fixture;
    fixture.state.Setup.KeyStrings[36] = "  kept  ";
    fixture.start();
    TfrmSettings& window = fixture.main();
    fixture.state.Setup.KeyStrings[36] = "old";
    fixture.state.Setup.Func2Strings[36] = " <F1> ";

    clickCell(window, 2, 11);
    QCOMPARE(window.currentKey(), 36);
    QCOMPARE(child<QLabel>(window, "KeyStringLabel")->text(), QString("Key 36 String:"));
    QCOMPARE(child<QLabel>(window, "KeyStringLabel2")->text(), QString("Key 36 Func2 String:"));
    auto* line = child<QLineEdit>(window, "edKeyString");
    QCOMPARE(line->text(), QString("old"));
    QCOMPARE(child<QLineEdit>(window, "edKeyString2")->text(), QString("<F1>"));

    QTest::keyClicks(line, "xy");
    QCOMPARE(fixture.state.Setup.KeyStrings[36], std::string("oldxy"));
    QCOMPARE(window.cellText(11, 2), CenterCellText("oldxy", 15));
    // Typing went into key 36 only.
    QCOMPARE(fixture.state.Setup.KeyStrings[1], std::string());
}

void MainWindowTest::saveUnnamedAsksAndWritesIniBesideChoice() {
    WindowFixture fixture;
    fixture.start();
    TfrmSettings& window = fixture.main();
    fixture.state.SetupFileName = ".INI";
    fixture.state.Setup.KeyStrings[5] = "five";
    fixture.prompts.fileNames << QString::fromStdString(fixture.path("b.txt"));

    trigger(window, "Save1");

    const std::string saved = fixture.path("b.INI");
    QCOMPARE(fixture.state.SetupFileName, saved);
    QVERIFY(fileExists(saved));
    QVERIFY(!fileExists(fixture.path("b.txt")));
    QVERIFY(window.windowTitle().endsWith(" - " + QString::fromStdString(saved)));
    QCOMPARE(fixture.prompts.fileRequests.size(), 1);
    QCOMPARE(fixture.prompts.fileRequests[0].objectName, QString("SaveDialog1"));
    QCOMPARE(fixture.prompts.texts("information"),
             QStringList{" QK750 Setup was saved in file b.INI"});

    SetupRecord loaded;
    LoadSetupIni(loaded, saved);
    QCOMPARE(loaded.KeyStrings[5], std::string("five"));
}

void MainWindowTest::saveNamedOtherExtensionWritesIniTwin() {
    WindowFixture fixture;
    const std::string text = fixture.path("x.txt");
    fixture.state.SetupFileName = text;
    fixture.start();
    fixture.state.Setup.KeyStrings[1] = "one";

    trigger(fixture.main(), "Save1");

    QVERIFY(fixture.prompts.fileRequests.isEmpty());
    QVERIFY(fileExists(fixture.path("x.INI")));
    QCOMPARE(fixture.prompts.texts("information"),
             QStringList{" QK750 Setup was saved in file x.INI"});
}

void MainWindowTest::failedSaveShowsSystemErrorAndKeepsOldFile() {
    WindowFixture fixture;
    const std::string name = fixture.path("shop.ini");
    SetupRecord old;
    old.KeyStrings[1] = "old";
    QVERIFY(SaveSetupIni(old, name).ok);
    fixture.state.SetupFileName = name;
    fixture.start();
    fixture.state.Setup.KeyStrings[1] = "new";
    // A folder where the temporary file would go cannot be written.
    QFile::setPermissions(fixture.dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const bool folderReadOnly = !QFile(fixture.dir.path() + "/probe").open(QIODevice::WriteOnly);
    if (!folderReadOnly) {
        QFile::remove(fixture.dir.path() + "/probe");
        // Running as root: make the target unreachable instead.
        QFile::setPermissions(fixture.dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner);
        fixture.state.SetupFileName = fixture.path("missing/shop.ini");
    }

    trigger(fixture.main(), "Save1");
    QFile::setPermissions(fixture.dir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    const QStringList errors = fixture.prompts.texts("error");
    QCOMPARE(errors.size(), 1);
    QVERIFY(errors[0].contains("shop.ini"));
    QVERIFY(fixture.prompts.texts("information").isEmpty());
    SetupRecord kept;
    LoadSetupIni(kept, name);
    QCOMPARE(kept.KeyStrings[1], std::string("old"));
}

void MainWindowTest::newSavesNamedSetupSilentlyAndEmptiesGrid() {
    WindowFixture fixture;
    const std::string name = fixture.path("shop.ini");
    fixture.state.SetupFileName = name;
    fixture.start();
    fixture.state.Setup.KeyStrings[7] = "seven";
    fixture.main().RefreshGrid();

    trigger(fixture.main(), "New1");

    QVERIFY(fixture.prompts.seen.isEmpty());
    SetupRecord saved;
    LoadSetupIni(saved, name);
    QCOMPARE(saved.KeyStrings[7], std::string("seven"));
    QCOMPARE(fixture.state.Setup.KeyStrings[7], std::string());
    QCOMPARE(fixture.main().cellText(6, 0), QString(10, ' '));
    QVERIFY(fixture.main().windowTitle().endsWith(" - .INI"));
}

void MainWindowTest::closeSavesNamedSetupKeepingUnknownSection() {
    WindowFixture fixture;
    const std::string name = fixture.path("shop.ini");
    SetupRecord first;
    first.KeyStrings[3] = "three";
    QVERIFY(SaveSetupIni(first, name).ok);
    {
        std::ofstream out(name, std::ios::app | std::ios::binary);
        out << "[Till]\r\nPrinter=COM2\r\n";
    }
    fixture.state.SetupFileName = name;
    fixture.start();
    QCOMPARE(fixture.state.Setup.KeyStrings[3], std::string("three"));
    fixture.state.Setup.KeyStrings[4] = "four";

    fixture.main().close();

    QVERIFY(fixture.prompts.seen.isEmpty());
    QVERIFY(fixture.state.Globals.StopWaiting);
    const std::string text = readFile(name);
    QVERIFY(text.find("[Till]") != std::string::npos);
    QVERIFY(text.find("Printer=COM2") != std::string::npos);
    SetupRecord saved;
    LoadSetupIni(saved, name);
    QCOMPARE(saved.KeyStrings[3], std::string("three"));
    QCOMPARE(saved.KeyStrings[4], std::string("four"));
}

void MainWindowTest::closeUnnamedCancelStillCloses() {
    WindowFixture fixture;
    fixture.start();
    fixture.state.SetupFileName = ".INI";
    QVERIFY(fixture.main().isVisible());

    fixture.main().close();

    QCOMPARE(fixture.prompts.texts("file"), QStringList{"SaveDialog1"});
    QVERIFY(!fixture.main().isVisible());
    QVERIFY(!fileExists(fixture.path(".INI")));
}

void MainWindowTest::invalidKbdSizeOnFirstActivation() {
    WindowFixture fixture;
    const std::string kbd = fixture.path("OLD.KBD");
    std::ofstream(kbd, std::ios::binary) << "too short";
    fixture.state.SetupFileName = kbd;
    fixture.start();
    QCOMPARE(fixture.prompts.texts("error"), QStringList{"Invalid KBD File size"});
}

void MainWindowTest::lockCancelKeepsItLocked() {
    WindowFixture fixture;
    fixture.start();
    TfrmSettings& window = fixture.main();
    auto* lock = child<QCheckBox>(window, "LockSetupCheckBox");
    auto* line = child<QLineEdit>(window, "edKeyString");

    lock->click();
    QVERIFY(fixture.prompts.seen.isEmpty());
    QVERIFY(fixture.state.Setup.Mcr.LockedSetup);
    QVERIFY(!line->isEnabled());

    fixture.prompts.answers << false;
    lock->click();
    QCOMPARE(fixture.prompts.texts("confirm"),
             QStringList{"\rUnlock changes to Setup ?\r\r  Are you sure ?   \r\r"});
    QVERIFY(lock->isChecked());
    QVERIFY(!line->isEnabled());
    QVERIFY(fixture.state.Setup.Mcr.LockedSetup);
    QVERIFY(child<QWidget>(window, "Program1")->isEnabled());

    fixture.prompts.answers << true;
    lock->click();
    QVERIFY(!lock->isChecked());
    QVERIFY(line->isEnabled());
    QVERIFY(!fixture.state.Setup.Mcr.LockedSetup);
}

void MainWindowTest::removalEmptiesStatusBar() {
    WindowFixture fixture;
    fixture.start();
    QVERIFY(fixture.main().statusText().contains("QK750"));
    QVERIFY(fixture.main().statusText().startsWith(" **  "));
    QVERIFY(fixture.main().statusText().endsWith(" Detected **"));

    fixture.sim->unplug(fixture.sim->keyboardIndex());
    for (int i = 0; i < 10 && !fixture.main().statusText().isEmpty(); ++i) {
        QCoreApplication::processEvents();
    }
    QCOMPARE(fixture.main().statusText(), QString());
}

void MainWindowTest::programmingRunIgnoresSecondRequest() {
    WindowFixture fixture;
    fixture.start();
    TfrmSettings& window = fixture.main();
    for (int key = 1; key <= kKeyCount; ++key) {
        fixture.state.Setup.KeyStrings[key] = "K" + std::to_string(key) + "<Enter>";
    }
    TStatusForm& progress = fixture.windows->status();
    bool progressShown = false;
    bool secondRequested = false;
    fixture.waits.onWait = [&] {
        if (progress.isVisible()) {
            progressShown = true;
            if (!secondRequested) {
                secondRequested = true;
                QVERIFY(window.ProgrammingBusy());
                trigger(window, "ProgramQK7501");
            }
        }
    };

    trigger(window, "ProgramQK7501");

    QVERIFY(secondRequested);
    QVERIFY(progressShown);
    QVERIFY(!progress.isVisible());
    QVERIFY(!window.ProgrammingBusy());
    QVERIFY(fixture.state.ProgrammingOk);
    QCOMPARE(fixture.prompts.texts("information"),
             QStringList{QString::fromLatin1(kProgrammingCompletedText.data(),
                                             kProgrammingCompletedText.size())});
    QVERIFY(QString::fromLatin1(kProgrammingCompletedText.data()).endsWith(QString(26, ' ')));
    QVERIFY(!window.statusText().contains('['));

    DeviceImage image{};
    const ImageResult built = BuildDeviceImage(fixture.state.Setup, image);
    QVERIFY(built.ok());
    const auto& memory = fixture.sim->firmware().memory();
    const int extent = TransferExtent(built.setupSize);
    for (int address = 0; address <= extent; ++address) {
        QCOMPARE(memory[static_cast<std::size_t>(address)],
                 image[static_cast<std::size_t>(address)]);
    }
    // One run's requests: the pairs up to the extent and the closing one.
    QCOMPARE(fixture.sim->firmware().requestsSeen(), extent / 2 + 2);
}

void MainWindowTest::failingRunReportsOnceAndHidesProgress() {
    HidPlatformSim::Options options;
    options.faults.faults.push_back({SimFaultKind::Crc, 0x10});
    WindowFixture fixture({}, options);
    fixture.start();
    fixture.state.Setup.KeyStrings[1] = "abc";

    trigger(fixture.main(), "ProgramQK7501");

    QCOMPARE(fixture.prompts.texts("error"),
             QStringList{"CRC Error in data to USB QK750! Check connection."});
    QVERIFY(fixture.prompts.texts("information").isEmpty());
    QVERIFY(!fixture.windows->status().isVisible());
    QVERIFY(!fixture.state.ProgrammingOk);
    QVERIFY(!fixture.main().ProgrammingBusy());
    QVERIFY(!fixture.main().statusText().contains('['));
}

void MainWindowTest::escapeClosesAboutAndReturnsToMain() {
    WindowFixture fixture;
    fixture.start();
    TfrmAbout& about = fixture.windows->about();
    bool mainDisabledMeanwhile = false;
    QTimer::singleShot(0, &about, [&] {
        mainDisabledMeanwhile = !fixture.main().isEnabled();
        QVERIFY(about.isVisible());
        QTest::keyClick(&about, Qt::Key_Escape);
    });

    trigger(fixture.main(), "About1");

    QVERIFY(mainDisabledMeanwhile);
    QVERIFY(!about.isVisible());
    QVERIFY(fixture.main().isEnabled());
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
