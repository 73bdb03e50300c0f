#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

#include <iostream>

#include "app/initial_load.h"
#include "app/programming_run.h"
#include "app/qt_event_loop.h"
#include "setup/file_names.h"
#include "setup/legacy_import.h"
#include "ui/about_window.h"
#include "ui/key_grid.h"
#include "ui/key_test_window.h"
#include "ui/mcr_builtin_dialog.h"
#include "ui/mcr_custom_dialog.h"
#include "ui/onscreen_keyboard.h"
#include "ui/progress_window.h"
#include "ui/prompts.h"
#include "ui/roll_out_window.h"
#include "ui/window_reporter.h"
#include "ui/window_support.h"
#include "usb/device_list.h"
#include "usb/hid_controller.h"
#include "usb/hid_platform.h"
#include "usb/programming_protocol.h"

namespace qk750 {

namespace {

// The client area of the window, menu bar not included, status bar included.
constexpr QSize kClientSize(978, 652);

const QString kUnlockQuestion =
    QStringLiteral("\rUnlock changes to Setup ?\r\r  Are you sure ?   \r\r");

}  // namespace

MainWindow::MainWindow(MainWindowServices services, QWidget* parent)
    : QMainWindow(parent),
      m_state(services.state),
      m_prompts(services.prompts),
      m_platform(std::move(services.platform)),
      m_waits(services.waits),
      m_trace(services.trace) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    if (m_waits == nullptr) {
        m_ownWaits = std::make_unique<QtProtocolWaits>();
        m_waits = m_ownWaits.get();
    }
    buildControls();
    buildMenu();
    buildDevices(m_trace);
    // The client area keeps its size and layout; the window shows what of it the screen holds.
    m_clientArea->setFixedSize(kClientSize.width(),
                               kClientSize.height() - statusBar()->sizeHint().height());
    setFixedSize(naturalSize());
    UpdateTitle();
}

MainWindow::~MainWindow() = default;

void MainWindow::setWindows(AboutWindow* about, ProgressWindow* progress,
                            McrCustomDialog* customMcr, McrBuiltInDialog* builtInMcr) {
    m_about = about;
    m_progress = progress;
    m_customMcr = customMcr;
    m_builtInMcr = builtInMcr;
    m_reporter->setProgressWindow(progress);
    if (m_customMcr != nullptr) {
        m_customMcr->collectMcrSettings = [this] { CollectMcrSettings(); };
        m_customMcr->appendToActiveLine = [this](const QString& text) { AppendToActiveLine(text); };
        // An unnamed setup is saved under a name the operator chooses, not as ".INI" in
        // whatever folder the program was started from; an INI twin is replaced only when
        // the operator says so.
        m_customMcr->saveAsksFirst = [this] {
            return m_state->SetupFileName.substr(fileNameStart(m_state->SetupFileName)) == ".INI" ||
                   (!m_twinToConfirm.empty() && m_twinToConfirm == m_state->SetupFileName);
        };
        m_customMcr->saveAskingFirst = [this] {
            m_quietSave = true;
            const bool saved = saveSetup();
            m_quietSave = false;
            return saved;
        };
        connect(m_customMcr, &McrCustomDialog::linesChanged, this, &MainWindow::updateMemoryMeter);
    }
    updateMemoryMeter();
}

void MainWindow::buildControls() {
    // On a screen smaller than the window (a small laptop at 125%) the client area scrolls
    // instead of falling off the screen; elsewhere no scroll bar shows.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("clientScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    setCentralWidget(scroll);
    auto* central = new QWidget(scroll);
    central->setObjectName(QStringLiteral("clientArea"));
    scroll->setWidget(central);
    m_clientArea = central;

    m_keyGrid = new KeyGrid(m_state->Setup, central);
    m_keyGrid->setObjectName(QStringLiteral("keyGrid"));
    m_keyGrid->move(2, 2);
    m_keyGrid->installEventFilter(this);

    buildKeyLines(central);

    m_lockSetupCheck = new QCheckBox(QStringLiteral("Lock Setup"), central);
    m_lockSetupCheck->setObjectName(QStringLiteral("lockSetupCheck"));
    QFont lockFont = m_lockSetupCheck->font();
    lockFont.setBold(true);
    m_lockSetupCheck->setFont(lockFont);
    m_lockSetupCheck->setGeometry(620, 288, 160, 24);
    m_lockSetupCheck->installEventFilter(this);

    m_programButton =
        new QPushButton(QStringLiteral("       Program ZQ USB QK750 Keyboard "), central);
    m_programButton->setObjectName(QStringLiteral("programButton"));
    QFont programFont = m_programButton->font();
    programFont.setBold(true);
    programFont.setPointSize(11);
    m_programButton->setFont(programFont);
    m_programButton->setIcon(programPixmap(40));
    m_programButton->setIconSize(QSize(40, 40));
    m_programButton->setGeometry(194, 562, 590, 58);
    // Enter presses a focused button as Space does, as it does in a dialog.
    m_programButton->setAutoDefault(true);

    m_keyboard = new OnScreenKeyboard(central);
    m_keyboard->setObjectName(QStringLiteral("keyboard"));
    m_keyboard->setGeometry(6, 346, 691, 203);

    buildSpecialKeys(central);

    m_deviceList = new QListWidget(central);
    m_deviceList->setObjectName(QStringLiteral("deviceList"));
    m_deviceList->hide();
    m_historyList = new QListWidget(central);
    m_historyList->setObjectName(QStringLiteral("historyList"));
    m_historyList->hide();

    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("statusBar"));
    status->setSizeGripEnabled(false);
    m_statusLabel = new QLabel(status);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    status->addWidget(m_statusLabel, 1);
    // The memory meter stays on the right; the status text on the left is the one that
    // programming trims.
    m_memoryMeterLabel = new QLabel(status);
    m_memoryMeterLabel->setObjectName(QStringLiteral("memoryMeterLabel"));
    m_memoryMeter = new QProgressBar(status);
    m_memoryMeter->setObjectName(QStringLiteral("memoryMeter"));
    m_memoryMeter->setTextVisible(false);
    m_memoryMeter->setFixedSize(120, 12);
    m_memoryMeter->setRange(0, kStringAreaCapacity);
    const QString meterTip = QStringLiteral("Key-string memory the next programming run uses");
    m_memoryMeter->setToolTip(meterTip);
    m_memoryMeterLabel->setToolTip(meterTip);
    status->addPermanentWidget(m_memoryMeterLabel);
    status->addPermanentWidget(m_memoryMeter);
    status->setContentsMargins(0, 0, 8, 0);
    setStatusBar(status);

    // One line under the two key-string lines, above the on-screen keyboard.
    m_lineHintLabel = new QLabel(central);
    m_lineHintLabel->setObjectName(QStringLiteral("lineHintLabel"));
    QFont hintFont = m_lineHintLabel->font();
    hintFont.setPointSize(8);
    m_lineHintLabel->setFont(hintFont);
    QPalette hintPalette = m_lineHintLabel->palette();
    hintPalette.setColor(QPalette::WindowText, kWarningColour);
    m_lineHintLabel->setPalette(hintPalette);
    m_lineHintLabel->setGeometry(150, 332, 548, 14);

    connect(m_keyGrid, &QTableWidget::currentCellChanged, this, &MainWindow::onCurrentCellChanged);
    connect(m_keyGrid, &QTableWidget::cellClicked, this, [this] { onCellClicked(); });
    connect(m_keyGrid, &QTableWidget::cellDoubleClicked, this, [this] {
        m_keyTouched = false;
        onCellClicked();
    });
    connect(m_lockSetupCheck, &QCheckBox::toggled, this, &MainWindow::onLockToggled);
    connect(m_programButton, &QPushButton::clicked, this, &MainWindow::StartProgramming);
    connect(m_keyboard, &OnScreenKeyboard::keyClicked, this, [this](const QString& text) {
        m_keyTouched = true;
        AppendToActiveLine(text);
    });
}

void MainWindow::buildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));
    auto addItem = [this](QWidget* menu, const QString& name, const QString& caption,
                          const QKeySequence& shortcut, std::function<void()> handler) {
        auto* action = new QAction(caption, this);
        action->setObjectName(name);
        action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
        menu->addAction(action);
        return action;
    };
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("fileMenu"));
    addItem(file, QStringLiteral("newSetupAction"), QStringLiteral("&New"),
            QKeySequence(Qt::CTRL | Qt::Key_N), [this] { newSetup(); });
    addItem(file, QStringLiteral("openSetupAction"), QStringLiteral("&Open"),
            QKeySequence(Qt::CTRL | Qt::Key_O), [this] { openSetup(); });
    file->addSeparator();
    addItem(file, QStringLiteral("saveSetupAction"), QStringLiteral("&Save"),
            QKeySequence(Qt::CTRL | Qt::Key_S), [this] { saveSetup(); });
    addItem(file, QStringLiteral("saveSetupAsAction"), QStringLiteral("Save &As..."),
            QKeySequence(), [this] { saveSetupAs(); });
    file->addSeparator();
    addItem(file, QStringLiteral("keyLegendsAction"), QStringLiteral("Key &Legends..."),
            QKeySequence(), [this] { showLegends(); });
    file->addSeparator();
    addItem(file, QStringLiteral("exitAction"), QStringLiteral("E&xit"), QKeySequence(),
            [this] { exitWithoutSaving(); });
    // Top-level items that act at once.
    addItem(bar, QStringLiteral("mcrSetupAction"), QStringLiteral("&MCR Setup"), QKeySequence(),
            [this] { showMcrSetup(); });
    QMenu* program = bar->addMenu(QStringLiteral("Program QK750"));
    program->setObjectName(QStringLiteral("programMenu"));
    addItem(program, QStringLiteral("programAction"), QStringLiteral("Program QK750"),
            QKeySequence(Qt::Key_F10), [this] { StartProgramming(); });
    addItem(program, QStringLiteral("rollOutAction"),
            QStringLiteral("Roll Out to Each Keyboard Plugged In..."), QKeySequence(),
            [this] { rollOut(); });
    addItem(bar, QStringLiteral("testKeysAction"), QStringLiteral("&Test"),
            QKeySequence(Qt::Key_F7), [this] { testKeys(); });
    QMenu* about = bar->addMenu(QStringLiteral("&About"));
    about->setObjectName(QStringLiteral("aboutMenu"));
    addItem(about, QStringLiteral("aboutAction"), QStringLiteral("&About..."), QKeySequence(),
            [this] { showAbout(); });
}

void MainWindow::buildDevices(bool trace) {
    m_trace = trace;
    m_dispatcher = std::make_unique<QtUiDispatcher>();
    m_hidController = std::make_unique<HidController>(*m_platform, *m_dispatcher);
    DeviceList::Callbacks callbacks;
    callbacks.keyboardArrived = [this](HidDevice&, const std::string& name) {
        setStatusText(QStringLiteral(" **  ") + latin1(name) + QStringLiteral(" Detected **"));
    };
    callbacks.keyboardRemoved = [this](HidDevice&, const std::string&) {
        setStatusText(QString());
        // The keyboard under test is gone: so is the test.
        if (m_keyTest != nullptr && m_keyTest->isVisible()) {
            m_keyTest->close();
        }
    };
    m_devices = std::make_unique<DeviceList>(
        *m_hidController, [this](const std::string& line) { AddToHistory(line); }, callbacks);
    m_watcher = std::make_unique<PlatformNotificationWatcher>(*m_platform);
    m_reporter = std::make_unique<WindowReporter>(*m_prompts);
    m_protocol = std::make_unique<ProgrammingProtocol>(*m_state, *m_devices, *m_reporter, *m_waits);

    ProgrammingHooks hooks;
    hooks.collectMcrSettings = [this] { CollectMcrSettings(); };
    hooks.selectKey = [this](int key) { selectKey(key); };
    // The grid takes no input until the run has ended: it is focused then.
    hooks.focusGrid = [this] { m_focusGridAfterRun = true; };
    hooks.statusText = [this] { return bytes(statusText()); };
    hooks.setStatusText = [this](const std::string& text) { setStatusText(latin1(text)); };
    hooks.beep = [] { QApplication::beep(); };
    hooks.showInformation = [this](std::string_view text) {
        m_prompts->information(
            QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    };
    m_run = std::make_unique<ProgrammingRun>(*m_state, *m_protocol, *m_reporter, std::move(hooks));
}

void MainWindow::UpdateTitle() {
    const QString title = QString::fromLatin1(kProgramTitle) + QStringLiteral(" - ") +
                          pathText(m_state->SetupFileName);
    setWindowTitle(title);
    QCoreApplication::setApplicationName(title);
    rememberSetupFolder();
}

QString MainWindow::cellText(int column, int row) const {
    return m_keyGrid->cellText(column, row);
}

void MainWindow::UpdateGridCell(int column, int row, bool compact) {
    if (lineSelector() != 0) {
        return;
    }
    m_keyGrid->drawCell(column, row, compact);
}

void MainWindow::RefreshGrid() {
    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kGridColumns; ++column) {
            UpdateGridCell(column, row, true);
        }
    }
    m_keyGrid->markAllKeys();
    updateMemoryMeter();
}

void MainWindow::redrawKeepingForm(int column, int row) {
    UpdateGridCell(column, row, m_keyGrid->showsCompact(column, row));
}

int MainWindow::currentKey() const {
    return m_keyGrid->currentKey();
}

void MainWindow::selectKey(int key) {
    m_keyGrid->selectKey(key);
}

QString MainWindow::statusText() const {
    return m_statusLabel->text();
}

void MainWindow::setStatusText(const QString& text) {
    m_statusLabel->setText(text);
    if (m_trace) {  // what the operator reads there, for whoever follows a run from outside
        std::cerr << "Status bar: " << text.toStdString() << '\n';
    }
}

void MainWindow::LoadSetupIntoDialogs() {
    if (m_customMcr != nullptr) {
        m_customMcr->showSettings(m_state->Setup.Mcr);
    }
    // Emptying the lines only clears the display; it must not empty the current key. The
    // Func2 line too, so that it shows nothing of a setup no longer there.
    setLinesQuietly(QString(), QString());
    setLineSelector(0);
    RefreshGrid();
    // After the grid: an unlock question that this may raise is asked over the new keys.
    m_lockSetupCheck->setChecked(m_state->Setup.Mcr.LockedSetup);
    ApplySetupLock();
}

void MainWindow::CollectMcrSettings() {
    if (m_customMcr != nullptr) {
        m_customMcr->gatherSettings(m_state->Setup.Mcr);
    }
    m_state->Setup.Mcr.LockedSetup = m_lockSetupCheck->isChecked();
}

void MainWindow::onLockToggled() {
    if (!m_lockSetupCheck->isChecked() && !m_prompts->confirm(kUnlockQuestion)) {
        m_lockSetupCheck->setChecked(true);
    }
    ApplySetupLock();
}

void MainWindow::ApplySetupLock() {
    const bool locked = m_lockSetupCheck->isChecked();
    if (m_customMcr != nullptr) {
        m_customMcr->setLocked(locked);
    }
    EnableEditing(!locked);
    CollectMcrSettings();
}

void MainWindow::EnableEditing(bool enabled) {
    for (QWidget* control :
         {static_cast<QWidget*>(m_lineSelector), static_cast<QWidget*>(m_keyStringEdit),
          static_cast<QWidget*>(m_func2StringEdit), static_cast<QWidget*>(m_keyboard),
          static_cast<QWidget*>(m_addSpecialKeyButton), static_cast<QWidget*>(m_modifierChoice),
          static_cast<QWidget*>(m_specialKeyList)}) {
        control->setEnabled(enabled);
    }
    if (m_customMcr != nullptr) {
        m_customMcr->setEditingEnabled(enabled);
    }
}

void MainWindow::AddToHistory(const std::string& line) {
    if (m_trace) {
        std::cerr << line << '\n';
    }
    // The list is never shown, so the lines are dropped; shown, it keeps the last in view.
    if (m_historyList->isVisible()) {
        const QString text = latin1(line);
        const int width = m_historyList->fontMetrics().horizontalAdvance(text) + 16;
        m_historyList->addItem(text);
        m_historyList->setMinimumWidth(std::max(m_historyList->minimumWidth(), width));
        m_historyList->scrollToBottom();
    }
}

void MainWindow::firstActivation() {
    if (m_activated) {
        return;
    }
    m_activated = true;
    // The initial load, shown in the windows.
    const LoadResult loaded = InitialLoad(*m_state, ExistingTwin::Keep);
    keepTwinUnasked(loaded);
    LoadSetupIntoDialogs();
    m_run->clearBusy();
    // The loaded file may have a new name (a KBD or DAT file becomes its INI twin).
    UpdateTitle();

    m_devices->applySelection();
    m_deviceList->clear();
    for (int index = 0; index < m_devices->count(); ++index) {
        m_deviceList->addItem(latin1(m_devices->name(index)));
    }
    m_keyGrid->setFocus();
    reportLoad(loaded);
    everyActivation();
}

void MainWindow::everyActivation() {
    m_keyTouched = false;
    m_linesLoading = true;
    m_quietSave = false;
    m_undoKey = {};
    m_prevRow = 0;
    m_prevColumn = 0;
    m_specialKeyList->setCurrentRow(0);
    m_modifierButtons->button(0)->setChecked(true);
}

// Only the first activation is taken from the window system: the resets of the later ones
// belong to returns from the program's own windows, which call them. A message box or file
// dialog of the main window closing, or a return from another application, activates the
// window too, and must not clear a deleted key's restore nor the special-key choice.
bool MainWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        // Once the window manager has framed it, the window's frame is known.
        fitToScreen();
        firstActivation();
    }
    return QMainWindow::event(event);
}

QSize MainWindow::naturalSize() const {
    return {kClientSize.width(), kClientSize.height() + menuBar()->sizeHint().height()};
}

void MainWindow::fitInto(const QRect& available) {
    // Before the window manager has framed the window, its frame is guessed generously.
    QMargins frame = frameGeometry().size() != size()
                         ? QMargins(geometry().left() - frameGeometry().left(),
                                    geometry().top() - frameGeometry().top(),
                                    frameGeometry().right() - geometry().right(),
                                    frameGeometry().bottom() - geometry().bottom())
                         : QMargins(8, 32, 8, 8);
    const QSize room = available.size().shrunkBy(frame);
    QSize wanted = naturalSize();
    // Room for the scroll bar that a cut side brings, where the other side has it.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (wanted.height() > room.height()) {
        wanted.rwidth() += bar;
    }
    if (wanted.width() > room.width()) {
        wanted.rheight() += bar;
    }
    setFixedSize(wanted.boundedTo(room));
}

void MainWindow::fitToScreen() {
    if (const QScreen* shown = screen()) {
        fitInto(shown->availableGeometry());
        connect(shown, &QScreen::availableGeometryChanged, this, &MainWindow::fitToScreen,
                Qt::UniqueConnection);
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    if (!m_placed) {
        m_placed = true;
        fitToScreen();
        connect(windowHandle(), &QWindow::screenChanged, this, &MainWindow::fitToScreen);
        centreOn(this, nullptr);
    }
    QMainWindow::showEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!m_exiting) {
        // Ends every wait and aborts a run in progress; the setup is saved quietly, and
        // the window closes whatever the Save dialog's answer.
        m_state->Globals.StopWaiting = true;
        m_quietSave = true;
        QString failure;
        const SaveOutcome saved = saveSetupFlow(&failure);
        m_quietSave = false;
        // Work that could not be saved is only given up when the operator says so.
        if (saved == SaveOutcome::Failed &&
            !m_prompts->askYesNo(failure + QStringLiteral("\r\rClose without saving ?"))) {
            m_state->Globals.StopWaiting = false;
            event->ignore();
            return;
        }
    }
    m_closing = true;
    // An owned window still open would keep its flow waiting, and the program running,
    // after the main window has gone.
    for (QWidget* owned : std::initializer_list<QWidget*>{m_keyTest, m_builtInMcr, m_customMcr,
                                                          m_about, m_rollOut}) {
        if (owned != nullptr && owned->isVisible()) {
            owned->close();
        }
    }
    event->accept();
}

}  // namespace qk750
