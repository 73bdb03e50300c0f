#pragma once

#include <QPointer>
#include <QWidget>

class QButtonGroup;
class QGroupBox;

namespace qk750 {

struct ProgramState;

// The built-in MCR dialog: eleven fixed reader modes. "&Ok" and "Close" both store the
// chosen mode (0 when none) in the setup record and hide it; the close box only hides it.
class McrBuiltInDialog : public QWidget {
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

private:
    QPointer<QWidget> m_owner;
    ProgramState& m_state;
    QGroupBox* m_mcrModeList;
    QButtonGroup* m_modeButtons;
};

}  // namespace qk750
