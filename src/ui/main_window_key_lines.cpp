// The main window's key-string lines: what they show for the selected key, how typing,
// the on-screen keyboard and the special keys add to them, and the keys they and the grid
// handle themselves (delete, restore, Enter, Escape).
#include "ui/main_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

#include "app/key_text.h"
#include "ui/key_grid.h"
#include "ui/mcr_custom_dialog.h"
#include "ui/prompts.h"
#include "ui/window_support.h"

namespace qk750 {

namespace {

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

// The editing decisions count bytes of the key string.
int byteCaretOf(const QLineEdit& line) {
    return keyByteCaret(line.text(), caretOf(line));
}

int byteSelectionOf(const QLineEdit& line) {
    if (!line.hasSelectedText()) {
        return 0;
    }
    const int end = caretOf(line) + static_cast<int>(line.selectedText().size());
    return keyByteCaret(line.text(), end) - byteCaretOf(line);
}

// A control is entered and left when the focus moves between the window's controls; the
// window losing or regaining the activation (a message box, another application), a menu
// opening over it, or the control being disabled (the window owning another, a run) is
// neither. Otherwise a box over the grid would redraw the current cell whole, and coming
// back would store the key's strings trimmed.
bool movesFocusBetweenControls(const QFocusEvent& event, const QWidget& control) {
    const Qt::FocusReason reason = event.reason();
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
           reason != Qt::MenuBarFocusReason && control.isEnabled();
}

// Only Ctrl+Z restores: a plain z is a typed character.
bool isRestoreKey(const QKeyEvent& key) {
    return key.key() == Qt::Key_Z && (key.modifiers() & Qt::ControlModifier) != 0;
}

}  // namespace

void MainWindow::buildKeyLines(QWidget* parent) {
    m_keyStringLabel = new QLabel(QStringLiteral("Key 1 String:"), parent);
    m_keyStringLabel->setObjectName(QStringLiteral("keyStringLabel"));
    m_keyStringLabel->setGeometry(10, 270, 140, 24);
    m_keyStringEdit = new QLineEdit(parent);
    m_keyStringEdit->setObjectName(QStringLiteral("keyStringEdit"));
    m_keyStringEdit->setGeometry(150, 270, 401, 26);
    m_func2StringLabel = new QLabel(QStringLiteral("Key 1 Func2 String:"), parent);
    m_func2StringLabel->setObjectName(QStringLiteral("func2StringLabel"));
    m_func2StringLabel->setGeometry(10, 306, 140, 24);
    m_func2StringEdit = new QLineEdit(parent);
    m_func2StringEdit->setObjectName(QStringLiteral("func2StringEdit"));
    m_func2StringEdit->setGeometry(150, 306, 401, 26);
    for (QLineEdit* line : {m_keyStringEdit, m_func2StringEdit}) {
        QFont font = line->font();
        font.setPointSize(10);
        line->setFont(font);
        line->installEventFilter(this);
        acceptKeyTextOnly(line, [this](const QString& character) { showRefused(character); });
    }

    m_lineSelector = new QGroupBox(parent);
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

    connect(m_keyStringEdit, &QLineEdit::textChanged, this, &MainWindow::onKeyStringEdited);
    connect(m_func2StringEdit, &QLineEdit::textChanged, this, &MainWindow::onFunc2StringEdited);
    connect(m_keyStringEdit, &QLineEdit::textChanged, this, &MainWindow::updateLineHint);
    connect(m_func2StringEdit, &QLineEdit::textChanged, this, &MainWindow::updateLineHint);
    connect(m_lineButtons, &QButtonGroup::idToggled, this, [this] {
        m_refusedHint.clear();
        updateLineHint();
    });
}

void MainWindow::buildSpecialKeys(QWidget* parent) {
    m_modifierChoice = new QGroupBox(parent);
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
    auto* plus = new QLabel(QStringLiteral("+"), parent);
    plus->setObjectName(QStringLiteral("plusLabel"));
    QFont plusFont = plus->font();
    plusFont.setBold(true);
    plusFont.setPointSize(14);
    plus->setFont(plusFont);
    plus->setAlignment(Qt::AlignCenter);
    plus->setGeometry(786, 396, 24, 30);

    m_specialKeyList = new QListWidget(parent);
    m_specialKeyList->setObjectName(QStringLiteral("specialKeyList"));
    for (const std::string_view item : SpecialKeyItems()) {
        m_specialKeyList->addItem(latin1(item));
    }
    m_specialKeyList->setCurrentRow(0);
    m_specialKeyList->setGeometry(812, 346, 160, 164);

    m_addSpecialKeyButton = new QPushButton(QStringLiteral("Add Special Key"), parent);
    m_addSpecialKeyButton->setObjectName(QStringLiteral("addSpecialKeyButton"));
    m_addSpecialKeyButton->setGeometry(706, 516, 266, 33);
    m_addSpecialKeyButton->setAutoDefault(true);  // Enter presses it, as Space does

    connect(m_addSpecialKeyButton, &QPushButton::clicked, this, &MainWindow::addSpecialKey);
}

int MainWindow::lineSelector() const {
    return m_lineButtons->checkedId() == 1 ? 1 : 0;
}

void MainWindow::setLineSelector(int line) {
    m_lineButtons->button(line == 1 ? 1 : 0)->setChecked(true);
}

void MainWindow::ShowSelectedKey() {
    const int key = currentKey();
    m_func2StringEdit->setText(trimBlanks(keyText(m_state->Setup.Func2Strings[key])));
    m_func2StringEdit->setCursorPosition(static_cast<int>(m_func2StringEdit->text().size()));
    m_func2StringLabel->setText(latin1(func2StringLabel(key)));
    m_keyStringEdit->setText(trimBlanks(keyText(m_state->Setup.KeyStrings[key])));
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
    m_refusedHint.clear();
    const int key = keyAt(row, column);
    m_keyStringEdit->setText(trimBlanks(keyText(m_state->Setup.KeyStrings[key])));
    m_func2StringEdit->setText(trimBlanks(keyText(m_state->Setup.Func2Strings[key])));
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
    const int row = m_keyGrid->currentRowOrFirst();
    const int column = m_keyGrid->currentColumnOrFirst();
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
    m_state->Setup.KeyStrings[key] = keyStringBytes(m_keyStringEdit->text());
    UpdateGridCell(m_keyGrid->currentColumnOrFirst(), m_keyGrid->currentRowOrFirst(), true);
    setLineSelector(0);
    m_keyGrid->markKey(key);
    updateMemoryMeter();
}

void MainWindow::onFunc2StringEdited() {
    if (m_linesLoading) {
        return;
    }
    const int key = currentKey();
    m_state->Setup.Func2Strings[key] = keyStringBytes(m_func2StringEdit->text());
    setLineSelector(1);
    m_keyGrid->markKey(key);
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
    m_keyGrid->drawCell(keyColumn(key), keyRow(key), false);
    m_keyTouched = false;
    m_keyGrid->markKey(key);
    updateMemoryMeter();
}

void MainWindow::restoreKey(int key) {
    setLinesQuietly(keyText(m_undoKey.keyString), keyText(m_undoKey.func2String));
    m_state->Setup.KeyStrings[key] = m_undoKey.keyString;
    m_state->Setup.Func2Strings[key] = m_undoKey.func2String;
    m_keyGrid->drawCell(keyColumn(key), keyRow(key), false);
    setLineSelector(0);
    m_keyGrid->markKey(key);
    updateMemoryMeter();
}

bool MainWindow::gridKeyPress(const QKeyEvent& key) {
    m_keyTouched = true;
    const int n = currentKey();
    const Qt::KeyboardModifiers modifiers = key.modifiers();
    const bool ctrlOrAlt = (modifiers & (Qt::ControlModifier | Qt::AltModifier)) != 0;
    const QString text = key.text();
    QString refused;
    if (!ctrlOrAlt && !text.isEmpty() && !keyBytes(text, &refused)) {
        // Taken into the line it would be refused there: say why here.
        showRefused(refused);
        return true;
    }
    const bool character =
        !ctrlOrAlt && text.size() == 1 && text.at(0).unicode() >= 32 && text.at(0).unicode() != 127;
    const bool restore = isRestoreKey(key);
    const bool edits = key.key() == Qt::Key_Delete || key.key() == Qt::Key_Return ||
                       key.key() == Qt::Key_Enter || character || restore;
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
    } else if (restore) {
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
    // Right after a whole-key delete the line has nothing of its own to undo: Ctrl+Z there
    // brings the key back, as on the grid.
    const int n = currentKey();
    if (isRestoreKey(key) && !edit->isUndoAvailable() && mayRestoreKey(n, m_undoKey)) {
        m_keyTouched = true;
        if (m_prompts->confirm(latin1(restoreKeyQuestion(n)))) {
            restoreKey(n);
        }
        return true;
    }
    const LineKeyDecision decision =
        decideLineKey(lineKeyOf(key), keyStringBytes(edit->text()), byteCaretOf(*edit),
                      byteSelectionOf(*edit), m_keyTouched);
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
            if (!m_prompts->confirm(latin1(deleteKeyQuestion(n)))) {
                return false;
            }
            deleteWholeKey(n);
            return true;
        }
        case Action::SetText: {
            const QString text = keyText(decision.edit.text);
            if (edit->text() != text) {
                edit->setText(text);
            }
            edit->setCursorPosition(keyTextCaret(decision.edit.text, decision.edit.caret));
            return decision.edit.consumed;
        }
    }
    return false;
}

// The grid's and the lines' focus and keys; the lock is applied when it loses the focus.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::FocusIn || type == QEvent::FocusOut) && watched->isWidgetType() &&
        !movesFocusBetweenControls(*static_cast<QFocusEvent*>(event),
                                   *static_cast<QWidget*>(watched))) {
        return QMainWindow::eventFilter(watched, event);
    }
    if (watched == m_keyGrid) {
        if (type == QEvent::FocusIn) {
            ShowSelectedKey();
            m_state->Globals.EditTarget = kEditKeyLines;
        } else if (type == QEvent::FocusOut) {
            UpdateGridCell(m_keyGrid->currentColumnOrFirst(), m_keyGrid->currentRowOrFirst(),
                           false);
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
