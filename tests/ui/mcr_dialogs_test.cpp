#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include "app/mcr_settings.h"
#include "ui/mcr_builtin_dialog.h"
#include "ui/mcr_custom_dialog.h"
#include "window_fixture.h"

using namespace qk750;
using namespace qk750::test;

class McrDialogsTest : public QObject {
    Q_OBJECT

private slots:
    // One set of windows for all rows, so each row starts from the controls the last one
    // left. The unlock question is answered Yes, so that the lock follows the record.
    void showThenGather() {
        WindowFixture f;
        f.prompts.defaultAnswer = true;
        f.start();
        int row = 0;
        for (const int mode : {-1, 0, 1, 11, 12, 255}) {
            for (const int checksums : {0, 1, 2, 3}) {
                for (const int delay : {0, 300}) {
                    SetupRecType& loaded = f.state.Setup.Mcr;
                    loaded.McrSetupMode = mode;
                    loaded.TransmitChecksum = (checksums & 1) != 0;
                    loaded.BF_Checksum = (checksums & 2) != 0;
                    loaded.McrDelay = delay;
                    // Stale flags that gathering must recompute, and 8-bit text.
                    loaded.BuiltIn_Setup = (row % 3) == 0;
                    loaded.LockedSetup = (row % 2) == 0;
                    loaded.PreambleString = row % 5 == 0 ? "" : " pre\xe9<Enter> ";
                    loaded.PostambleString = "<Tab>post" + std::to_string(row++);
                    const SetupRecType expected = mcrAsShownAndGathered(loaded);
                    f.main().LoadSetupIntoDialogs();
                    f.main().CollectMcrSettings();
                    QVERIFY2(f.state.Setup.Mcr == expected, qPrintable(QString::number(row)));
                }
            }
        }
    }

    // The close button takes the choice, the first mode too; the close box takes nothing.
    void builtInDialogChoice() {
        for (const auto& row : {std::pair{true, 7}, {true, 1}, {false, 7}}) {
            const bool closeButton = row.first;
            const int mode = row.second;
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
                child<QRadioButton>(builtIn, qPrintable("mcrMode" + QString::number(mode)))
                    ->click();
                closeButton ? child<QPushButton>(builtIn, "closeButton")->click()
                            : void(builtIn.close());
            });
            child<QPushButton>(custom, "builtInSetupButton")->click();
            QCOMPARE(meanwhile, (QList<int>{-1, -1, 0}));
            QVERIFY(custom.isEnabled());
            QCOMPARE(child<QCheckBox>(custom, "builtInSetupCheck")->isChecked(), closeButton);
            QCOMPARE(checksum->isChecked(), !closeButton);
            f.main().CollectMcrSettings();
            QCOMPARE(f.state.Setup.Mcr.McrSetupMode, closeButton ? mode : 0);
            QCOMPARE(f.state.Setup.Mcr.BuiltIn_Setup, closeButton);
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

QTEST_MAIN(McrDialogsTest)
#include "mcr_dialogs_test.moc"
