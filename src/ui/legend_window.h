#pragma once

#include <QDialog>
#include <QPointer>
#include <QRectF>
#include <QString>

#include <memory>

#include "setup/program_state.h"

class QDoubleSpinBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qk750 {

class LegendSheet;
class LegendSheetView;
class Prompts;

// "Key Legends": the sheet of keycap inserts as it will print, each insert editable in
// place (a click or Enter edits, Esc cancels, Delete gives back the derived legends), the
// inserts' size and gap, Print and Export PDF. Legends a person set are kept in the setup
// and shown on a blue ground; a legend cut to fit is framed in orange. An owned window:
// shown without being modal while its owner waits.
class LegendWindow : public QDialog {
    Q_OBJECT

public:
    LegendWindow(ProgramState& state, Prompts& prompts, QWidget* owner = nullptr);
    ~LegendWindow() override;

    // Lays the sheet out again from the setup, whose keys and name may have changed.
    void refresh();

    const LegendSheet& sheet() const { return *m_sheet; }
    int selectedKey() const;
    void selectKey(int key);
    // Where the insert lies on the sheet's widget.
    QRectF insertOnScreen(int key) const;
    // Starts editing the selected insert in place.
    void editSelected();
    // Takes the edit into the setup, or throws it away.
    void finishEditing(bool keep);
    bool editing() const;
    QString statusText() const;

    void printSheet();
    void exportPdf();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void rebuildSheet();
    void showStatus();
    void clearOwnLegends(int key);
    QString setupName() const;
    bool locked() const;

    ProgramState& m_state;
    Prompts& m_prompts;
    QPointer<QWidget> m_owner;
    std::unique_ptr<LegendSheet> m_sheet;

    LegendSheetView* m_view = nullptr;
    QFrame* m_editor = nullptr;
    QLineEdit* m_legendEdit = nullptr;
    QLineEdit* m_func2LegendEdit = nullptr;
    QString m_editStartKey;  // what the lines held when editing began
    QString m_editStartFunc2;
    int m_editedKey = 0;
    QDoubleSpinBox* m_widthBox = nullptr;
    QDoubleSpinBox* m_heightBox = nullptr;
    QDoubleSpinBox* m_gapBox = nullptr;
    QLabel* m_paperLabel = nullptr;
    QLabel* m_statusLabel = nullptr;
    QLabel* m_warningLabel = nullptr;
    QPushButton* m_printButton = nullptr;
    QPushButton* m_exportButton = nullptr;
    QString m_notice;  // the last command's outcome, until the selection moves
};

}  // namespace qk750
