#include "ui/ZQ_setup_u.h"

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
#include <QTimer>
#include <QVBoxLayout>

#include <array>
#include <iostream>

#include "app/initial_load.h"
#include "app/programming_run.h"
#include "app/qt_event_loop.h"
#include "setup/file_names.h"
#include "setup/legacy_import.h"
#include "ui/CustomMCR.h"
#include "ui/FixedMCR.h"
#include "ui/Keyboard.h"
#include "ui/ZQ_setup_about_u.h"
#include "ui/prompts.h"
#include "ui/status.h"
#include "ui/tstkeys.h"
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
    void setStatusForm(TStatusForm* status) { m_status = status; }

    void failure(std::string_view, std::string_view, std::string_view message) override {
        m_prompts.error(
            QString::fromLatin1(message.data(), static_cast<qsizetype>(message.size())));
    }
    bool askToConnect(std::string_view message) override {
        return m_prompts.errorOkCancel(
            QString::fromLatin1(message.data(), static_cast<qsizetype>(message.size())));
    }
    void progressStart(int maximum) override {
        if (m_status != nullptr) {
            m_status->setEnabled(false);
            m_status->setRange(maximum, 1);
            m_status->setEnabled(true);
        }
    }
    void progressStep(int position, int) override {
        if (m_status != nullptr) {
            m_status->setPosition(position);
            if (!m_status->isVisible()) {
                m_status->show();
                m_status->raise();
            }
        }
    }
    void progressHide() override {
        if (m_status != nullptr) {
            m_status->hide();
        }
    }

private:
    Prompts& m_prompts;
    TStatusForm* m_status = nullptr;
};

TfrmSettings::TfrmSettings(MainWindowServices services, QWidget* parent)
    : QMainWindow(parent),
      m_state(services.state),
      m_prompts(services.prompts),
      m_platform(std::move(services.platform)),
      m_waits(services.waits),
      m_trace(services.trace) {
    setObjectName(QStringLiteral("frmSettings"));
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

TfrmSettings::~TfrmSettings() = default;

void TfrmSettings::setWindows(TfrmAbout* about, TStatusForm* status, TMCRCustomForm* customMcr,
                              TFixedMcrSetupForm* builtInMcr) {
    m_about = about;
    m_status = status;
    m_customMcr = customMcr;
    m_builtInMcr = builtInMcr;
    m_reporter->setStatusForm(status);
    if (m_customMcr != nullptr) {
        m_customMcr->collectMcrSettings = [this] { CollectMcrSettings(); };
        m_customMcr->appendToActiveLine = [this](const QString& text) { AppendToActiveLine(text); };
        // An unnamed setup is saved under a name the operator chooses, not as ".INI" in
        // whatever folder the program was started from.
        m_customMcr->saveUnnamedSetup = [this] {
            m_quietSave = true;
            const bool saved = Save1Click();
            m_quietSave = false;
            return saved;
        };
        connect(m_customMcr, &TMCRCustomForm::linesChanged, this, &TfrmSettings::updateMemoryMeter);
    }
    updateMemoryMeter();
}

void TfrmSettings::buildControls() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(central);

    m_grid = new QTableWidget(kGridRows, kGridColumns, central);
    m_grid->setObjectName(QStringLiteral("KeyboardStringGrid"));
    m_grid->horizontalHeader()->hide();
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setMinimumSectionSize(10);
    m_grid->verticalHeader()->setMinimumSectionSize(10);
    m_grid->horizontalHeader()->setDefaultSectionSize(kCellPixelsWide);
    m_grid->verticalHeader()->setDefaultSectionSize(kCellPixelsHigh);
    m_grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_grid->setTextElideMode(Qt::ElideNone);
    m_grid->setWordWrap(false);
    m_grid->setShowGrid(true);
    m_grid->setTabKeyNavigation(false);
    QFont gridFont(QStringLiteral("Liberation Sans Narrow"), 8);
    gridFont.setStyleHint(QFont::SansSerif);
    m_grid->setFont(gridFont);
    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kGridColumns; ++column) {
            auto* item = new QTableWidgetItem(CenterCellText(QString(), kCellWidth));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            m_grid->setItem(row, column, item);
        }
    }
    m_grid->setGeometry(2, 2, kGridColumns * kCellPixelsWide + 2, kGridRows * kCellPixelsHigh + 2);
    m_grid->installEventFilter(this);

    m_keyStringLabel = new QLabel(QStringLiteral("Key 1 String:"), central);
    m_keyStringLabel->setObjectName(QStringLiteral("KeyStringLabel"));
    m_keyStringLabel->setGeometry(10, 270, 140, 24);
    m_keyString = new QLineEdit(central);
    m_keyString->setObjectName(QStringLiteral("edKeyString"));
    m_keyString->setGeometry(150, 270, 401, 26);
    m_keyStringLabel2 = new QLabel(QStringLiteral("Key 1 Func2 String:"), central);
    m_keyStringLabel2->setObjectName(QStringLiteral("KeyStringLabel2"));
    m_keyStringLabel2->setGeometry(10, 306, 140, 24);
    m_keyString2 = new QLineEdit(central);
    m_keyString2->setObjectName(QStringLiteral("edKeyString2"));
    m_keyString2->setGeometry(150, 306, 401, 26);
    for (QLineEdit* line : {m_keyString, m_keyString2}) {
        QFont font = line->font();
        font.setPointSize(10);
        line->setFont(font);
        line->installEventFilter(this);
    }

    m_lineSelectorGroup = new QGroupBox(central);
    m_lineSelectorGroup->setObjectName(QStringLiteral("RadioGroup1"));
    m_lineSelectorGroup->setGeometry(556, 264, 30, 72);
    m_lineSelector = new QButtonGroup(this);
    for (int line = 0; line < 2; ++line) {
        auto* button = new QRadioButton(m_lineSelectorGroup);
        button->setObjectName(QStringLiteral("RadioGroup1Line%1").arg(line));
        button->setGeometry(8, 9 + line * 36, 18, 20);
        m_lineSelector->addButton(button, line);
    }
    m_lineSelector->button(0)->setChecked(true);

    m_lockBox = new QCheckBox(QStringLiteral("Lock Setup"), central);
    m_lockBox->setObjectName(QStringLiteral("LockSetupCheckBox"));
    QFont lockFont = m_lockBox->font();
    lockFont.setBold(true);
    m_lockBox->setFont(lockFont);
    m_lockBox->setGeometry(620, 288, 160, 24);
    m_lockBox->installEventFilter(this);

    m_program = new QPushButton(QStringLiteral("       Program ZQ USB QK750 Keyboard "), central);
    m_program->setObjectName(QStringLiteral("Program1"));
    QFont programFont = m_program->font();
    programFont.setBold(true);
    programFont.setPointSize(11);
    m_program->setFont(programFont);
    m_program->setIcon(programPixmap(40));
    m_program->setIconSize(QSize(40, 40));
    m_program->setGeometry(194, 562, 590, 58);

    m_keyboard = new TKeyboard(central);
    m_keyboard->setObjectName(QStringLiteral("Keyboard1"));
    m_keyboard->setGeometry(6, 346, 691, 203);

    m_shiftGroup = new QGroupBox(central);
    m_shiftGroup->setObjectName(QStringLiteral("ShiftKeysRadioGroup"));
    m_shiftGroup->setGeometry(706, 346, 80, 132);
    auto* shiftLayout = new QVBoxLayout(m_shiftGroup);
    m_shiftKeys = new QButtonGroup(this);
    const QStringList modifiers = {QStringLiteral("None"), QStringLiteral("Shift"),
                                   QStringLiteral("Alt"), QStringLiteral("Ctrl")};
    for (int index = 0; index < modifiers.size(); ++index) {
        auto* button = new QRadioButton(modifiers[index], m_shiftGroup);
        button->setObjectName(QStringLiteral("ShiftKeys") + modifiers[index]);
        m_shiftKeys->addButton(button, index);
        shiftLayout->addWidget(button);
    }
    m_shiftKeys->button(0)->setChecked(true);
    auto* plus = new QLabel(QStringLiteral("+"), central);
    plus->setObjectName(QStringLiteral("PlusLabel"));
    QFont plusFont = plus->font();
    plusFont.setBold(true);
    plusFont.setPointSize(14);
    plus->setFont(plusFont);
    plus->setAlignment(Qt::AlignCenter);
    plus->setGeometry(786, 396, 24, 30);

    m_specialList = new QListWidget(central);
    m_specialList->setObjectName(QStringLiteral("SpecialListBox"));
    for (const std::string_view item : SpecialKeyItems()) {
        m_specialList->addItem(latin1(item));
    }
    m_specialList->setCurrentRow(0);
    m_specialList->setGeometry(812, 346, 160, 164);

    m_addSpecial = new QPushButton(QStringLiteral("Add Special Key"), central);
    m_addSpecial->setObjectName(QStringLiteral("Button1"));
    m_addSpecial->setGeometry(706, 516, 266, 33);

    m_devListBox = new QListWidget(central);
    m_devListBox->setObjectName(QStringLiteral("DevListBox"));
    m_devListBox->hide();
    m_history = new QListWidget(central);
    m_history->setObjectName(QStringLiteral("HistoryListBox"));
    m_history->hide();

    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("StatusBar1"));
    status->setSizeGripEnabled(false);
    m_statusLabel = new QLabel(status);
    m_statusLabel->setObjectName(QStringLiteral("StatusText"));
    status->addWidget(m_statusLabel, 1);
    // The memory meter stays on the right; the status text on the left is the one that
    // programming trims.
    m_memoryLabel = new QLabel(status);
    m_memoryLabel->setObjectName(QStringLiteral("MemoryMeterLabel"));
    m_memoryBar = new QProgressBar(status);
    m_memoryBar->setObjectName(QStringLiteral("MemoryMeter"));
    m_memoryBar->setTextVisible(false);
    m_memoryBar->setFixedSize(120, 12);
    m_memoryBar->setRange(0, kStringAreaCapacity);
    const QString meterTip = QStringLiteral("Key-string memory the next programming run uses");
    m_memoryBar->setToolTip(meterTip);
    m_memoryLabel->setToolTip(meterTip);
    status->addPermanentWidget(m_memoryLabel);
    status->addPermanentWidget(m_memoryBar);
    status->setContentsMargins(0, 0, 8, 0);
    setStatusBar(status);

    // One line under the two key-string lines, above the on-screen keyboard.
    m_lineHint = new QLabel(central);
    m_lineHint->setObjectName(QStringLiteral("LineHintLabel"));
    QFont hintFont = m_lineHint->font();
    hintFont.setPointSize(8);
    m_lineHint->setFont(hintFont);
    QPalette hintPalette = m_lineHint->palette();
    hintPalette.setColor(QPalette::WindowText, kWarningColour);
    m_lineHint->setPalette(hintPalette);
    m_lineHint->setGeometry(150, 332, 548, 14);

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(1000);
    connect(m_timer1, &QTimer::timeout, m_timer1, &QTimer::stop);
    m_timer1->start();

    connect(m_grid, &QTableWidget::currentCellChanged, this,
            &TfrmSettings::KeyboardStringGridSelectCell);
    connect(m_grid, &QTableWidget::cellClicked, this, [this] { KeyboardStringGridClick(); });
    connect(m_grid, &QTableWidget::cellDoubleClicked, this, [this] {
        m_keyTouched = false;
        KeyboardStringGridClick();
    });
    connect(m_keyString, &QLineEdit::textChanged, this, &TfrmSettings::edKeyStringChange);
    connect(m_keyString2, &QLineEdit::textChanged, this, &TfrmSettings::edKeyString2Change);
    connect(m_keyString, &QLineEdit::textChanged, this, &TfrmSettings::updateLineHint);
    connect(m_keyString2, &QLineEdit::textChanged, this, &TfrmSettings::updateLineHint);
    connect(m_lineSelector, &QButtonGroup::idToggled, this, &TfrmSettings::updateLineHint);
    connect(m_lockBox, &QCheckBox::toggled, this, &TfrmSettings::LockSetupCheckBoxClick);
    connect(m_program, &QPushButton::clicked, this, &TfrmSettings::StartProgramming);
    connect(m_addSpecial, &QPushButton::clicked, this, &TfrmSettings::Button1Click);
    connect(m_keyboard, &TKeyboard::OnKey, this, [this](const QString& text) {
        m_keyTouched = true;
        AppendToActiveLine(text);
    });
}

void TfrmSettings::buildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
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
    file->setObjectName(QStringLiteral("File1"));
    addItem(file, QStringLiteral("New1"), QStringLiteral("&New"),
            QKeySequence(Qt::CTRL | Qt::Key_N), [this] { New1Click(); });
    addItem(file, QStringLiteral("Open1"), QStringLiteral("&Open"),
            QKeySequence(Qt::CTRL | Qt::Key_O), [this] { Open1Click(); });
    file->addSeparator();
    addItem(file, QStringLiteral("Save1"), QStringLiteral("&Save"),
            QKeySequence(Qt::CTRL | Qt::Key_S), [this] { Save1Click(); });
    addItem(file, QStringLiteral("SaveAs1"), QStringLiteral("Save &As..."), QKeySequence(),
            [this] { SaveAs1Click(); });
    file->addSeparator();
    addItem(file, QStringLiteral("Exit1"), QStringLiteral("E&xit"), QKeySequence(),
            [this] { Exit1Click(); });
    // Top-level items that act at once.
    addItem(bar, QStringLiteral("MCRSetup1"), QStringLiteral("&MCR Setup"), QKeySequence(),
            [this] { MCRSetup1Click(); });
    addItem(bar, QStringLiteral("ProgramQK7501"), QStringLiteral("Program QK750"),
            QKeySequence(Qt::Key_F10), [this] { StartProgramming(); });
    addItem(bar, QStringLiteral("Test1"), QStringLiteral("&Test"), QKeySequence(Qt::Key_F7),
            [this] { Test1Click(); });
    QMenu* about = bar->addMenu(QStringLiteral("&About"));
    about->setObjectName(QStringLiteral("About2"));
    addItem(about, QStringLiteral("About1"), QStringLiteral("&About..."), QKeySequence(),
            [this] { About1Click(); });
}

void TfrmSettings::buildDevices(bool trace) {
    m_trace = trace;
    m_dispatcher = std::make_unique<QtUiDispatcher>();
    m_controller = std::make_unique<HidController>(*m_platform, *m_dispatcher);
    DeviceList::Callbacks callbacks;
    callbacks.keyboardArrived = [this](HidDevice&, const std::string& name) {
        setStatusText(QStringLiteral(" **  ") + latin1(name) + QStringLiteral(" Detected **"));
    };
    callbacks.keyboardRemoved = [this](HidDevice&, const std::string&) {
        setStatusText(QString());
        // The keyboard under test is gone: so is the test.
        if (m_testKeys != nullptr && m_testKeys->isVisible()) {
            m_testKeys->close();
        }
    };
    m_devices = std::make_unique<DeviceList>(
        *m_controller, [this](const std::string& line) { AddToHistory(line); }, callbacks);
    m_watcher = std::make_unique<PlatformNotificationWatcher>(*m_platform);
    m_reporter = std::make_unique<WindowReporter>(*m_prompts);
    m_protocol = std::make_unique<ProgrammingProtocol>(*m_state, *m_devices, *m_reporter, *m_waits);

    ProgrammingHooks hooks;
    hooks.collectMcrSettings = [this] { CollectMcrSettings(); };
    hooks.selectKey = [this](int key) { selectKey(key); };
    hooks.focusGrid = [this] { m_grid->setFocus(); };
    hooks.statusText = [this] { return bytes(statusText()); };
    hooks.setStatusText = [this](const std::string& text) { setStatusText(latin1(text)); };
    hooks.beep = [] { QApplication::beep(); };
    hooks.showInformation = [this](std::string_view text) {
        m_prompts->information(
            QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    };
    m_run = std::make_unique<ProgrammingRun>(*m_state, *m_protocol, *m_reporter, std::move(hooks));
}

void TfrmSettings::UpdateTitle() {
    const QString title = QString::fromLatin1(kProgramTitle) + QStringLiteral(" - ") +
                          pathText(m_state->SetupFileName);
    setWindowTitle(title);
    QCoreApplication::setApplicationName(title);
}

QString TfrmSettings::cellText(int column, int row) const {
    const QTableWidgetItem* item = m_grid->item(row, column);
    return item != nullptr ? item->text() : QString();
}

void TfrmSettings::UpdateGridCell(int column, int row, bool compact) {
    if (lineSelector() != 0) {
        return;
    }
    drawCell(column, row, compact);
}

void TfrmSettings::drawCell(int column, int row, bool compact) {
    if (row < 0 || row >= kGridRows || column < 0 || column >= kGridColumns) {
        return;
    }
    const QString keyString = latin1(m_state->Setup.KeyStrings[keyAt(row, column)]);
    m_grid->item(row, column)->setText(cellTextFor(keyString, compact));
}

void TfrmSettings::RefreshGrid() {
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

void TfrmSettings::redrawKeepingForm(int column, int row) {
    UpdateGridCell(column, row, cellText(column, row).size() <= kCellWidth);
}

int TfrmSettings::currentKey() const {
    const int row = std::max(0, m_grid->currentRow());
    const int column = std::max(0, m_grid->currentColumn());
    return keyAt(row, column);
}

void TfrmSettings::selectKey(int key) {
    if (key >= 1 && key <= kKeyCount) {
        m_grid->setCurrentCell(keyRow(key), keyColumn(key));
    }
}

int TfrmSettings::lineSelector() const {
    return m_lineSelector->checkedId() == 1 ? 1 : 0;
}

void TfrmSettings::setLineSelector(int line) {
    m_lineSelector->button(line == 1 ? 1 : 0)->setChecked(true);
}

QString TfrmSettings::statusText() const {
    return m_statusLabel->text();
}

void TfrmSettings::setStatusText(const QString& text) {
    m_statusLabel->setText(text);
}

void TfrmSettings::ShowSelectedKey() {
    const int key = currentKey();
    m_keyString2->setText(trimBlanks(latin1(m_state->Setup.Func2Strings[key])));
    m_keyString2->setCursorPosition(static_cast<int>(m_keyString2->text().size()));
    m_keyStringLabel2->setText(latin1(func2StringLabel(key)));
    m_keyString->setText(trimBlanks(latin1(m_state->Setup.KeyStrings[key])));
    m_keyString->setCursorPosition(static_cast<int>(m_keyString->text().size()));
    m_keyStringLabel->setText(latin1(keyStringLabel(key)));
}

void TfrmSettings::FocusKeyEdit() {
    QLineEdit* line = lineSelector() == 1 ? m_keyString2 : m_keyString;
    if (line->isEnabled()) {
        line->setFocus();
    }
}

void TfrmSettings::KeyboardStringGridSelectCell(int row, int column, int previousRow,
                                                int previousColumn) {
    if (row < 0 || column < 0) {
        return;
    }
    UpdateGridCell(previousColumn, previousRow, false);
    m_state->Globals.EditTarget = kEditKeyLines;
    m_linesLoading = true;
    const int key = keyAt(row, column);
    m_keyString->setText(trimBlanks(latin1(m_state->Setup.KeyStrings[key])));
    m_keyString2->setText(trimBlanks(latin1(m_state->Setup.Func2Strings[key])));
    m_keyStringLabel->setText(latin1(keyStringLabel(key)));
    m_keyStringLabel2->setText(latin1(func2StringLabel(key)));
    if (previousRow >= 0 && previousColumn >= 0) {
        m_prevRow = static_cast<std::uint8_t>(previousRow);
        m_prevColumn = static_cast<std::uint8_t>(previousColumn);
    }
}

void TfrmSettings::KeyboardStringGridClick() {
    m_keyTouched = false;
    redrawKeepingForm(m_prevColumn, m_prevRow);
    ShowSelectedKey();
    m_state->Globals.EditTarget = kEditKeyLines;
    const int row = std::max(0, m_grid->currentRow());
    const int column = std::max(0, m_grid->currentColumn());
    redrawKeepingForm(column, row);
    m_prevRow = static_cast<std::uint8_t>(row);
    m_prevColumn = static_cast<std::uint8_t>(column);
    FocusKeyEdit();
    setLineSelector(0);
}

void TfrmSettings::edKeyStringChange() {
    if (m_linesLoading) {
        return;
    }
    const int key = currentKey();
    m_state->Setup.KeyStrings[key] = bytes(m_keyString->text());
    UpdateGridCell(std::max(0, m_grid->currentColumn()), std::max(0, m_grid->currentRow()), true);
    setLineSelector(0);
    markCell(key);
    updateMemoryMeter();
}

void TfrmSettings::edKeyString2Change() {
    if (m_linesLoading) {
        return;
    }
    const int key = currentKey();
    m_state->Setup.Func2Strings[key] = bytes(m_keyString2->text());
    setLineSelector(1);
    markCell(key);
    updateMemoryMeter();
}

void TfrmSettings::AppendToActiveLine(const QString& text) {
    m_linesLoading = false;
    switch (m_state->Globals.EditTarget) {
        case kEditKeyLines: {
            m_undoKey = {};
            QLineEdit* line = lineSelector() == 1 ? m_keyString2 : m_keyString;
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

void TfrmSettings::Button1Click() {
    const auto modifier =
        static_cast<SpecialKeyModifier>(std::clamp(m_shiftKeys->checkedId(), 0, 3));
    const QListWidgetItem* selected = m_specialList->currentItem();
    if (selected != nullptr) {
        const std::string item = bytes(selected->text());
        const QString tag = latin1(SpecialKeyTag(item, modifier));
        if (isFunc2Item(item)) {
            // A Func2 key holds exactly its tag in both strings.
            m_linesLoading = false;
            m_keyString->clear();
            m_keyString2->clear();
            setLineSelector(1);
            AppendToActiveLine(tag);
            setLineSelector(0);
        }
        AppendToActiveLine(tag);
    }
    m_shiftKeys->button(0)->setChecked(true);
}

void TfrmSettings::setLinesQuietly(const QString& keyString, const QString& func2String) {
    const bool loading = m_linesLoading;
    m_linesLoading = true;
    m_keyString->setText(keyString);
    m_keyString2->setText(func2String);
    m_linesLoading = loading;
}

void TfrmSettings::deleteWholeKey(int key) {
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

void TfrmSettings::restoreKey(int key) {
    setLinesQuietly(latin1(m_undoKey.keyString), latin1(m_undoKey.func2String));
    m_state->Setup.KeyStrings[key] = m_undoKey.keyString;
    m_state->Setup.Func2Strings[key] = m_undoKey.func2String;
    drawCell(keyColumn(key), keyRow(key), false);
    setLineSelector(0);
    markCell(key);
    updateMemoryMeter();
}

bool TfrmSettings::KeyboardStringGridKeyDown(const QKeyEvent& key) {
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
    if (m_lockBox->isChecked()) {
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

bool TfrmSettings::HandleLineKey(const QKeyEvent& key, int line) {
    QLineEdit* edit = line == 1 ? m_keyString2 : m_keyString;
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
            if (m_grid->isEnabled()) {
                m_grid->setFocus();
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

QString TfrmSettings::memoryMeterLabel() const {
    return m_memoryLabel->text();
}

QString TfrmSettings::lineHintText() const {
    // The label may be cut to its width; its tooltip holds the whole text.
    return m_lineHint->toolTip();
}

void TfrmSettings::updateMemoryMeter() {
    if (m_memoryBar == nullptr) {
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
    m_memoryLabel->setText(text);
    m_memoryBar->setValue(std::min(m_memoryUse.used, m_memoryBar->maximum()));

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
    m_memoryLabel->setPalette(labelPalette);
    m_memoryBar->setPalette(barPalette);
}

void TfrmSettings::markCell(int key) {
    markCell(key, compiledLengths(m_state->Setup, key));
}

void TfrmSettings::markCell(int key, const KeyLengths& lengths) {
    QTableWidgetItem* item = m_grid->item(keyRow(key), keyColumn(key));
    item->setToolTip(latin1(keyLengthsTooltip(lengths)));
    if (lengths.tooLong()) {
        item->setForeground(kErrorColour);
        item->setBackground(kTooLongBackground);
    } else {
        item->setData(Qt::ForegroundRole, QVariant());
        item->setData(Qt::BackgroundRole, QVariant());
    }
}

void TfrmSettings::updateLineHint() {
    const QLineEdit* line = lineSelector() == 1 ? m_keyString2 : m_keyString;
    QStringList texts;
    for (const NameHint& hint : unknownNames(bytes(line->text()))) {
        texts << latin1(hint.text);
    }
    const QString whole = texts.join(QStringLiteral("   "));
    m_lineHint->setToolTip(whole);
    m_lineHint->setText(
        m_lineHint->fontMetrics().elidedText(whole, Qt::ElideRight, m_lineHint->width()));
}

void TfrmSettings::LoadSetupIntoDialogs() {
    if (m_customMcr != nullptr) {
        m_customMcr->showSettings(m_state->Setup.Mcr);
    }
    // Emptying the line only clears the display; it must not empty the current key.
    const bool loading = m_linesLoading;
    m_linesLoading = true;
    m_keyString->clear();
    m_linesLoading = loading;
    m_lockBox->setChecked(m_state->Setup.Mcr.LockedSetup);
    setLineSelector(0);
    RefreshGrid();
    ApplySetupLock();
}

void TfrmSettings::CollectMcrSettings() {
    if (m_customMcr != nullptr) {
        m_customMcr->gatherSettings(m_state->Setup.Mcr);
    }
    m_state->Setup.Mcr.LockedSetup = m_lockBox->isChecked();
}

void TfrmSettings::LockSetupCheckBoxClick() {
    if (!m_lockBox->isChecked() && !m_prompts->confirm(kUnlockQuestion)) {
        m_lockBox->setChecked(true);
    }
    ApplySetupLock();
}

void TfrmSettings::ApplySetupLock() {
    const bool locked = m_lockBox->isChecked();
    if (m_customMcr != nullptr) {
        m_customMcr->setLocked(locked);
    }
    EnableEditing(!locked);
    CollectMcrSettings();
}

void TfrmSettings::EnableEditing(bool enabled) {
    for (QWidget* control :
         {static_cast<QWidget*>(m_lineSelectorGroup), static_cast<QWidget*>(m_keyString),
          static_cast<QWidget*>(m_keyString2), static_cast<QWidget*>(m_keyboard),
          static_cast<QWidget*>(m_addSpecial), static_cast<QWidget*>(m_shiftGroup),
          static_cast<QWidget*>(m_specialList)}) {
        control->setEnabled(enabled);
    }
    if (m_customMcr != nullptr) {
        m_customMcr->setEditingEnabled(enabled);
    }
}

std::string TfrmSettings::chooseFileName(bool save) {
    FileDialogRequest request;
    request.save = save;
    request.defaultSuffix = QStringLiteral("INI");
    request.objectName = save ? QStringLiteral("SaveDialog1") : QStringLiteral("OpenDialog1");
    request.initialFile = save ? QStringLiteral("default") : QStringLiteral("default.ini");
    request.filter = save ? kSaveFilter : kOpenFilter;
    request.directory = pathText(DirectoryOf(m_state->SetupFileName));
    return QFile::encodeName(m_prompts->fileName(request)).toStdString();
}

bool TfrmSettings::saveTo(const std::string& path) {
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

bool TfrmSettings::Save1Click() {
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

void TfrmSettings::SaveAs1Click() {
    CollectMcrSettings();
    const std::string chosen = chooseFileName(true);
    if (!chosen.empty()) {
        saveTo(chosen);
    }
}

void TfrmSettings::New1Click() {
    if (fileNamePart(m_state->SetupFileName) != ".INI") {
        m_quietSave = true;
    }
    Save1Click();
    m_quietSave = false;
    m_state->SetupFileName = ".INI";
    UpdateTitle();
    ClearSetup(m_state->Setup);
    LoadSetupIntoDialogs();
}

void TfrmSettings::reportLoad(const LoadResult& result) {
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

void TfrmSettings::Open1Click() {
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
    m_grid->setCurrentCell(0, 0);
    LoadSetupIntoDialogs();
    ShowSelectedKey();
}

void TfrmSettings::Exit1Click() {
    // Ends the program without the close-time save.
    m_exiting = true;
    close();
    QCoreApplication::exit(0);
}

void TfrmSettings::MCRSetup1Click() {
    if (m_customMcr == nullptr) {
        return;
    }
    m_state->Globals.EditTarget = kEditPreamble;
    showOwned(this, m_customMcr);
    m_state->Globals.EditTarget = kEditKeyLines;
}

void TfrmSettings::About1Click() {
    if (m_about != nullptr) {
        showOwned(this, m_about);
    }
}

void TfrmSettings::Test1Click() {
    if (m_testKeys == nullptr) {
        return;
    }
    setEnabled(false);
    m_testKeys->Memo1()->clear();
    m_testKeys->show();
    m_testKeys->raise();
    m_testKeys->activateWindow();
    if (!m_testKeys->installHook()) {
        // The window stays open and can be closed as usual.
        m_prompts->error(QStringLiteral("Error To Hook"));
    }
    waitUntilHidden(m_testKeys);
    setEnabled(true);
    if (m_closing) {
        return;
    }
    show();
    activateWindow();
    setFocus();
}

void TfrmSettings::StartProgramming() {
    m_run->StartProgramming();
}

bool TfrmSettings::ProgrammingBusy() const {
    return m_run->ProgrammingBusy();
}

void TfrmSettings::AddToHistory(const std::string& line) {
    if (m_trace) {
        std::cerr << line << '\n';
    }
    // The list is never shown, so the lines are dropped; shown, it keeps the last in view.
    if (m_history->isVisible()) {
        const QString text = latin1(line);
        const int width = m_history->fontMetrics().horizontalAdvance(text) + 16;
        m_history->addItem(text);
        m_history->setMinimumWidth(std::max(m_history->minimumWidth(), width));
        m_history->scrollToBottom();
    }
}

void TfrmSettings::FormActivate() {
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
    m_devListBox->clear();
    for (int index = 0; index < m_devices->count(); ++index) {
        m_devListBox->addItem(latin1(m_devices->name(index)));
    }
    m_grid->setFocus();
}

void TfrmSettings::everyActivation() {
    m_keyTouched = false;
    m_linesLoading = true;
    m_quietSave = false;
    m_undoKey = {};
    m_prevRow = 0;
    m_prevColumn = 0;
    m_specialList->setCurrentRow(0);
    m_shiftKeys->button(0)->setChecked(true);
}

bool TfrmSettings::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        FormActivate();
        everyActivation();
    }
    return QMainWindow::event(event);
}

void TfrmSettings::closeEvent(QCloseEvent* event) {
    if (!m_exiting) {
        // Ends every wait and aborts a run in progress; the setup is saved quietly, and
        // the window closes whatever the Save dialog's answer.
        m_state->Globals.StopWaiting = true;
        m_quietSave = true;
        Save1Click();
        m_quietSave = false;
    }
    m_closing = true;
    // An owned window still open would keep its flow waiting, and the program running,
    // after the main window has gone.
    for (QWidget* owned :
         std::initializer_list<QWidget*>{m_testKeys, m_builtInMcr, m_customMcr, m_about}) {
        if (owned != nullptr && owned->isVisible()) {
            owned->close();
        }
    }
    event->accept();
}

bool TfrmSettings::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == m_grid) {
        if (type == QEvent::FocusIn) {
            ShowSelectedKey();
            m_state->Globals.EditTarget = kEditKeyLines;
        } else if (type == QEvent::FocusOut) {
            UpdateGridCell(std::max(0, m_grid->currentColumn()), std::max(0, m_grid->currentRow()),
                           false);
        } else if (type == QEvent::KeyPress) {
            if (KeyboardStringGridKeyDown(*static_cast<QKeyEvent*>(event))) {
                return true;
            }
        }
    } else if (watched == m_keyString || watched == m_keyString2) {
        const int line = watched == m_keyString ? 0 : 1;
        if (type == QEvent::FocusIn) {
            setLineSelector(line);
            m_state->Globals.EditTarget = kEditKeyLines;
        } else if (type == QEvent::MouseButtonRelease) {
            setLineSelector(line);
            ShowSelectedKey();
            m_state->Globals.EditTarget = kEditKeyLines;
        } else if (type == QEvent::KeyPress) {
            if (HandleLineKey(*static_cast<QKeyEvent*>(event), line)) {
                return true;
            }
        }
    } else if (watched == m_lockBox && type == QEvent::FocusOut) {
        ApplySetupLock();
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace qk750
