#pragma once

#include <QList>
#include <QMainWindow>
#include <QPointer>
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

namespace qk750 {

class DeviceList;
class HidPlatform;
class KeyGrid;
class ProgrammingProtocol;
class ProgrammingRun;
class PlatformNotificationWatcher;
class ProtocolWaits;
class Prompts;
class McrBuiltInDialog;
class HidController;
class OnScreenKeyboard;
class McrCustomDialog;
class ProgressWindow;
class AboutWindow;
class KeyTestWindow;
class LegendWindow;
class RollOutWindow;
class UiDispatcher;
class WindowReporter;

inline constexpr const char* kProgramTitle = "ZQ QK750 USB Keyboard Setup V1.07";

// How a save flow ended: a cancelled name dialog is not a failure.
enum class SaveOutcome { Saved, Cancelled, Failed };

// What the main window is built on: the program state, the prompts, the HID platform it
// owns, and optionally the protocol's waits (the Qt event loop's when not given).
struct MainWindowServices {
    ProgramState* state = nullptr;
    Prompts* prompts = nullptr;
    std::unique_ptr<HidPlatform> platform;
    ProtocolWaits* waits = nullptr;
    bool trace = false;
};

// The main window: key grid, key-string lines, lock, program button, status bar, menu.
// It wires the parts together; the key-string lines with their keys, the file commands
// and the insight display are defined in units of their own, the grid is a KeyGrid.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(MainWindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The windows around it, created after it (they need it as their parent).
    void setWindows(AboutWindow* about, ProgressWindow* progress, McrCustomDialog* customMcr,
                    McrBuiltInDialog* builtInMcr);

    ProgramState& state() const { return *m_state; }
    HidController& hidController() const { return *m_hidController; }
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
    void newSetup();
    void openSetup();
    // False when nothing was written (cancelled or failed).
    bool saveSetup();
    void saveSetupAs();
    void exitWithoutSaving();
    void showMcrSetup();
    void showAbout();
    // Shows the key test window with the keyboard hook in place until it is hidden.
    void testKeys();
    void setKeyTestWindow(KeyTestWindow* testKeys) { m_keyTest = testKeys; }
    // The legend window over the setup as it stands.
    void showLegends();
    void setLegendWindow(LegendWindow* legends) { m_legends = legends; }
    // Programs each keyboard plugged in, one after another, in the roll-out window, until
    // its Stop; the main window takes no input meanwhile.
    void rollOut();
    void setRollOutWindow(RollOutWindow* window);

    // The first activation: the initial load, the device selection, the grid's focus.
    void firstActivation();
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

    // The window's size, fitted into a screen's available area: the whole client area where
    // it fits, else what the area holds, the client area scrolling.
    void fitInto(const QRect& available);

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenu();
    void buildDevices(bool trace);
    void everyActivation();
    QSize naturalSize() const;
    void fitToScreen();
    // Takes the edits of the setup (the client area, the File commands but E&xit) away for
    // a run, or gives them back.
    void takeEditsDuringRun(bool take);
    void onLockToggled();
    void redrawKeepingForm(int column, int row);

    // The file commands' flows. With failure given, a failed save is not shown but its
    // text is put there.
    SaveOutcome saveSetupFlow(QString* failure = nullptr);
    SaveOutcome saveTo(const std::string& path, QString* failure);
    // The quiet save before Open; false when nothing was written (a failure is shown).
    bool saveBeforeOpen();
    // An INI twin that existed before a KBD or DAT was loaded under its name is replaced
    // only when the operator says so, once, at the first save to it; No asks for a name.
    void keepTwinUnasked(const LoadResult& loaded);
    bool mayReplaceTwin();
    // Shows what a load could not do; a setup that is not what its file holds loses its
    // name, so that no quiet save writes it over that file or its INI twin.
    void reportLoad(const LoadResult& result);
    std::string chooseFileName(bool save);
    // Where a file dialog starts: the setup's folder, for an unnamed setup the last folder
    // used, else the user's Documents folder.
    QString dialogFolder() const;
    void rememberSetupFolder();

    // The key-string lines, and the keys they and the grid handle themselves.
    void buildKeyLines(QWidget* parent);
    void buildSpecialKeys(QWidget* parent);
    void onCurrentCellChanged(int row, int column, int previousRow, int previousColumn);
    void onCellClicked();
    void onKeyStringEdited();
    void onFunc2StringEdited();
    void addSpecialKey();
    bool gridKeyPress(const QKeyEvent& key);
    bool lineKeyPress(const QKeyEvent& key, int line);
    void deleteWholeKey(int key);
    void restoreKey(int key);
    void setLinesQuietly(const QString& keyString, const QString& func2String);

    // The insight display.
    void updateMemoryMeter();
    void updateLineHint();
    void showRefused(const QString& character);

    ProgramState* m_state;
    Prompts* m_prompts;
    std::unique_ptr<HidPlatform> m_platform;
    std::unique_ptr<ProtocolWaits> m_ownWaits;
    ProtocolWaits* m_waits;
    std::unique_ptr<UiDispatcher> m_dispatcher;
    std::unique_ptr<HidController> m_hidController;
    std::unique_ptr<DeviceList> m_devices;
    std::unique_ptr<PlatformNotificationWatcher> m_watcher;
    std::unique_ptr<WindowReporter> m_reporter;
    std::unique_ptr<ProgrammingProtocol> m_protocol;
    std::unique_ptr<ProgrammingRun> m_run;
    bool m_trace = false;

    AboutWindow* m_about = nullptr;
    KeyTestWindow* m_keyTest = nullptr;
    LegendWindow* m_legends = nullptr;
    RollOutWindow* m_rollOut = nullptr;
    bool m_closing = false;  // the window has been closed
    ProgressWindow* m_progress = nullptr;
    McrCustomDialog* m_customMcr = nullptr;
    McrBuiltInDialog* m_builtInMcr = nullptr;

    QWidget* m_clientArea = nullptr;
    KeyGrid* m_keyGrid = nullptr;
    QLabel* m_keyStringLabel = nullptr;
    QLabel* m_func2StringLabel = nullptr;
    QLineEdit* m_keyStringEdit = nullptr;
    QLineEdit* m_func2StringEdit = nullptr;
    QGroupBox* m_lineSelector = nullptr;
    QButtonGroup* m_lineButtons = nullptr;
    OnScreenKeyboard* m_keyboard = nullptr;
    QPushButton* m_addSpecialKeyButton = nullptr;
    QListWidget* m_specialKeyList = nullptr;
    QGroupBox* m_modifierChoice = nullptr;
    QButtonGroup* m_modifierButtons = nullptr;
    QCheckBox* m_lockSetupCheck = nullptr;
    QPushButton* m_programButton = nullptr;
    QLabel* m_statusLabel = nullptr;
    QProgressBar* m_memoryMeter = nullptr;
    QLabel* m_memoryMeterLabel = nullptr;
    QLabel* m_lineHintLabel = nullptr;
    QListWidget* m_deviceList = nullptr;
    QListWidget* m_historyList = nullptr;

    // Window state.
    bool m_linesLoading = true;
    bool m_quietSave = false;
    bool m_keyTouched = false;
    UndoKeyRec m_undoKey;
    MemoryUse m_memoryUse;
    std::uint8_t m_prevRow = 0;
    std::uint8_t m_prevColumn = 0;
    bool m_activated = false;
    bool m_placed = false;  // centred on the screen at the first show
    // Why a character was not taken into a line, shown until another key or line is chosen.
    QString m_refusedHint;
    QString m_lastFolder;
    bool m_exiting = false;
    bool m_focusGridAfterRun = false;
    std::string m_twinToConfirm;
    QList<QPointer<QAction>> m_fileCommandsTaken;
};

}  // namespace qk750
