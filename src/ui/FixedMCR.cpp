#include "ui/FixedMCR.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

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

QString TFixedMcrSetupForm::entryText(int entry) {
    return QString::fromUtf8(kModeTexts.at(static_cast<std::size_t>(entry)));
}

TFixedMcrSetupForm::TFixedMcrSetupForm(ProgramState& state, QWidget* owner)
    : QWidget(nullptr, Qt::Dialog), m_owner(owner), m_state(state) {
    setObjectName(QStringLiteral("FixedMcrSetupForm"));
    setWindowTitle(QStringLiteral("Built-IN MCR Setup"));
    setFixedSize(576, 420);
    // The Hebrew names need a font that has their glyphs.
    QFont font(QStringLiteral("DejaVu Sans"), 10);
    setFont(font);

    m_modes = new QGroupBox(QString::fromUtf8(kGroupCaption), this);
    m_modes->setObjectName(QStringLiteral("McrModeRadioGroup"));
    m_modes->setLayoutDirection(Qt::LeftToRight);
    m_modes->setGeometry(12, 10, 552, 350);
    auto* layout = new QVBoxLayout(m_modes);
    layout->setSpacing(4);
    m_buttons = new QButtonGroup(this);
    for (int entry = 0; entry < kBuiltInModeCount; ++entry) {
        auto* button = new QRadioButton(entryText(entry), m_modes);
        button->setObjectName(QStringLiteral("McrMode%1").arg(entry + 1));
        m_buttons->addButton(button, entry);
        layout->addWidget(button);
    }

    auto* ok = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton),
                               QStringLiteral("&Ok"), this);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    ok->setGeometry(170, 372, 100, 34);
    auto* close = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                                  QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("BitBtn2"));
    close->setGeometry(306, 372, 100, 34);
    connect(ok, &QPushButton::clicked, this, &TFixedMcrSetupForm::acceptChoice);
    connect(close, &QPushButton::clicked, this, &TFixedMcrSetupForm::acceptChoice);
}

int TFixedMcrSetupForm::selectedEntry() const {
    return m_buttons->checkedId();
}

void TFixedMcrSetupForm::selectEntry(int entry) {
    if (entry >= 0 && entry < kBuiltInModeCount) {
        m_buttons->button(entry)->setChecked(true);
        return;
    }
    // An exclusive group never unchecks its last button by itself.
    m_buttons->setExclusive(false);
    for (QAbstractButton* button : m_buttons->buttons()) {
        button->setChecked(false);
    }
    m_buttons->setExclusive(true);
}

void TFixedMcrSetupForm::acceptChoice() {
    m_state.Setup.Mcr.McrSetupMode = selectedEntry() + 1;
    hide();
}

void TFixedMcrSetupForm::setEditingEnabled(bool enabled) {
    m_modes->setEnabled(enabled);
}

void TFixedMcrSetupForm::showEvent(QShowEvent* event) {
    centreOn(this, m_owner);
    QWidget::showEvent(event);
}

}  // namespace qk750
