#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include "app/mcr_settings.h"
#include "ui/CustomMCR.h"
#include "ui/FixedMCR.h"
#include "window_fixture.h"

using namespace qk750;
using namespace qk750::test;

Q_DECLARE_METATYPE(qk750::SetupRecType)

namespace {

template <class T>
T* child(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        qFatal("no control %s", name);
    }
    return found;
}

}  // namespace

class McrDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void cleanupTestCase() { m_shared.reset(); }
    void showThenGather_data();
    void showThenGather();
    void builtInModeShownWithChecksumsCleared();
    void builtInDialogCloseButtonChoosesMode();
    void builtInDialogCloseBoxChoosesNothing();
    void delayText_data();
    void delayText();
    void lockDisablesAndLabels();

private:
    std::unique_ptr<WindowFixture> m_shared;
};

void McrDialogsTest::showThenGather_data() {
    QTest::addColumn<SetupRecType>("loaded");
    int row = 0;
    for (const int mode : {-1, 0, 1, 3, 11, 12, 255, 1000}) {
        for (const int flags : {0, 1, 2, 3}) {
            for (const int delay : {0, 5, 300, -2}) {
                SetupRecType loaded;
                loaded.McrSetupMode = mode;
                loaded.TransmitChecksum = (flags & 1) != 0;
                loaded.BF_Checksum = (flags & 2) != 0;
                loaded.McrDelay = delay;
                // Stale flags that gathering must recompute, and 8-bit text.
                loaded.BuiltIn_Setup = (row % 3) == 0;
                loaded.LockedSetup = (row % 2) == 0;
                loaded.PreambleString = row % 5 == 0 ? "" : " pre\xe9<Enter> ";
                loaded.PostambleString = "<Tab>post" + std::to_string(row);
                QTest::addRow("mode %d flags %d delay %d", mode, flags, delay) << loaded;
                ++row;
            }
        }
    }
}

void McrDialogsTest::showThenGather() {
    QFETCH(SetupRecType, loaded);
    // One set of windows for all rows, so each row starts from the controls the last one
    // left. The unlock question is answered Yes, so that the lock follows the record.
    if (!m_shared) {
        m_shared = std::make_unique<WindowFixture>();
        m_shared->prompts.defaultAnswer = true;
        m_shared->start();
    }
    WindowFixture* fixture = m_shared.get();
    fixture->state.Setup.Mcr = loaded;
    fixture->main().LoadSetupIntoDialogs();
    fixture->main().CollectMcrSettings();
    QCOMPARE(fixture->state.Setup.Mcr, mcrAsShownAndGathered(loaded));
}

void McrDialogsTest::builtInModeShownWithChecksumsCleared() {
    WindowFixture fixture;
    fixture.start();
    fixture.state.Setup.Mcr.McrSetupMode = 3;
    fixture.state.Setup.Mcr.TransmitChecksum = true;
    fixture.main().LoadSetupIntoDialogs();

    TMCRCustomForm& custom = fixture.windows->customMcr();
    TFixedMcrSetupForm& builtIn = fixture.windows->builtInMcr();
    QVERIFY(child<QCheckBox>(custom, "cbBuiltInSetup")->isChecked());
    auto* checksum = child<QCheckBox>(custom, "cbTransmCheckSum");
    QVERIFY(!checksum->isChecked());
    QVERIFY(!checksum->isEnabled());
    QVERIFY(!child<QLineEdit>(custom, "edTrack2Preamble")->isEnabled());
    QCOMPARE(builtIn.selectedEntry(), 2);
    auto* entry = child<QRadioButton>(builtIn, "McrMode3");
    QVERIFY(entry->isChecked());
    QCOMPARE(entry->text(), QString::fromUtf8("3. Macabbi/Clicks - קופת חולים/קליקס/מכבי"));

    fixture.main().CollectMcrSettings();
    QCOMPARE(fixture.state.Setup.Mcr.McrSetupMode, 3);
    QVERIFY(fixture.state.Setup.Mcr.BuiltIn_Setup);
    QVERIFY(!fixture.state.Setup.Mcr.TransmitChecksum);
}

void McrDialogsTest::builtInDialogCloseButtonChoosesMode() {
    WindowFixture fixture;
    fixture.start();
    // A missing setup file loads the first built-in mode; start from none.
    fixture.state.Setup.Mcr.McrSetupMode = 0;
    fixture.main().LoadSetupIntoDialogs();
    TMCRCustomForm& custom = fixture.windows->customMcr();
    TFixedMcrSetupForm& builtIn = fixture.windows->builtInMcr();
    auto* box = child<QCheckBox>(custom, "cbBuiltInSetup");
    auto* checksum = child<QCheckBox>(custom, "cbTransmCheckSum");
    checksum->setChecked(true);
    QVERIFY(!box->isChecked());

    std::int32_t modeMeanwhile = 0;
    bool customDisabledMeanwhile = false;
    QTimer::singleShot(0, &builtIn, [&] {
        modeMeanwhile = fixture.state.Setup.Mcr.McrSetupMode;
        customDisabledMeanwhile = !custom.isEnabled();
        QCOMPARE(builtIn.selectedEntry(), -1);
        child<QRadioButton>(builtIn, "McrMode7")->click();
        child<QPushButton>(builtIn, "BitBtn2")->click();
    });
    child<QPushButton>(custom, "Button1")->click();

    QCOMPARE(modeMeanwhile, -1);
    QVERIFY(customDisabledMeanwhile);
    QVERIFY(custom.isEnabled());
    QVERIFY(box->isChecked());
    QVERIFY(!checksum->isChecked());
    fixture.main().CollectMcrSettings();
    QCOMPARE(fixture.state.Setup.Mcr.McrSetupMode, 7);
    QVERIFY(fixture.state.Setup.Mcr.BuiltIn_Setup);
}

void McrDialogsTest::builtInDialogCloseBoxChoosesNothing() {
    WindowFixture fixture;
    fixture.start();
    // A missing setup file loads the first built-in mode; start from none.
    fixture.state.Setup.Mcr.McrSetupMode = 0;
    fixture.main().LoadSetupIntoDialogs();
    TMCRCustomForm& custom = fixture.windows->customMcr();
    TFixedMcrSetupForm& builtIn = fixture.windows->builtInMcr();
    QTimer::singleShot(0, &builtIn, [&] {
        child<QRadioButton>(builtIn, "McrMode4")->click();
        builtIn.close();
    });
    child<QPushButton>(custom, "Button1")->click();

    QVERIFY(!child<QCheckBox>(custom, "cbBuiltInSetup")->isChecked());
    QCOMPARE(fixture.state.Setup.Mcr.McrSetupMode, -1);
    fixture.main().CollectMcrSettings();
    QCOMPARE(fixture.state.Setup.Mcr.McrSetupMode, 0);
    QVERIFY(!fixture.state.Setup.Mcr.BuiltIn_Setup);
}

void McrDialogsTest::delayText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("gathered");
    QTest::newRow("spaces around") << " 7 " << 7;
    QTest::newRow("empty") << "" << 5;
    QTest::newRow("not a number") << "7ms" << 5;
    QTest::newRow("negative") << "-12" << -12;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("large") << "100000" << 100000;
    QTest::newRow("beyond 32 bits") << "4294967296" << 5;
}

void McrDialogsTest::delayText() {
    QFETCH(QString, text);
    QFETCH(int, gathered);
    WindowFixture fixture;
    fixture.start();
    child<QLineEdit>(fixture.windows->customMcr(), "edMcrDelay")->setText(text);
    fixture.main().CollectMcrSettings();
    QCOMPARE(fixture.state.Setup.Mcr.McrDelay, gathered);
}

void McrDialogsTest::lockDisablesAndLabels() {
    WindowFixture fixture;
    fixture.start();
    TMCRCustomForm& custom = fixture.windows->customMcr();
    auto* preamble = child<QLineEdit>(custom, "edTrack2Preamble");
    preamble->setText("<F1>");

    child<QCheckBox>(fixture.main(), "LockSetupCheckBox")->click();

    QCOMPARE(child<QLabel>(custom, "SetLockedLabel")->text(), QString("SETUP LOCKED !!"));
    QCOMPARE(preamble->text(), QString("<F1>"));
    for (const char* name : {"edTrack2Preamble", "edTrack2Postamble", "cbTransmCheckSum",
                             "cbBF_SpecialCheckSumMode", "cbBuiltInSetup", "Keyboard1"}) {
        QVERIFY2(!child<QWidget>(custom, name)->isEnabled(), name);
    }
    QVERIFY(!child<QWidget>(fixture.windows->builtInMcr(), "McrModeRadioGroup")->isEnabled());
    for (const char* name : {"edMcrDelay", "Button1", "BitBtn1"}) {
        QVERIFY2(child<QWidget>(custom, name)->isEnabled(), name);
    }
}

QTEST_MAIN(McrDialogsTest)
#include "mcr_dialogs_test.moc"
