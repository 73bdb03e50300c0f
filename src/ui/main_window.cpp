#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <array>
#include <iostream>

#include "app/initial_load.h"
#include "app/programming_run.h"
#include "app/qt_event_loop.h"
#include "setup/file_names.h"
#include "setup/legacy_import.h"
#include "ui/about_window.h"
#include "ui/key_test_window.h"
#include "ui/mcr_builtin_dialog.h"
#include "ui/mcr_custom_dialog.h"
#include "ui/onscreen_keyboard.h"
#include "ui/progress_window.h"
#include "ui/prompts.h"
#include "ui/window_support.h"
#include "usb/device_list.h"
#include "usb/hid_controller.h"
#include "usb/hid_platform.h"
#include "usb/programming_protocol.h"

namespace qk750 {

namespace {

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

constexpr std::array<int, 14> kCellPadTable = {1, 3, 4, 6, 6, 8, 9, 10, 12, 14, 13, 15, 16, 16};
constexpr int kCellWidth = 15;
constexpr int kCellPixelsWide = 81;
constexpr int kCellPixelsHigh = 36;

const QString kUnlockQuestion =
    QStringLiteral("\rUnlock changes to Setup ?\r\r  Are you sure ?   \r\r");
const QString kOpenFilter =
    QStringLiteral("QK750 INI files |*.ini|OLD QK750 files|*.kbd|KEYS ASCII File|*.dat");
const QString kSaveFilter = QStringLiteral("QK750 INI files |*.ini");

// Trims blanks and control characters at both ends, as key strings are trimmed.
QString trimBlanks(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= ' ') {
        ++first;
    }
    while (last > first && text.at(last - 1).unicode() <= ' ') {
        --last;
    }
    return text.mid(first, last - first);
}

std::string bytes(const QString& text) {
    return text.toLatin1().toStdString();
}

QString pathText(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string fileNamePart(const std::string& path) {
    return path.substr(fileNameStart(path));
}

// The keys a key-string line handles itself.
LineKey lineKeyOf(const QKeyEvent& key) {
    switch (key.key()) {
        case Qt::Key_Escape:
            return LineKey::Escape;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return LineKey::Enter;
        case Qt::Key_Delete:
            return LineKey::Delete;
        case Qt::Key_Backspace:
            return LineKey::Backspace;
        default:
            return LineKey::Other;
    }
}

// The caret as the editing decisions count it: the start of a selection, if any.
int caretOf(const QLineEdit& line) {
    return line.hasSelectedText() ? static_cast<int>(line.selectionStart())
                                  : static_cast<int>(line.cursorPosition());
}

int selectionLengthOf(const QLineEdit& line) {
    return line.hasSelectedText() ? static_cast<int>(line.selectedText().size()) : 0;
}

const QColor kWarningColour(0xc0, 0x70, 0x00);
const QColor kErrorColour(0xc0, 0x00, 0x00);
const QColor kTooLongBackground(0xff, 0xd8, 0xd8);

}  // namespace

QString CenterCellText(const QString& text, int width) {
    const QString trimmed = trimBlanks(text);
    if (trimmed.size() >= width) {
        return text;
    }
    const auto pad = static_cast<std::size_t>((width - trimmed.size()) / 2);
    const int spaces = kCellPadTable.at(std::min(pad, kCellPadTable.size() - 1));
    return QString(spaces, QLatin1Char(' ')) + trimmed;
}

QString cellTextFor(const QString& keyString, bool compact) {
    if (compact || keyString.size() < kCellWidth) {
        return keyString.size() <= kCellWidth ? CenterCellText(keyString, kCellWidth)
                                              : keyString.right(kCellWidth);
    }
    return keyString;
}

// The programming run's reports in the windows: error boxes, the connect question and
// the progress window.
class WindowReporter : public ProtocolReporter {
public:
    WindowReporter(Prompts& prompts) : m_prompts(prompts) {}
    void setProgressWindow(ProgressWindow* progress) { m_progress = progress; }

    void failure(std::string_view, std::string_view, std::string_view message) override {
        m_prompts.error(
            QString::fromLatin1(message.data(), static_cast<qsizetype>(message.size())));
    }
    bool askToConnect(std::string_view message) override {
        return m_prompts.errorOkCancel(
            QString::fromLatin1(message.data(), static_cast<qsizetype>(message.size())));
    }
    void progressStart(int maximum) override {
        if (m_progress != nullptr) {
            m_progress->setEnabled(false);
            m_progress->setRange(maximum, 1);
            m_progress->setEnabled(true);
        }
    }
    void progressStep(int position, int) override {
        if (m_progress != nullptr) {
            m_progress->setPosition(position);
            if (!m_progress->isVisible()) {
                m_progress->show();
                m_progress->raise();
            }
        }
    }
    void progressHide() override {
        if (m_progress != nullptr) {
            m_progress->hide();
        }
    }

private:
    Prompts& m_prompts;
    ProgressWindow* m_progress = nullptr;
};

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
    setFixedSize(978, 652 + menuBar()->sizeHint().height());
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
        // whatever folder the program was started from.
        m_customMcr->saveUnnamedSetup = [this] {
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
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("clientArea"));
    setCentralWidget(central);

    m_keyGrid = new QTableWidget(kGridRows, kGridColumns, central);
    m_keyGrid->setObjectName(QStringLiteral("keyGrid"));
    m_keyGrid->horizontalHeader()->hide();
    m_keyGrid->verticalHeader()->hide();
    m_keyGrid->horizontalHeader()->setMinimumSectionSize(10);
    m_keyGrid->verticalHeader()->setMinimumSectionSize(10);
    m_keyGrid->horizontalHeader()->setDefaultSectionSize(kCellPixelsWide);
    m_keyGrid->verticalHeader()->setDefaultSectionSize(kCellPixelsHigh);
    m_keyGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_keyGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_keyGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_keyGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_keyGrid->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_keyGrid->setTextElideMode(Qt::ElideNone);
    m_keyGrid->setWordWrap(false);
    m_keyGrid->setShowGrid(true);
    m_keyGrid->setTabKeyNavigation(false);
    QFont gridFont(QStringLiteral("Liberation Sans Narrow"), 8);
    gridFont.setStyleHint(QFont::SansSerif);
    m_keyGrid->setFont(gridFont);
    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kGridColumns; ++column) {
            auto* item = new QTableWidgetItem(CenterCellText(QString(), kCellWidth));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            m_keyGrid->setItem(row, column, item);
        }
    }
    m_keyGrid->setGeometry(2, 2, kGridColumns * kCellPixelsWide + 2,
                           kGridRows * kCellPixelsHigh + 2);
    m_keyGrid->installEventFilter(this);

    m_keyStringLabel = new QLabel(QStringLiteral("Key 1 String:"), central);
    m_keyStringLabel->setObjectName(QStringLiteral("keyStringLabel"));
    m_keyStringLabel->setGeometry(10, 270, 140, 24);
    m_keyStringEdit = new QLineEdit(central);
    m_keyStringEdit->setObjectName(QStringLiteral("keyStringEdit"));
    m_keyStringEdit->setGeometry(150, 270, 401, 26);
    m_func2StringLabel = new QLabel(QStringLiteral("Key 1 Func2 String:"), central);
    m_func2StringLabel->setObjectName(QStringLiteral("func2StringLabel"));
    m_func2StringLabel->setGeometry(10, 306, 140, 24);
    m_func2StringEdit = new QLineEdit(central);
    m_func2StringEdit->setObjectName(QStringLiteral("func2StringEdit"));
    m_func2StringEdit->setGeometry(150, 306, 401, 26);
    for (QLineEdit* line : {m_keyStringEdit, m_func2StringEdit}) {
        QFont font = line->font();
        font.setPointSize(10);
        line->setFont(font);
        line->installEventFilter(this);
    }

    m_lineSelector = new QGroupBox(central);
    m_lineSelector->setObjectName(QStringLiteral("lineSelector"));
    m_lineSelector->setGeometry(556, 264, 30, 72);
    m_lineButtons = new QButtonGroup(this);
    for (int line = 0; line < 2; ++line) {
        auto* button = new QRadioButton(m_lineSelector);
        button->setObjectName(QStringLiteral("lineSelectorButton%1").arg(line));
        button->setGeometry(8, 9 + line * 36, 18, 20);
        m_lineButtons->addButton(button, line);
    }
    m_lineButtons->button(0)->setChecked(true);

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

    m_keyboard = new OnScreenKeyboard(central);
    m_keyboard->setObjectName(QStringLiteral("keyboard"));
    m_keyboard->setGeometry(6, 346, 691, 203);

    m_modifierChoice = new QGroupBox(central);
    m_modifierChoice->setObjectName(QStringLiteral("modifierChoice"));
    m_modifierChoice->setGeometry(706, 346, 80, 132);
    auto* shiftLayout = new QVBoxLayout(m_modifierChoice);
    m_modifierButtons = new QButtonGroup(this);
    const QStringList modifiers = {QStringLiteral("None"), QStringLiteral("Shift"),
                                   QStringLiteral("Alt"), QStringLiteral("Ctrl")};
    for (int index = 0; index < modifiers.size(); ++index) {
        auto* button = new QRadioButton(modifiers[index], m_modifierChoice);
        button->setObjectName(QStringLiteral("modifier") + modifiers[index]);
        m_modifierButtons->addButton(button, index);
        shiftLayout->addWidget(button);
    }
    m_modifierButtons->button(0)->setChecked(true);
    auto* plus = new QLabel(QStringLiteral("+"), central);
    plus->setObjectName(QStringLiteral("plusLabel"));
    QFont plusFont = plus->font();
    plusFont.setBold(true);
    plusFont.setPointSize(14);
    plus->setFont(plusFont);
    plus->setAlignment(Qt::AlignCenter);
    plus->setGeometry(786, 396, 24, 30);

    m_specialKeyList = new QListWidget(central);
    m_specialKeyList->setObjectName(QStringLiteral("specialKeyList"));
    for (const std::string_view item : SpecialKeyItems()) {
        m_specialKeyList->addItem(latin1(item));
    }
    m_specialKeyList->setCurrentRow(0);
    m_specialKeyList->setGeometry(812, 346, 160, 164);

    m_addSpecialKeyButton = new QPushButton(QStringLiteral("Add Special Key"), central);
    m_addSpecialKeyButton->setObjectName(QStringLiteral("addSpecialKeyButton"));
    m_addSpecialKeyButton->setGeometry(706, 516, 266, 33);

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
    connect(m_keyStringEdit, &QLineEdit::textChanged, this, &MainWindow::onKeyStringEdited);
    connect(m_func2StringEdit, &QLineEdit::textChanged, this, &MainWindow::onFunc2StringEdited);
    connect(m_keyStringEdit, &QLineEdit::textChanged, this, &MainWindow::updateLineHint);
    connect(m_func2StringEdit, &QLineEdit::textChanged, this, &MainWindow::updateLineHint);
    connect(m_lineButtons, &QButtonGroup::idToggled, this, &MainWindow::updateLineHint);
    connect(m_lockSetupCheck, &QCheckBox::toggled, this, &MainWindow::onLockToggled);
    connect(m_programButton, &QPushButton::clicked, this, &MainWindow::StartProgramming);
    connect(m_addSpecialKeyButton, &QPushButton::clicked, this, &MainWindow::addSpecialKey);
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
    addItem(file, QStringLiteral("exitAction"), QStringLiteral("E&xit"), QKeySequence(),
            [this] { exitWithoutSaving(); });
    // Top-level items that act at once.
    addItem(bar, QStringLiteral("mcrSetupAction"), QStringLiteral("&MCR Setup"), QKeySequence(),
            [this] { showMcrSetup(); });
    addItem(bar, QStringLiteral("programAction"), QStringLiteral("Program QK750"),
            QKeySequence(Qt::Key_F10), [this] { StartProgramming(); });
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
    hooks.focusGrid = [this] { m_keyGrid->setFocus(); };
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
}

QString MainWindow::cellText(int column, int row) const {
    const QTableWidgetItem* item = m_keyGrid->item(row, column);
    return item != nullptr ? item->text() : QString();
}

void MainWindow::UpdateGridCell(int column, int row, bool compact) {
    if (lineSelector() != 0) {
        return;
    }
    drawCell(column, row, compact);
}

void MainWindow::drawCell(int column, int row, bool compact) {
    if (row < 0 || row >= kGridRows || column < 0 || column >= kGridColumns) {
        return;
    }
    const QString keyString = latin1(m_state->Setup.KeyStrings[keyAt(row, column)]);
    m_keyGrid->item(row, column)->setText(cellTextFor(keyString, compact));
}

void MainWindow::RefreshGrid() {
    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kGridColumns; ++column) {
            UpdateGridCell(column, row, true);
        }
    }
    const auto lengths = allCompiledLengths(m_state->Setup);
    for (int key = 1; key <= kKeyCount; ++key) {
        markCell(key, lengths[static_cast<std::size_t>(key)]);
    }
    updateMemoryMeter();
}

void MainWindow::redrawKeepingForm(int column, int row) {
    UpdateGridCell(column, row, cellText(column, row).size() <= kCellWidth);
}

int MainWindow::currentKey() const {
    const int row = std::max(0, m_keyGrid->currentRow());
    const int column = std::max(0, m_keyGrid->currentColumn());
    return keyAt(row, column);
}

void MainWindow::selectKey(int key) {
    if (key >= 1 && key <= kKeyCount) {
        m_keyGrid->setCurrentCell(keyRow(key), keyColumn(key));
    }
}

int MainWindow::lineSelector() const {
    return m_lineButtons->checkedId() == 1 ? 1 : 0;
}

void MainWindow::setLineSelector(int line) {
    m_lineButtons->button(line == 1 ? 1 : 0)->setChecked(true);
}

QString MainWindow::statusText() const {
    return m_statusLabel->text();
}

void MainWindow::setStatusText(const QString& text) {
    m_statusLabel->setText(text);
}

void MainWindow::ShowSelectedKey() {
    const int key = currentKey();
    m_func2StringEdit->setText(trimBlanks(latin1(m_state->Setup.Func2Strings[key])));
    m_func2StringEdit->setCursorPosition(static_cast<int>(m_func2StringEdit->text().size()));
    m_func2StringLabel->setText(latin1(func2StringLabel(key)));
    m_keyStringEdit->setText(trimBlanks(latin1(m_state->Setup.KeyStrings[key])));
    m_keyStringEdit->setCursorPosition(static_cast<int>(m_keyStringEdit->text().size()));
    m_keyStringLabel->setText(latin1(keyStringLabel(key)));
}

void MainWindow::FocusKeyEdit() {
    QLineEdit* line = lineSelector() == 1 ? m_func2StringEdit : m_keyStringEdit;
    if (line->isEnabled()) {
        line->setFocus();
    }
}

void MainWindow::onCurrentCellChanged(int row, int column, int previousRow, int previousColumn) {
    if (row < 0 || column < 0) {
        return;
    }
    UpdateGridCell(previousColumn, previousRow, false);
    m_state->Globals.EditTarget = kEditKeyLines;
    m_linesLoading = true;
    const int key = keyAt(row, column);
    m_keyStringEdit->setText(trimBlanks(latin1(m_state->Setup.KeyStrings[key])));
    m_func2StringEdit->setText(trimBlanks(latin1(m_state->Setup.Func2Strings[key])));
    m_keyStringLabel->setText(latin1(keyStringLabel(key)));
    m_func2StringLabel->setText(latin1(func2StringLabel(key)));
    if (previousRow >= 0 && previousColumn >= 0) {
        m_prevRow = static_cast<std::uint8_t>(previousRow);
        m_prevColumn = static_cast<std::uint8_t>(previousColumn);
    }
}

void MainWindow::onCellClicked() {
    m_keyTouched = false;
    redrawKeepingForm(m_prevColumn, m_prevRow);
    ShowSelectedKey();
    m_state->Globals.EditTarget = kEditKeyLines;
    const int row = std::max(0, m_keyGrid->currentRow());
    const int column = std::max(0, m_keyGrid->currentColumn());
    redrawKeepingForm(column, row);
    m_prevRow = static_cast<std::uint8_t>(row);
    m_prevColumn = static_cast<std::uint8_t>(column);
    FocusKeyEdit();
    setLineSelector(0);
}

void MainWindow::onKeyStringEdited() {
    if (m_linesLoading) {
        return;
    }
    const int key = currentKey();
    m_state->Setup.KeyStrings[key] = bytes(m_keyStringEdit->text());
    UpdateGridCell(std::max(0, m_keyGrid->currentColumn()), std::max(0, m_keyGrid->currentRow()),
                   true);
    setLineSelector(0);
    markCell(key);
    updateMemoryMeter();
}

void MainWindow::onFunc2StringEdited() {
    if (m_linesLoading) {
        return;
    }
    const int key = currentKey();
    m_state->Setup.Func2Strings[key] = bytes(m_func2StringEdit->text());
    setLineSelector(1);
    markCell(key);
    updateMemoryMeter();
}

void MainWindow::AppendToActiveLine(const QString& text) {
    m_linesLoading = false;
    switch (m_state->Globals.EditTarget) {
        case kEditKeyLines: {
            m_undoKey = {};
            QLineEdit* line = lineSelector() == 1 ? m_func2StringEdit : m_keyStringEdit;
            line->setText(line->text() + text);
            line->setCursorPosition(static_cast<int>(line->text().size()));
            m_keyTouched = true;
            break;
        }
        case kEditPreamble:
        case kEditPostamble:
            if (m_customMcr != nullptr) {
                m_customMcr->appendToLine(m_state->Globals.EditTarget, text);
            }
            break;
        default:
            break;
    }
    m_linesLoading = true;
}

void MainWindow::addSpecialKey() {
    const auto modifier =
        static_cast<SpecialKeyModifier>(std::clamp(m_modifierButtons->checkedId(), 0, 3));
    const QListWidgetItem* selected = m_specialKeyList->currentItem();
    if (selected != nullptr) {
        const std::string item = bytes(selected->text());
        const QString tag = latin1(SpecialKeyTag(item, modifier));
        if (isFunc2Item(item)) {
            // A Func2 key holds exactly its tag in both strings.
            m_linesLoading = false;
            m_keyStringEdit->clear();
            m_func2StringEdit->clear();
            setLineSelector(1);
            AppendToActiveLine(tag);
            setLineSelector(0);
        }
        AppendToActiveLine(tag);
    }
    m_modifierButtons->button(0)->setChecked(true);
}

void MainWindow::setLinesQuietly(const QString& keyString, const QString& func2String) {
    const bool loading = m_linesLoading;
    m_linesLoading = true;
    m_keyStringEdit->setText(keyString);
    m_func2StringEdit->setText(func2String);
    m_linesLoading = loading;
}

void MainWindow::deleteWholeKey(int key) {
    m_undoKey = {key, m_state->Setup.KeyStrings[key], m_state->Setup.Func2Strings[key]};
    setLinesQuietly(QString(), QString());
    m_state->Setup.KeyStrings[key].clear();
    m_state->Setup.Func2Strings[key].clear();
    // Also when the Func2 line is active: the cell must not keep the deleted text.
    drawCell(keyColumn(key), keyRow(key), false);
    m_keyTouched = false;
    markCell(key);
    updateMemoryMeter();
}

void MainWindow::restoreKey(int key) {
    setLinesQuietly(latin1(m_undoKey.keyString), latin1(m_undoKey.func2String));
    m_state->Setup.KeyStrings[key] = m_undoKey.keyString;
    m_state->Setup.Func2Strings[key] = m_undoKey.func2String;
    drawCell(keyColumn(key), keyRow(key), false);
    setLineSelector(0);
    markCell(key);
    updateMemoryMeter();
}

bool MainWindow::gridKeyPress(const QKeyEvent& key) {
    m_keyTouched = true;
    const int n = currentKey();
    const Qt::KeyboardModifiers modifiers = key.modifiers();
    const bool ctrlOrAlt = (modifiers & (Qt::ControlModifier | Qt::AltModifier)) != 0;
    const QString text = key.text();
    const bool character = !ctrlOrAlt && text.size() == 1 && text.at(0).unicode() >= 32 &&
                           text.at(0).unicode() != 127 && text.at(0).unicode() <= 0xff;
    const bool edits = key.key() == Qt::Key_Delete || key.key() == Qt::Key_Return ||
                       key.key() == Qt::Key_Enter || character ||
                       (key.key() == Qt::Key_Z && (modifiers & Qt::ControlModifier) != 0);
    if (!edits) {
        // Arrows, paging and Tab move as the grid does.
        return false;
    }
    if (m_lockSetupCheck->isChecked()) {
        // A locked setup is not changed from the grid either.
        return true;
    }
    if (key.key() == Qt::Key_Delete) {
        if (m_prompts->confirm(latin1(deleteKeyQuestion(n)))) {
            deleteWholeKey(n);
            setLineSelector(0);
        }
    } else if (key.key() == Qt::Key_Z) {
        if (mayRestoreKey(n, m_undoKey) && m_prompts->confirm(latin1(restoreKeyQuestion(n)))) {
            restoreKey(n);
        }
    } else if (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) {
        AppendToActiveLine(QStringLiteral("<Enter>"));
        FocusKeyEdit();
    } else {
        // Typing on the grid goes on in the line.
        AppendToActiveLine(text);
        FocusKeyEdit();
    }
    return true;
}

bool MainWindow::lineKeyPress(const QKeyEvent& key, int line) {
    QLineEdit* edit = line == 1 ? m_func2StringEdit : m_keyStringEdit;
    m_linesLoading = false;
    const LineKeyDecision decision =
        decideLineKey(lineKeyOf(key), bytes(edit->text()), caretOf(*edit), selectionLengthOf(*edit),
                      m_keyTouched);
    if (decision.touchesKey) {
        m_keyTouched = true;
    }
    using Action = LineKeyDecision::Action;
    switch (decision.action) {
        case Action::PassToLine:
            return false;
        case Action::FocusGrid:
            if (m_keyGrid->isEnabled()) {
                m_keyGrid->setFocus();
            }
            return true;
        case Action::AppendEnter:
            AppendToActiveLine(QStringLiteral("<Enter>"));
            if (edit->isEnabled()) {
                edit->setFocus();
            }
            return true;
        case Action::AskDeleteWholeKey: {
            const int n = currentKey();
            if (!m_prompts->confirm(latin1(deleteKeyQuestion(n)))) {
                return false;
            }
            deleteWholeKey(n);
            return true;
        }
        case Action::SetText: {
            const QString text = latin1(decision.edit.text);
            if (edit->text() != text) {
                edit->setText(text);
            }
            edit->setCursorPosition(decision.edit.caret);
            return decision.edit.consumed;
        }
    }
    return false;
}

QString MainWindow::memoryMeterLabel() const {
    return m_memoryMeterLabel->text();
}

QString MainWindow::lineHintText() const {
    // The label may be cut to its width; its tooltip holds the whole text.
    return m_lineHintLabel->toolTip();
}

void MainWindow::updateMemoryMeter() {
    if (m_memoryMeter == nullptr) {
        return;
    }
    // The MCR lines count as the next run will gather them; the record stays as it is.
    SetupRecord gathered = m_state->Setup;
    if (m_customMcr != nullptr) {
        m_customMcr->gatherSettings(gathered.Mcr);
    }
    m_memoryUse = computeMemoryUse(gathered);
    QString text = latin1(memoryMeterText(m_memoryUse));
    const std::string failure = imageFailureText(m_memoryUse.result);
    if (!failure.empty()) {
        text += QStringLiteral(": ") + latin1(failure);
    }
    m_memoryMeterLabel->setText(text);
    m_memoryMeter->setValue(std::min(m_memoryUse.used, m_memoryMeter->maximum()));

    QColor colour;
    if (m_memoryUse.level == MemoryLevel::Error) {
        colour = kErrorColour;
    } else if (m_memoryUse.level == MemoryLevel::Warning) {
        colour = kWarningColour;
    }
    QPalette labelPalette = palette();
    QPalette barPalette = palette();
    if (colour.isValid()) {
        labelPalette.setColor(QPalette::WindowText, colour);
        barPalette.setColor(QPalette::Highlight, colour);
    }
    m_memoryMeterLabel->setPalette(labelPalette);
    m_memoryMeter->setPalette(barPalette);
}

void MainWindow::markCell(int key) {
    markCell(key, compiledLengths(m_state->Setup, key));
}

void MainWindow::markCell(int key, const KeyLengths& lengths) {
    QTableWidgetItem* item = m_keyGrid->item(keyRow(key), keyColumn(key));
    item->setToolTip(latin1(keyLengthsTooltip(lengths)));
    if (lengths.tooLong()) {
        item->setForeground(kErrorColour);
        item->setBackground(kTooLongBackground);
    } else {
        item->setData(Qt::ForegroundRole, QVariant());
        item->setData(Qt::BackgroundRole, QVariant());
    }
}

void MainWindow::updateLineHint() {
    const QLineEdit* line = lineSelector() == 1 ? m_func2StringEdit : m_keyStringEdit;
    QStringList texts;
    for (const NameHint& hint : unknownNames(bytes(line->text()))) {
        texts << latin1(hint.text);
    }
    const QString whole = texts.join(QStringLiteral("   "));
    m_lineHintLabel->setToolTip(whole);
    m_lineHintLabel->setText(
        m_lineHintLabel->fontMetrics().elidedText(whole, Qt::ElideRight, m_lineHintLabel->width()));
}

void MainWindow::LoadSetupIntoDialogs() {
    if (m_customMcr != nullptr) {
        m_customMcr->showSettings(m_state->Setup.Mcr);
    }
    // Emptying the line only clears the display; it must not empty the current key.
    const bool loading = m_linesLoading;
    m_linesLoading = true;
    m_keyStringEdit->clear();
    m_linesLoading = loading;
    m_lockSetupCheck->setChecked(m_state->Setup.Mcr.LockedSetup);
    setLineSelector(0);
    RefreshGrid();
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

std::string MainWindow::chooseFileName(bool save) {
    FileDialogRequest request;
    request.save = save;
    request.defaultSuffix = QStringLiteral("INI");
    request.objectName = save ? QStringLiteral("saveDialog") : QStringLiteral("openDialog");
    request.initialFile = save ? QStringLiteral("default") : QStringLiteral("default.ini");
    request.filter = save ? kSaveFilter : kOpenFilter;
    request.directory = pathText(DirectoryOf(m_state->SetupFileName));
    return QFile::encodeName(m_prompts->fileName(request)).toStdString();
}

bool MainWindow::saveTo(const std::string& path) {
    m_state->SetupFileName = WithIniExtension(path);
    const SaveResult saved = SaveSetupIni(m_state->Setup, m_state->SetupFileName);
    UpdateTitle();
    if (!saved.ok) {
        // The old file stays as it was.
        m_prompts->error(saveFailedText(m_state->SetupFileName, saved.error));
        return false;
    }
    if (!m_quietSave) {
        m_prompts->information(QStringLiteral(" QK750 Setup was saved in file ") +
                               pathText(fileNamePart(m_state->SetupFileName)));
    }
    return true;
}

bool MainWindow::saveSetup() {
    CollectMcrSettings();
    if (fileNamePart(m_state->SetupFileName) == ".INI") {
        const std::string chosen = chooseFileName(true);
        if (chosen.empty()) {
            return false;
        }
        return saveTo(chosen);
    }
    return saveTo(m_state->SetupFileName);
}

void MainWindow::saveSetupAs() {
    CollectMcrSettings();
    const std::string chosen = chooseFileName(true);
    if (!chosen.empty()) {
        saveTo(chosen);
    }
}

void MainWindow::newSetup() {
    if (fileNamePart(m_state->SetupFileName) != ".INI") {
        m_quietSave = true;
    }
    saveSetup();
    m_quietSave = false;
    m_state->SetupFileName = ".INI";
    UpdateTitle();
    ClearSetup(m_state->Setup);
    LoadSetupIntoDialogs();
}

void MainWindow::reportLoad(const LoadResult& result) {
    if (!result.kbdImport) {
        return;
    }
    if (result.kbdStatus == KbdImportStatus::InvalidSize) {
        m_prompts->error(
            QString::fromLatin1(kInvalidKbdFileSizeText.data(),
                                static_cast<qsizetype>(kInvalidKbdFileSizeText.size())));
    } else if (result.kbdStatus == KbdImportStatus::Ok && !result.save.ok) {
        m_prompts->error(saveFailedText(m_state->SetupFileName, result.save.error));
    }
}

void MainWindow::openSetup() {
    setLineSelector(0);
    const std::string chosen = chooseFileName(false);
    if (chosen.empty()) {
        return;
    }
    m_state->SetupFileName = chosen;
    UpdateTitle();
    ClearSetup(m_state->Setup);
    LoadSetupIntoDialogs();
    reportLoad(LoadSetupFile(*m_state));
    UpdateTitle();
    m_keyGrid->setCurrentCell(0, 0);
    LoadSetupIntoDialogs();
    ShowSelectedKey();
}

void MainWindow::exitWithoutSaving() {
    // Ends the program without the close-time save.
    m_exiting = true;
    close();
    QCoreApplication::exit(0);
}

void MainWindow::showMcrSetup() {
    if (m_customMcr == nullptr) {
        return;
    }
    m_state->Globals.EditTarget = kEditPreamble;
    showOwned(this, m_customMcr);
    m_state->Globals.EditTarget = kEditKeyLines;
}

void MainWindow::showAbout() {
    if (m_about != nullptr) {
        showOwned(this, m_about);
    }
}

void MainWindow::testKeys() {
    if (m_keyTest == nullptr) {
        return;
    }
    setEnabled(false);
    m_keyTest->keyLog()->clear();
    m_keyTest->show();
    m_keyTest->raise();
    m_keyTest->activateWindow();
    if (!m_keyTest->installHook()) {
        // The window stays open and can be closed as usual.
        m_prompts->error(QStringLiteral("Error To Hook"));
    }
    waitUntilHidden(m_keyTest);
    setEnabled(true);
    if (m_closing) {
        return;
    }
    show();
    activateWindow();
    setFocus();
}

void MainWindow::StartProgramming() {
    m_run->StartProgramming();
}

bool MainWindow::ProgrammingBusy() const {
    return m_run->ProgrammingBusy();
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
    m_state->ProgrammingOk = false;
    const LoadResult loaded = LoadSetupFile(*m_state);
    reportLoad(loaded);
    ImportDatFile(m_state->Setup, m_state->DatImportPath);
    LoadSetupIntoDialogs();
    m_state->Globals.EditTarget = kEditKeyLines;
    m_state->Globals.StopWaiting = false;
    m_run->clearBusy();
    // The loaded file may have a new name (a KBD or DAT file becomes its INI twin).
    UpdateTitle();

    m_devices->applySelection();
    m_deviceList->clear();
    for (int index = 0; index < m_devices->count(); ++index) {
        m_deviceList->addItem(latin1(m_devices->name(index)));
    }
    m_keyGrid->setFocus();
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

bool MainWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        firstActivation();
        everyActivation();
    }
    return QMainWindow::event(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!m_exiting) {
        // Ends every wait and aborts a run in progress; the setup is saved quietly, and
        // the window closes whatever the Save dialog's answer.
        m_state->Globals.StopWaiting = true;
        m_quietSave = true;
        saveSetup();
        m_quietSave = false;
    }
    m_closing = true;
    // An owned window still open would keep its flow waiting, and the program running,
    // after the main window has gone.
    for (QWidget* owned :
         std::initializer_list<QWidget*>{m_keyTest, m_builtInMcr, m_customMcr, m_about}) {
        if (owned != nullptr && owned->isVisible()) {
            owned->close();
        }
    }
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == m_keyGrid) {
        if (type == QEvent::FocusIn) {
            ShowSelectedKey();
            m_state->Globals.EditTarget = kEditKeyLines;
        } else if (type == QEvent::FocusOut) {
            UpdateGridCell(std::max(0, m_keyGrid->currentColumn()),
                           std::max(0, m_keyGrid->currentRow()), false);
        } else if (type == QEvent::KeyPress) {
            if (gridKeyPress(*static_cast<QKeyEvent*>(event))) {
                return true;
            }
        }
    } else if (watched == m_keyStringEdit || watched == m_func2StringEdit) {
        const int line = watched == m_keyStringEdit ? 0 : 1;
        if (type == QEvent::FocusIn) {
            setLineSelector(line);
            m_state->Globals.EditTarget = kEditKeyLines;
        } else if (type == QEvent::MouseButtonRelease) {
            setLineSelector(line);
            ShowSelectedKey();
            m_state->Globals.EditTarget = kEditKeyLines;
        } else if (type == QEvent::KeyPress) {
            if (lineKeyPress(*static_cast<QKeyEvent*>(event), line)) {
                return true;
            }
        }
    } else if (watched == m_lockSetupCheck && type == QEvent::FocusOut) {
        ApplySetupLock();
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace qk750
