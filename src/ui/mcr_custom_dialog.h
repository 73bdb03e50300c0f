#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include <functional>

class QCheckBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qk750 {

struct ProgramState;
struct SetupRecType;
class Prompts;
class McrBuiltInDialog;
class OnScreenKeyboard;

// The custom MCR dialog: preamble and postamble of track 2, checksum options, data delay,
// and the switch to a built-in reader mode. Its close box keeps the changes; Esc leaves
// without them; Enter outside the two lines presses "&Save".
class McrCustomDialog : public QDialog {
    Q_OBJECT

public:
    McrCustomDialog(ProgramState& state, Prompts& prompts, QWidget* owner = nullptr);

    // The built-in dialog that "Built-In Setup" opens; it is created after this one.
    void setBuiltInDialog(McrBuiltInDialog* builtIn) { m_builtIn = builtIn; }

    // Shows the MCR part of a loaded record; a delay of 0 becomes 5 in the record first.
    void showSettings(SetupRecType& mcr);
    // Gathers everything but the lock into the record.
    void gatherSettings(SetupRecType& mcr) const;

    // Runs when the built-in box is clicked, changed, or loses the focus.
    void applyBuiltInChoice();
    // The "Built-In Setup" button.
    void showBuiltInSetup();
    // "&Save": gathers, writes the setup file, hides the dialog.
    void saveAndClose();

    void setEditingEnabled(bool enabled);
    void setLocked(bool locked);
    // Appends at the end of the preamble (target 2) or postamble (target 3) line.
    void appendToLine(int target, const QString& text);

    // Set by the main window: its gathering of the whole MCR part and the lock.
    std::function<void()> collectMcrSettings;
    // Set by the main window: where the on-screen keyboard's text goes.
    std::function<void(const QString&)> appendToActiveLine;
    // Set by the main window: whether saving must ask first (the setup has no name yet, or
    // its file was there before a KBD or DAT took its name), and the save that asks; false
    // when nothing was written.
    std::function<bool()> saveAsksFirst;
    std::function<bool()> saveAskingFirst;

    // What the hint under the lines says about the line being edited (whole text).
    QString lineHintText() const;

signals:
    // The preamble, the postamble or the built-in choice changed.
    void linesChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the controls held when the dialog was opened.
    struct Shown {
        bool builtIn = false;
        int builtInEntry = -1;
        int mode = 0;
        QString delay;
        bool transmitChecksum = false;
        bool bfChecksum = false;
        QString preamble;
        QString postamble;
    };

    bool lineKeyDown(QLineEdit& line, const QKeyEvent& key);
    void updateLineHint();

    QPointer<QWidget> m_owner;
    ProgramState& m_state;
    Prompts& m_prompts;
    McrBuiltInDialog* m_builtIn = nullptr;
    QCheckBox* m_builtInSetupCheck;
    QPushButton* m_builtInSetupButton;
    QLineEdit* m_mcrDelayEdit;
    QCheckBox* m_transmitChecksumCheck;
    QCheckBox* m_bfChecksumCheck;
    QLabel* m_lockedLabel;
    QLineEdit* m_preambleEdit;
    QLineEdit* m_postambleEdit;
    QLabel* m_lineHintLabel;
    // Why a character was not taken, shown while the line it was refused in is the target.
    QString m_refusedHint;
    const QLineEdit* m_refusedIn = nullptr;
    OnScreenKeyboard* m_keyboard;
    QPushButton* m_saveButton;
    Shown m_opened;
};

}  // namespace qk750
