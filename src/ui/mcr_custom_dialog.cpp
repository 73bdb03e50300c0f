#include "ui/mcr_custom_dialog.h"

#include <QCheckBox>
#include <QEvent>
#include <QFont>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include <limits>

#include "app/key_editing.h"
#include "app/key_text.h"
#include "app/mcr_settings.h"
#include "keys/key_insight.h"
#include "setup/file_names.h"
#include "setup/program_state.h"
#include "setup/setup_file.h"
#include "ui/mcr_builtin_dialog.h"
#include "ui/onscreen_keyboard.h"
#include "ui/prompts.h"
#include "ui/window_support.h"

namespace qk750 {

namespace {

// The delay box's text as a whole number; anything else counts as the default.
std::int32_t delayFromText(const QString& text) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return kDefaultMcrDelay;
    }
    return static_cast<std::int32_t>(value);
}

QLabel* label(const QString& text, QWidget* parent, int x, int y, int w, int h = 22) {
    auto* result = new QLabel(text, parent);
    result->setGeometry(x, y, w, h);
    return result;
}

}  // namespace

McrCustomDialog::McrCustomDialog(ProgramState& state, Prompts& prompts, QWidget* owner)
    : QDialog(nullptr), m_owner(owner), m_state(state), m_prompts(prompts) {
    setObjectName(QStringLiteral("mcrCustomDialog"));
    setWindowTitle(QStringLiteral("Custom MCR Setup"));
    setFixedSize(774, 548);

    auto* heading = label(QStringLiteral("MCR (Magnetic Card Reader) Setup"), this, 16, 10, 420);
    heading->setObjectName(QStringLiteral("headingLabel"));
    QFont headingFont(QStringLiteral("Liberation Sans"), 10);
    headingFont.setBold(true);
    heading->setFont(headingFont);

    auto* general = new QGroupBox(QStringLiteral("General Parameters"), this);
    general->setObjectName(QStringLiteral("generalGroup"));
    general->setGeometry(16, 40, 340, 172);

    m_builtInSetupCheck = new QCheckBox(general);
    m_builtInSetupCheck->setObjectName(QStringLiteral("builtInSetupCheck"));
    m_builtInSetupCheck->setGeometry(14, 26, 20, 24);
    m_builtInSetupButton = new QPushButton(QStringLiteral("Built-In Setup"), general);
    m_builtInSetupButton->setObjectName(QStringLiteral("builtInSetupButton"));
    m_builtInSetupButton->setGeometry(36, 24, 140, 28);

    label(QStringLiteral("MCR Data delay:"), general, 14, 60, 120);
    m_mcrDelayEdit = new QLineEdit(general);
    m_mcrDelayEdit->setObjectName(QStringLiteral("mcrDelayEdit"));
    m_mcrDelayEdit->setGeometry(136, 60, 33, 22);

    m_transmitChecksumCheck = new QCheckBox(QStringLiteral("Add CHECKSUM to data"), general);
    m_transmitChecksumCheck->setObjectName(QStringLiteral("transmitChecksumCheck"));
    m_transmitChecksumCheck->setGeometry(14, 94, 300, 24);
    m_bfChecksumCheck = new QCheckBox(QStringLiteral("BF Special Checksum Mode"), general);
    m_bfChecksumCheck->setObjectName(QStringLiteral("bfChecksumCheck"));
    m_bfChecksumCheck->setGeometry(14, 126, 300, 24);

    auto* strings = new QGroupBox(QStringLiteral("Preamble && Postamble Strings"), this);
    strings->setObjectName(QStringLiteral("preamblePostambleGroup"));
    strings->setGeometry(372, 40, 386, 120);
    label(QStringLiteral("Track 2 Preamble:"), strings, 8, 30, 130);
    m_preambleEdit = new QLineEdit(strings);
    m_preambleEdit->setObjectName(QStringLiteral("preambleEdit"));
    m_preambleEdit->setGeometry(144, 30, 235, 24);
    label(QStringLiteral("Track 2 Postamble:"), strings, 8, 68, 130);
    m_postambleEdit = new QLineEdit(strings);
    m_postambleEdit->setObjectName(QStringLiteral("postambleEdit"));
    m_postambleEdit->setGeometry(130, 68, 249, 24);
    // One line under the two lines: what the line being edited holds that types nothing.
    m_lineHintLabel = label(QString(), strings, 8, 96, 371, 16);
    m_lineHintLabel->setObjectName(QStringLiteral("lineHintLabel"));
    QFont hintFont = m_lineHintLabel->font();
    hintFont.setPointSize(8);
    m_lineHintLabel->setFont(hintFont);
    QPalette hintPalette = m_lineHintLabel->palette();
    hintPalette.setColor(QPalette::WindowText, QColor(0xc0, 0x70, 0x00));
    m_lineHintLabel->setPalette(hintPalette);

    m_lockedLabel = label(QString(), this, 372, 164, 386, 36);
    m_lockedLabel->setObjectName(QStringLiteral("lockedLabel"));
    QFont lockedFont = m_lockedLabel->font();
    lockedFont.setBold(true);
    lockedFont.setPointSize(16);
    m_lockedLabel->setFont(lockedFont);
    m_lockedLabel->setStyleSheet(QStringLiteral("color: #c00000;"));
    m_lockedLabel->setAlignment(Qt::AlignCenter);

    m_keyboard = new OnScreenKeyboard(this);
    m_keyboard->setObjectName(QStringLiteral("keyboard"));
    m_keyboard->setGeometry(35, 226, 704, 203);

    m_saveButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogSaveButton),
                                   QStringLiteral("&Save"), this);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_saveButton->setGeometry(322, 456, 130, 40);
    m_saveButton->setDefault(true);

    connect(m_builtInSetupCheck, &QCheckBox::toggled, this, &McrCustomDialog::applyBuiltInChoice);
    connect(m_builtInSetupCheck, &QCheckBox::toggled, this, &McrCustomDialog::linesChanged);
    for (QLineEdit* line : {m_preambleEdit, m_postambleEdit}) {
        connect(line, &QLineEdit::textChanged, this, &McrCustomDialog::linesChanged);
        connect(line, &QLineEdit::textChanged, this, &McrCustomDialog::updateLineHint);
        acceptKeyTextOnly(line, [this, line](const QString& character) {
            m_refusedHint = refusedCharacterHint(character);
            m_refusedIn = line;
            updateLineHint();
        });
    }
    connect(m_builtInSetupButton, &QPushButton::clicked, this, &McrCustomDialog::showBuiltInSetup);
    connect(m_saveButton, &QPushButton::clicked, this, &McrCustomDialog::saveAndClose);
    connect(m_keyboard, &OnScreenKeyboard::keyClicked, this, [this](const QString& text) {
        if (appendToActiveLine) {
            appendToActiveLine(text);
        }
    });
    m_builtInSetupCheck->installEventFilter(this);
    m_preambleEdit->installEventFilter(this);
    m_postambleEdit->installEventFilter(this);
}

void McrCustomDialog::showSettings(SetupRecType& mcr) {
    m_refusedIn = nullptr;
    m_transmitChecksumCheck->setChecked(mcr.TransmitChecksum);
    m_bfChecksumCheck->setChecked(mcr.BF_Checksum);
    m_preambleEdit->setText(keyText(mcr.PreambleString));
    m_postambleEdit->setText(keyText(mcr.PostambleString));
    m_builtInSetupCheck->setChecked(builtInBoxShown(mcr.McrSetupMode));
    // Also when the box was already checked: a built-in mode never shows checksums.
    applyBuiltInChoice();
    if (m_builtIn != nullptr) {
        m_builtIn->selectEntry(modeEntryShown(mcr.McrSetupMode));
    }
    if (mcr.McrDelay == 0) {
        mcr.McrDelay = kDefaultMcrDelay;
    }
    m_mcrDelayEdit->setText(QString::number(mcr.McrDelay));
}

void McrCustomDialog::gatherSettings(SetupRecType& mcr) const {
    mcr.TransmitChecksum = m_transmitChecksumCheck->isChecked();
    mcr.BF_Checksum = m_bfChecksumCheck->isChecked();
    mcr.PreambleString = keyStringBytes(m_preambleEdit->text());
    mcr.PostambleString = keyStringBytes(m_postambleEdit->text());
    const int entry = m_builtIn != nullptr ? m_builtIn->selectedEntry() : -1;
    mcr.McrSetupMode = m_builtInSetupCheck->isChecked() && entry >= 0 ? entry + 1 : 0;
    mcr.BuiltIn_Setup = mcr.McrSetupMode != 0;
    mcr.McrDelay = delayFromText(m_mcrDelayEdit->text());
}

void McrCustomDialog::applyBuiltInChoice() {
    const bool builtIn = m_builtInSetupCheck->isChecked();
    if (builtIn) {
        m_transmitChecksumCheck->setChecked(false);
        m_bfChecksumCheck->setChecked(false);
    }
    for (QWidget* control :
         {static_cast<QWidget*>(m_transmitChecksumCheck), static_cast<QWidget*>(m_bfChecksumCheck),
          static_cast<QWidget*>(m_keyboard), static_cast<QWidget*>(m_preambleEdit),
          static_cast<QWidget*>(m_postambleEdit)}) {
        control->setEnabled(!builtIn);
    }
}

void McrCustomDialog::showBuiltInSetup() {
    if (m_builtIn == nullptr) {
        return;
    }
    if (!m_builtInSetupCheck->isChecked()) {
        // Nothing chosen yet: the built-in dialog's close box leaves it so.
        m_state.Setup.Mcr.McrSetupMode = -1;
        m_builtIn->selectEntry(-1);
    }
    showOwned(this, m_builtIn);
    if (m_state.Setup.Mcr.McrSetupMode > 0) {
        m_builtInSetupCheck->setChecked(true);
        applyBuiltInChoice();
        m_transmitChecksumCheck->setChecked(false);
        m_bfChecksumCheck->setChecked(false);
    }
}

void McrCustomDialog::saveAndClose() {
    if (saveAsksFirst && saveAskingFirst && saveAsksFirst()) {
        // The main window's Save gathers too; the dialog stays open when it is cancelled.
        if (saveAskingFirst()) {
            hide();
        }
        return;
    }
    if (collectMcrSettings) {
        collectMcrSettings();
    }
    const SaveResult saved = SaveSetupIni(m_state.Setup, m_state.SetupFileName);
    if (!saved.ok) {
        m_prompts.error(saveFailedText(m_state.SetupFileName, saved.error));
        return;
    }
    hide();
}

void McrCustomDialog::setEditingEnabled(bool enabled) {
    // Unlocking must not make the checksums and lines of a built-in mode editable.
    for (QWidget* control :
         {static_cast<QWidget*>(m_transmitChecksumCheck), static_cast<QWidget*>(m_bfChecksumCheck),
          static_cast<QWidget*>(m_preambleEdit), static_cast<QWidget*>(m_postambleEdit),
          static_cast<QWidget*>(m_builtInSetupCheck), static_cast<QWidget*>(m_keyboard)}) {
        control->setEnabled(enabled);
    }
    if (enabled && m_builtInSetupCheck->isChecked()) {
        applyBuiltInChoice();
    }
    if (m_builtIn != nullptr) {
        m_builtIn->setEditingEnabled(enabled);
    }
}

void McrCustomDialog::setLocked(bool locked) {
    m_lockedLabel->setText(locked ? QStringLiteral("SETUP LOCKED !!") : QString());
}

void McrCustomDialog::appendToLine(int target, const QString& text) {
    QLineEdit* line = target == kEditPreamble    ? m_preambleEdit
                      : target == kEditPostamble ? m_postambleEdit
                                                 : nullptr;
    if (line == nullptr) {
        return;
    }
    line->setText(line->text() + text);
    line->setCursorPosition(static_cast<int>(line->text().size()));
}

void McrCustomDialog::showEvent(QShowEvent* event) {
    placeOwned(this, m_owner);
    // The dialog opens on the preamble, whichever line had the focus when it was closed;
    // with the lines shut, on the button that opens the built-in modes.
    if (m_preambleEdit->isEnabled()) {
        m_preambleEdit->setFocus();
    } else {
        m_builtInSetupButton->setFocus();
    }
    updateLineHint();
    m_opened = {m_builtInSetupCheck->isChecked(),
                m_builtIn != nullptr ? m_builtIn->selectedEntry() : -1,
                m_state.Setup.Mcr.McrSetupMode,
                m_mcrDelayEdit->text(),
                m_transmitChecksumCheck->isChecked(),
                m_bfChecksumCheck->isChecked(),
                m_preambleEdit->text(),
                m_postambleEdit->text()};
    QDialog::showEvent(event);
}

void McrCustomDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape || event->modifiers() != Qt::NoModifier) {
        QDialog::keyPressEvent(event);
        return;
    }
    // Esc leaves without the changes made since the dialog opened.
    m_builtInSetupCheck->setChecked(m_opened.builtIn);
    if (m_builtIn != nullptr) {
        m_builtIn->selectEntry(m_opened.builtInEntry);
    }
    m_state.Setup.Mcr.McrSetupMode = m_opened.mode;
    m_mcrDelayEdit->setText(m_opened.delay);
    m_transmitChecksumCheck->setChecked(m_opened.transmitChecksum);
    m_bfChecksumCheck->setChecked(m_opened.bfChecksum);
    m_preambleEdit->setText(m_opened.preamble);
    m_postambleEdit->setText(m_opened.postamble);
    hide();
}

bool McrCustomDialog::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == m_builtInSetupCheck && type == QEvent::FocusOut) {
        applyBuiltInChoice();
    } else if ((watched == m_preambleEdit || watched == m_postambleEdit) &&
               (type == QEvent::FocusIn || type == QEvent::KeyPress)) {
        m_state.Globals.EditTarget = watched == m_preambleEdit ? kEditPreamble : kEditPostamble;
        updateLineHint();
        if (type == QEvent::KeyPress &&
            lineKeyDown(*static_cast<QLineEdit*>(watched), *static_cast<QKeyEvent*>(event))) {
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool McrCustomDialog::lineKeyDown(QLineEdit& line, const QKeyEvent& key) {
    LineKey which = LineKey::Other;
    switch (key.key()) {
        case Qt::Key_Delete:
            which = LineKey::Delete;
            break;
        case Qt::Key_Backspace:
            which = LineKey::Backspace;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            which = LineKey::Enter;
            break;
        default:
            return false;
    }
    const int caret = line.hasSelectedText() ? static_cast<int>(line.selectionStart())
                                             : static_cast<int>(line.cursorPosition());
    const int selection = line.hasSelectedText() ? static_cast<int>(line.selectedText().size()) : 0;
    // The decision counts bytes of the key string.
    const int byteCaret = keyByteCaret(line.text(), caret);
    const int byteSelection = keyByteCaret(line.text(), caret + selection) - byteCaret;
    // These lines have no whole-string deletion: count the key as touched.
    const std::string bytes = keyStringBytes(line.text());
    const LineKeyDecision decision = decideLineKey(which, bytes, byteCaret, byteSelection, true);
    if (decision.action == LineKeyDecision::Action::AppendEnter) {
        const QString enter = QStringLiteral("<Enter>");
        if (appendToActiveLine) {
            appendToActiveLine(enter);
        } else {
            appendToLine(m_state.Globals.EditTarget, enter);
        }
        return true;
    }
    if (decision.action != LineKeyDecision::Action::SetText) {
        return false;
    }
    const QString text = keyText(decision.edit.text);
    if (line.text() != text) {
        line.setText(text);
    }
    line.setCursorPosition(keyTextCaret(decision.edit.text, decision.edit.caret));
    return decision.edit.consumed;
}

QString McrCustomDialog::lineHintText() const {
    // The label may be cut to its width; its tooltip holds the whole text.
    return m_lineHintLabel->toolTip();
}

void McrCustomDialog::updateLineHint() {
    const QLineEdit* line =
        m_state.Globals.EditTarget == kEditPostamble ? m_postambleEdit : m_preambleEdit;
    QStringList texts;
    for (const NameHint& hint : unknownNames(keyStringBytes(line->text()))) {
        texts << keyText(hint.text);
    }
    if (line == m_refusedIn) {
        texts.prepend(m_refusedHint);
    }
    showHint(m_lineHintLabel, texts.join(QStringLiteral("   ")));
}

}  // namespace qk750
