#pragma once

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>

#include "app/key_editing.h"
#include "keys/key_insight.h"
#include "setup/program_state.h"
#include "setup/setup_file.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTimer;

namespace qk750 {

class DeviceList;
class HidPlatform;
class ProgrammingProtocol;
class ProgrammingRun;
class PlatformNotificationWatcher;
class ProtocolWaits;
class Prompts;
class TFixedMcrSetupForm;
class HidController;
class TKeyboard;
class TMCRCustomForm;
class TStatusForm;
class TfrmAbout;
class TformTestKeys;
class UiDispatcher;
class WindowReporter;

inline constexpr const char* kProgramTitle = "ZQ QK750 USB Keyboard Setup V1.07";

// What the main window is built on: the program state, the prompts, the HID platform it
// owns, and optionally the protocol's waits (the Qt event loop's when not given).
struct MainWindowServices {
    ProgramState* state = nullptr;
    Prompts* prompts = nullptr;
    std::unique_ptr<HidPlatform> platform;
    ProtocolWaits* waits = nullptr;
    bool trace = false;
};

// The cell text: t (the text trimmed) centred in width by the pad table, or the text
// unchanged when t fills the width.
QString CenterCellText(const QString& text, int width);

// The text a cell shows for a key string: compact (centred, or the last 15 characters)
// or whole.
QString cellTextFor(const QString& keyString, bool compact);

// The main window: key grid, key-string lines, lock, program button, status bar, menu.
class TfrmSettings : public QMainWindow {
    Q_OBJECT

public:
    explicit TfrmSettings(MainWindowServices services, QWidget* parent = nullptr);
    ~TfrmSettings() override;

    // The windows around it, created after it (they need it as their parent).
    void setWindows(TfrmAbout* about, TStatusForm* status, TMCRCustomForm* customMcr,
                    TFixedMcrSetupForm* builtInMcr);

    ProgramState& state() const { return *m_state; }
    HidController& HidCtl() const { return *m_controller; }
    DeviceList& devices() const { return *m_devices; }
    HidPlatform& platform() const { return *m_platform; }

    void UpdateTitle();
    void UpdateGridCell(int column, int row, bool compact);
    void RefreshGrid();
    void ShowSelectedKey();
    void FocusKeyEdit();
    void LoadSetupIntoDialogs();
    void CollectMcrSettings();
    void ApplySetupLock();
    void EnableEditing(bool enabled);
    void StartProgramming();
    bool ProgrammingBusy() const;
    void AppendToActiveLine(const QString& text);
    void AddToHistory(const std::string& line);

    // The file commands; each returns when its flow is done.
    void New1Click();
    void Open1Click();
    // False when nothing was written (cancelled or failed).
    bool Save1Click();
    void SaveAs1Click();
    void Exit1Click();
    void MCRSetup1Click();
    void About1Click();
    // Shows the key test window with the keyboard hook in place until it is hidden.
    void Test1Click();
    void setTestKeysWindow(TformTestKeys* testKeys) { m_testKeys = testKeys; }

    // The first activation: the initial load, the device selection, the grid's focus.
    void FormActivate();
    bool firstActivationDone() const { return m_activated; }

    // The current key, 1-84.
    int currentKey() const;
    void selectKey(int key);
    int lineSelector() const;
    void setLineSelector(int line);
    QString statusText() const;
    void setStatusText(const QString& text);
    QString cellText(int column, int row) const;

    // Editing insight: what the next build would use and report, and the hint for the
    // active line. Recomputed on every change of a string; never changes the setup.
    const MemoryUse& memoryUse() const { return m_memoryUse; }
    QString memoryMeterLabel() const;
    QString lineHintText() const;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenu();
    void buildDevices(bool trace);
    void everyActivation();
    bool saveTo(const std::string& path);
    void reportLoad(const LoadResult& result);
    std::string chooseFileName(bool save);

    void KeyboardStringGridSelectCell(int row, int column, int previousRow, int previousColumn);
    void KeyboardStringGridClick();
    void edKeyStringChange();
    void edKeyString2Change();
    void LockSetupCheckBoxClick();
    void Button1Click();
    void redrawKeepingForm(int column, int row);
    // Draws a cell whatever line the selector stands on.
    void drawCell(int column, int row, bool compact);
    bool KeyboardStringGridKeyDown(const QKeyEvent& key);
    bool HandleLineKey(const QKeyEvent& key, int line);
    void deleteWholeKey(int key);
    void restoreKey(int key);
    void setLinesQuietly(const QString& keyString, const QString& func2String);
    void updateMemoryMeter();
    void markCell(int key, const KeyLengths& lengths);
    void markCell(int key);
    void updateLineHint();

    ProgramState* m_state;
    Prompts* m_prompts;
    std::unique_ptr<HidPlatform> m_platform;
    std::unique_ptr<ProtocolWaits> m_ownWaits;
    ProtocolWaits* m_waits;
    std::unique_ptr<UiDispatcher> m_dispatcher;
    std::unique_ptr<HidController> m_controller;
    std::unique_ptr<DeviceList> m_devices;
    std::unique_ptr<PlatformNotificationWatcher> m_watcher;
    std::unique_ptr<WindowReporter> m_reporter;
    std::unique_ptr<ProgrammingProtocol> m_protocol;
    std::unique_ptr<ProgrammingRun> m_run;
    bool m_trace = false;

    TfrmAbout* m_about = nullptr;
    TformTestKeys* m_testKeys = nullptr;
    bool m_closing = false;  // the window has been closed
    TStatusForm* m_status = nullptr;
    TMCRCustomForm* m_customMcr = nullptr;
    TFixedMcrSetupForm* m_builtInMcr = nullptr;

    QTableWidget* m_grid = nullptr;
    QLabel* m_keyStringLabel = nullptr;
    QLabel* m_keyStringLabel2 = nullptr;
    QLineEdit* m_keyString = nullptr;
    QLineEdit* m_keyString2 = nullptr;
    QGroupBox* m_lineSelectorGroup = nullptr;
    QButtonGroup* m_lineSelector = nullptr;
    TKeyboard* m_keyboard = nullptr;
    QPushButton* m_addSpecial = nullptr;
    QListWidget* m_specialList = nullptr;
    QGroupBox* m_shiftGroup = nullptr;
    QButtonGroup* m_shiftKeys = nullptr;
    QCheckBox* m_lockBox = nullptr;
    QPushButton* m_program = nullptr;
    QLabel* m_statusLabel = nullptr;
    QProgressBar* m_memoryBar = nullptr;
    QLabel* m_memoryLabel = nullptr;
    QLabel* m_lineHint = nullptr;
    QListWidget* m_devListBox = nullptr;
    QListWidget* m_history = nullptr;
    QTimer* m_timer1 = nullptr;

    // Window state.
    bool m_linesLoading = true;
    bool m_quietSave = false;
    bool m_keyTouched = false;
    UndoKeyRec m_undoKey;
    MemoryUse m_memoryUse;
    std::uint8_t m_prevRow = 0;
    std::uint8_t m_prevColumn = 0;
    bool m_activated = false;
    bool m_exiting = false;
};

}  // namespace qk750
