#include "ui/progress_window.h"

#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

#include "ui/window_support.h"

namespace qk750 {

ProgressWindow::ProgressWindow(QWidget* owner)
    // Window managers that keep a close box on every title bar would offer one on a title
    // that has nothing to say (the caption is empty): the window has no frame of the
    // window manager's, it draws its own border. It takes no focus: there is nothing in it.
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      m_owner(owner) {
    setObjectName(QStringLiteral("progressWindow"));
    auto* border = new QFrame(this);
    border->setObjectName(QStringLiteral("border"));
    border->setFrameStyle(QFrame::Panel | QFrame::Raised);
    border->setLineWidth(2);
    border->setGeometry(0, 0, 611, 96);
    setWindowTitle(QString());
    setFixedSize(611, 96);

    m_messageLabel = new QLabel(
        QStringLiteral("Programming ZQ USB QK750.  Please wait until completed..."), this);
    m_messageLabel->setObjectName(QStringLiteral("messageLabel"));
    QFont bold = m_messageLabel->font();
    bold.setBold(true);
    bold.setPointSize(10);
    m_messageLabel->setFont(bold);
    m_messageLabel->setAlignment(Qt::AlignCenter);
    m_messageLabel->setGeometry(8, 14, 595, 24);

    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setGeometry(34, 56, 543, 19);
    m_progressBar->setRange(0, 80);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
}

void ProgressWindow::setRange(int maximum, int position) {
    m_progressBar->setRange(0, maximum);
    setPosition(position);
}

void ProgressWindow::setPosition(int position) {
    // QProgressBar repaints at once whenever it grows visibly, and painting a window waits
    // for the display server, a millisecond and more each time; its own checks cost tens of
    // microseconds besides. Done between two requests, that lengthens the run; done when
    // the run next waits, at most once per wait, it costs nothing.
    m_position = position;
    if (!m_positionPosted) {
        m_positionPosted = true;
        QMetaObject::invokeMethod(
            this, [this] { showPosition(); }, Qt::QueuedConnection);
    }
}

void ProgressWindow::showPosition() {
    m_positionPosted = false;
    m_progressBar->setValue(
        std::clamp(m_position, m_progressBar->minimum(), m_progressBar->maximum()));
}

void ProgressWindow::showEvent(QShowEvent* event) {
    placeOwned(this, m_owner);
    QWidget::showEvent(event);
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    // The operator cannot close it; only the run hides it.
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

}  // namespace qk750
