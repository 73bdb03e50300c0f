#pragma once

#include <QDialog>
#include <QPointer>

class QButtonGroup;
class QGroupBox;
class QPushButton;

namespace qk750 {

struct ProgramState;

// The built-in MCR dialog: eleven fixed reader modes. "&Ok" and "Close" both store the
// chosen mode (0 when none) in the setup record and hide it; the close box and Esc only
// hide it. Enter presses "&Ok"; the arrow keys choose a mode.
class McrBuiltInDialog : public QDialog {
    Q_OBJECT

public:
    McrBuiltInDialog(ProgramState& state, QWidget* owner = nullptr);

    // -1 when no entry is selected.
    int selectedEntry() const;
    void selectEntry(int entry);
    // The accept step of both buttons.
    void acceptChoice();
    void setEditingEnabled(bool enabled);

    static QString entryText(int entry);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_owner;
    ProgramState& m_state;
    QGroupBox* m_mcrModeList;
    QButtonGroup* m_modeButtons;
    QPushButton* m_okButton;
};

}  // namespace qk750
