#include "ui/status.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

#include "ui/window_support.h"

namespace qk750 {

TStatusForm::TStatusForm(QWidget* owner)
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      m_owner(owner) {
    setObjectName(QStringLiteral("StatusForm"));
    setWindowTitle(QString());
    setFixedSize(611, 96);

    m_label = new QLabel(
        QStringLiteral("Programming ZQ USB QK750.  Please wait until completed..."), this);
    m_label->setObjectName(QStringLiteral("Label1"));
    QFont bold = m_label->font();
    bold.setBold(true);
    bold.setPointSize(10);
    m_label->setFont(bold);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setGeometry(8, 14, 595, 24);

    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("ProgressBar1"));
    m_bar->setGeometry(34, 56, 543, 19);
    m_bar->setRange(0, 80);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
}

void TStatusForm::setRange(int maximum, int position) {
    m_bar->setRange(0, maximum);
    setPosition(position);
}

void TStatusForm::setPosition(int position) {
    m_bar->setValue(std::clamp(position, m_bar->minimum(), m_bar->maximum()));
}

void TStatusForm::showEvent(QShowEvent* event) {
    centreOn(this, m_owner);
    QWidget::showEvent(event);
}

void TStatusForm::closeEvent(QCloseEvent* event) {
    // The operator cannot close it; only the run hides it.
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

}  // namespace qk750
