#include "ui/mcr_builtin_dialog.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

#include "app/mcr_settings.h"
#include "setup/program_state.h"
#include "ui/window_support.h"

namespace qk750 {

namespace {

// The reader modes' names, some with their Hebrew names beside them.
constexpr std::array<const char*, kBuiltInModeCount> kModeTexts = {
    "1. MCR Data + Enter",
    "2. MCR Data without Enter",
    "3. Macabbi/Clicks - קופת חולים/קליקס/מכבי",
    "4. Analiza/Yarpa - אנליזה/ירפא/בתי מרקחת",
    "5. BF + ?/NetPOS",
    "6. Hashavshevet - חשבשבת",
    "7. Tranzila - טרנזילה",
    "8. IBM קופה רושמת",
    "9. ? + MCR Data",
    "10. NIKUV - ניקוב",
    "11. ISUMIM - א.ח יישומים",
};

constexpr const char* kGroupCaption = "Select Reader Setup - בחר את ההגדרה המתאימה";

}  // namespace

QString McrBuiltInDialog::entryText(int entry) {
    return QString::fromUtf8(kModeTexts.at(static_cast<std::size_t>(entry)));
}

McrBuiltInDialog::McrBuiltInDialog(ProgramState& state, QWidget* owner)
    : QDialog(nullptr), m_owner(owner), m_state(state) {
    setObjectName(QStringLiteral("mcrBuiltInDialog"));
    setWindowTitle(QStringLiteral("Built-IN MCR Setup"));
    setFixedSize(576, 420);
    // The Hebrew names need a font that has their glyphs.
    QFont font(QStringLiteral("DejaVu Sans"), 10);
    setFont(font);

    m_mcrModeList = new QGroupBox(QString::fromUtf8(kGroupCaption), this);
    m_mcrModeList->setObjectName(QStringLiteral("mcrModeList"));
    m_mcrModeList->setLayoutDirection(Qt::LeftToRight);
    m_mcrModeList->setGeometry(12, 10, 552, 350);
    auto* layout = new QVBoxLayout(m_mcrModeList);
    layout->setSpacing(4);
    m_modeButtons = new QButtonGroup(this);
    for (int entry = 0; entry < kBuiltInModeCount; ++entry) {
        auto* button = new QRadioButton(entryText(entry), m_mcrModeList);
        button->setObjectName(QStringLiteral("mcrMode%1").arg(entry + 1));
        m_modeButtons->addButton(button, entry);
        layout->addWidget(button);
        button->installEventFilter(this);
    }

    auto* ok = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton),
                               QStringLiteral("&Ok"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setGeometry(170, 372, 100, 34);
    ok->setDefault(true);
    m_okButton = ok;
    auto* close = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                                  QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setGeometry(306, 372, 100, 34);
    connect(ok, &QPushButton::clicked, this, &McrBuiltInDialog::acceptChoice);
    connect(close, &QPushButton::clicked, this, &McrBuiltInDialog::acceptChoice);
}

int McrBuiltInDialog::selectedEntry() const {
    return m_modeButtons->checkedId();
}

void McrBuiltInDialog::selectEntry(int entry) {
    if (entry >= 0 && entry < kBuiltInModeCount) {
        m_modeButtons->button(entry)->setChecked(true);
        return;
    }
    // An exclusive group never unchecks its last button by itself.
    m_modeButtons->setExclusive(false);
    for (QAbstractButton* button : m_modeButtons->buttons()) {
        button->setChecked(false);
    }
    m_modeButtons->setExclusive(true);
}

void McrBuiltInDialog::acceptChoice() {
    m_state.Setup.Mcr.McrSetupMode = selectedEntry() + 1;
    hide();
}

void McrBuiltInDialog::setEditingEnabled(bool enabled) {
    m_mcrModeList->setEnabled(enabled);
}

void McrBuiltInDialog::showEvent(QShowEvent* event) {
    placeOwned(this, m_owner);
    // The dialog opens on the mode list at the current mode.
    QAbstractButton* current = m_modeButtons->checkedButton();
    if (m_mcrModeList->isEnabled()) {
        (current != nullptr ? current : m_modeButtons->button(0))->setFocus();
    } else {
        m_okButton->setFocus();
    }
    QDialog::showEvent(event);
}

bool McrBuiltInDialog::eventFilter(QObject* watched, QEvent* event) {
    // The arrow keys choose the mode before or after the focused one, also when none is
    // chosen yet (the group's own handling then only moves the focus).
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (button != nullptr && event->type() == QEvent::KeyPress) {
        const int key = static_cast<const QKeyEvent*>(event)->key();
        const int step = key == Qt::Key_Down || key == Qt::Key_Right ? 1
                         : key == Qt::Key_Up || key == Qt::Key_Left  ? -1
                                                                     : 0;
        if (step != 0) {
            const int entry =
                std::clamp(m_modeButtons->id(button) + step, 0, kBuiltInModeCount - 1);
            selectEntry(entry);
            m_modeButtons->button(entry)->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace qk750
