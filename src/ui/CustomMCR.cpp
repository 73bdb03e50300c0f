#include "ui/CustomMCR.h"

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
#include "app/mcr_settings.h"
#include "keys/key_insight.h"
#include "setup/file_names.h"
#include "setup/program_state.h"
#include "setup/setup_file.h"
#include "ui/FixedMCR.h"
#include "ui/Keyboard.h"
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

TMCRCustomForm::TMCRCustomForm(ProgramState& state, Prompts& prompts, QWidget* owner)
    : QWidget(nullptr, Qt::Dialog), m_owner(owner), m_state(state), m_prompts(prompts) {
    setObjectName(QStringLiteral("MCRCustomForm"));
    setWindowTitle(QStringLiteral("Custom MCR Setup"));
    setFixedSize(774, 548);

    auto* heading = label(QStringLiteral("MCR (Magnetic Card Reader) Setup"), this, 16, 10, 420);
    heading->setObjectName(QStringLiteral("Label1"));
    QFont headingFont(QStringLiteral("Liberation Sans"), 10);
    headingFont.setBold(true);
    heading->setFont(headingFont);

    auto* general = new QGroupBox(QStringLiteral("General Parameters"), this);
    general->setObjectName(QStringLiteral("GroupBox1"));
    general->setGeometry(16, 40, 340, 172);

    m_builtInBox = new QCheckBox(general);
    m_builtInBox->setObjectName(QStringLiteral("cbBuiltInSetup"));
    m_builtInBox->setGeometry(14, 26, 20, 24);
    m_builtInButton = new QPushButton(QStringLiteral("Built-In Setup"), general);
    m_builtInButton->setObjectName(QStringLiteral("Button1"));
    m_builtInButton->setGeometry(36, 24, 140, 28);

    label(QStringLiteral("MCR Data delay:"), general, 14, 60, 120);
    m_delay = new QLineEdit(general);
    m_delay->setObjectName(QStringLiteral("edMcrDelay"));
    m_delay->setGeometry(136, 60, 33, 22);

    m_checksum = new QCheckBox(QStringLiteral("Add CHECKSUM to data"), general);
    m_checksum->setObjectName(QStringLiteral("cbTransmCheckSum"));
    m_checksum->setGeometry(14, 94, 300, 24);
    m_bfChecksum = new QCheckBox(QStringLiteral("BF Special Checksum Mode"), general);
    m_bfChecksum->setObjectName(QStringLiteral("cbBF_SpecialCheckSumMode"));
    m_bfChecksum->setGeometry(14, 126, 300, 24);

    auto* strings = new QGroupBox(QStringLiteral("Preamble && Postamble Strings"), this);
    strings->setObjectName(QStringLiteral("GroupBox2"));
    strings->setGeometry(372, 40, 386, 120);
    label(QStringLiteral("Track 2 Preamble:"), strings, 8, 30, 130);
    m_preamble = new QLineEdit(strings);
    m_preamble->setObjectName(QStringLiteral("edTrack2Preamble"));
    m_preamble->setGeometry(144, 30, 235, 24);
    label(QStringLiteral("Track 2 Postamble:"), strings, 8, 68, 130);
    m_postamble = new QLineEdit(strings);
    m_postamble->setObjectName(QStringLiteral("edTrack2Postamble"));
    m_postamble->setGeometry(130, 68, 249, 24);
    // One line under the two lines: what the line being edited holds that types nothing.
    m_lineHint = label(QString(), strings, 8, 96, 371, 16);
    m_lineHint->setObjectName(QStringLiteral("McrLineHintLabel"));
    QFont hintFont = m_lineHint->font();
    hintFont.setPointSize(8);
    m_lineHint->setFont(hintFont);
    QPalette hintPalette = m_lineHint->palette();
    hintPalette.setColor(QPalette::WindowText, QColor(0xc0, 0x70, 0x00));
    m_lineHint->setPalette(hintPalette);

    m_lockedLabel = label(QString(), this, 372, 164, 386, 36);
    m_lockedLabel->setObjectName(QStringLiteral("SetLockedLabel"));
    QFont lockedFont = m_lockedLabel->font();
    lockedFont.setBold(true);
    lockedFont.setPointSize(16);
    m_lockedLabel->setFont(lockedFont);
    m_lockedLabel->setStyleSheet(QStringLiteral("color: #c00000;"));
    m_lockedLabel->setAlignment(Qt::AlignCenter);

    m_keyboard = new TKeyboard(this);
    m_keyboard->setObjectName(QStringLiteral("Keyboard1"));
    m_keyboard->setGeometry(35, 226, 704, 203);

    m_save = new QPushButton(style()->standardIcon(QStyle::SP_DialogSaveButton),
                             QStringLiteral("&Save"), this);
    m_save->setObjectName(QStringLiteral("BitBtn1"));
    m_save->setGeometry(322, 456, 130, 40);

    connect(m_builtInBox, &QCheckBox::toggled, this, &TMCRCustomForm::ApplyBuiltInChoice);
    connect(m_builtInBox, &QCheckBox::toggled, this, &TMCRCustomForm::linesChanged);
    for (QLineEdit* line : {m_preamble, m_postamble}) {
        connect(line, &QLineEdit::textChanged, this, &TMCRCustomForm::linesChanged);
        connect(line, &QLineEdit::textChanged, this, &TMCRCustomForm::updateLineHint);
    }
    connect(m_builtInButton, &QPushButton::clicked, this, &TMCRCustomForm::BuiltInSetupClick);
    connect(m_save, &QPushButton::clicked, this, &TMCRCustomForm::SaveClick);
    connect(m_keyboard, &TKeyboard::OnKey, this, [this](const QString& text) {
        if (appendToActiveLine) {
            appendToActiveLine(text);
        }
    });
    m_builtInBox->installEventFilter(this);
    m_preamble->installEventFilter(this);
    m_postamble->installEventFilter(this);
}

void TMCRCustomForm::showSettings(SetupRecType& mcr) {
    m_checksum->setChecked(mcr.TransmitChecksum);
    m_bfChecksum->setChecked(mcr.BF_Checksum);
    m_preamble->setText(QString::fromLatin1(mcr.PreambleString));
    m_postamble->setText(QString::fromLatin1(mcr.PostambleString));
    m_builtInBox->setChecked(builtInBoxShown(mcr.McrSetupMode));
    // Also when the box was already checked: a built-in mode never shows checksums.
    ApplyBuiltInChoice();
    if (m_builtIn != nullptr) {
        m_builtIn->selectEntry(modeEntryShown(mcr.McrSetupMode));
    }
    if (mcr.McrDelay == 0) {
        mcr.McrDelay = kDefaultMcrDelay;
    }
    m_delay->setText(QString::number(mcr.McrDelay));
}

void TMCRCustomForm::gatherSettings(SetupRecType& mcr) const {
    mcr.TransmitChecksum = m_checksum->isChecked();
    mcr.BF_Checksum = m_bfChecksum->isChecked();
    mcr.PreambleString = m_preamble->text().toLatin1().toStdString();
    mcr.PostambleString = m_postamble->text().toLatin1().toStdString();
    const int entry = m_builtIn != nullptr ? m_builtIn->selectedEntry() : -1;
    mcr.McrSetupMode = m_builtInBox->isChecked() && entry >= 0 ? entry + 1 : 0;
    mcr.BuiltIn_Setup = mcr.McrSetupMode != 0;
    mcr.McrDelay = delayFromText(m_delay->text());
}

void TMCRCustomForm::ApplyBuiltInChoice() {
    const bool builtIn = m_builtInBox->isChecked();
    if (builtIn) {
        m_checksum->setChecked(false);
        m_bfChecksum->setChecked(false);
    }
    for (QWidget* control : {static_cast<QWidget*>(m_checksum), static_cast<QWidget*>(m_bfChecksum),
                             static_cast<QWidget*>(m_keyboard), static_cast<QWidget*>(m_preamble),
                             static_cast<QWidget*>(m_postamble)}) {
        control->setEnabled(!builtIn);
    }
}

void TMCRCustomForm::BuiltInSetupClick() {
    if (m_builtIn == nullptr) {
        return;
    }
    setEnabled(false);
    if (!m_builtInBox->isChecked()) {
        // Nothing chosen yet: the built-in dialog's close box leaves it so.
        m_state.Setup.Mcr.McrSetupMode = -1;
        m_builtIn->selectEntry(-1);
    }
    m_builtIn->show();
    m_builtIn->raise();
    m_builtIn->activateWindow();
    waitUntilHidden(m_builtIn);
    if (m_state.Setup.Mcr.McrSetupMode > 0) {
        m_builtInBox->setChecked(true);
        ApplyBuiltInChoice();
        m_checksum->setChecked(false);
        m_bfChecksum->setChecked(false);
    }
    setEnabled(true);
    activateWindow();
    setFocus();
}

void TMCRCustomForm::SaveClick() {
    if (saveUnnamedSetup &&
        m_state.SetupFileName.substr(fileNameStart(m_state.SetupFileName)) == ".INI") {
        // The main window's Save gathers too; the dialog stays open when it is cancelled.
        if (saveUnnamedSetup()) {
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

void TMCRCustomForm::setEditingEnabled(bool enabled) {
    // Unlocking must not make the checksums and lines of a built-in mode editable.
    for (QWidget* control :
         {static_cast<QWidget*>(m_checksum), static_cast<QWidget*>(m_bfChecksum),
          static_cast<QWidget*>(m_preamble), static_cast<QWidget*>(m_postamble),
          static_cast<QWidget*>(m_builtInBox), static_cast<QWidget*>(m_keyboard)}) {
        control->setEnabled(enabled);
    }
    if (enabled && m_builtInBox->isChecked()) {
        ApplyBuiltInChoice();
    }
    if (m_builtIn != nullptr) {
        m_builtIn->setEditingEnabled(enabled);
    }
}

void TMCRCustomForm::setLocked(bool locked) {
    m_lockedLabel->setText(locked ? QStringLiteral("SETUP LOCKED !!") : QString());
}

void TMCRCustomForm::appendToLine(int target, const QString& text) {
    QLineEdit* line = target == kEditPreamble    ? m_preamble
                      : target == kEditPostamble ? m_postamble
                                                 : nullptr;
    if (line == nullptr) {
        return;
    }
    line->setText(line->text() + text);
    line->setCursorPosition(static_cast<int>(line->text().size()));
}

void TMCRCustomForm::showEvent(QShowEvent* event) {
    centreOn(this, m_owner);
    // The dialog opens on the preamble, whichever line had the focus when it was closed.
    if (m_preamble->isEnabled()) {
        m_preamble->setFocus();
    } else if (focusWidget() == m_postamble) {
        m_builtInButton->setFocus();
    }
    updateLineHint();
    QWidget::showEvent(event);
}

bool TMCRCustomForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == m_builtInBox && type == QEvent::FocusOut) {
        ApplyBuiltInChoice();
    } else if ((watched == m_preamble || watched == m_postamble) &&
               (type == QEvent::FocusIn || type == QEvent::KeyPress)) {
        m_state.Globals.EditTarget = watched == m_preamble ? kEditPreamble : kEditPostamble;
        updateLineHint();
        if (type == QEvent::KeyPress &&
            lineKeyDown(*static_cast<QLineEdit*>(watched), *static_cast<QKeyEvent*>(event))) {
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool TMCRCustomForm::lineKeyDown(QLineEdit& line, const QKeyEvent& key) {
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
    // These lines have no whole-string deletion: count the key as touched.
    const LineKeyDecision decision =
        decideLineKey(which, line.text().toLatin1().toStdString(), caret, selection, true);
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
    const QString text = QString::fromLatin1(decision.edit.text);
    if (line.text() != text) {
        line.setText(text);
    }
    line.setCursorPosition(decision.edit.caret);
    return decision.edit.consumed;
}

QString TMCRCustomForm::lineHintText() const {
    // The label may be cut to its width; its tooltip holds the whole text.
    return m_lineHint->toolTip();
}

void TMCRCustomForm::updateLineHint() {
    const QLineEdit* line = m_state.Globals.EditTarget == kEditPostamble ? m_postamble : m_preamble;
    QStringList texts;
    for (const NameHint& hint : unknownNames(line->text().toLatin1().toStdString())) {
        texts << QString::fromLatin1(hint.text);
    }
    const QString whole = texts.join(QStringLiteral("   "));
    m_lineHint->setToolTip(whole);
    m_lineHint->setText(
        m_lineHint->fontMetrics().elidedText(whole, Qt::ElideRight, m_lineHint->width()));
}

}  // namespace qk750
