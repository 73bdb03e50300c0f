#include "ui/window_support.h"

#include <QCoreApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace qk750 {

void centreOn(QWidget* window, const QWidget* owner) {
    QRect area;
    if (owner != nullptr && owner->isVisible()) {
        area = owner->window()->frameGeometry();
    } else if (const QScreen* screen = window->screen()) {
        area = screen->availableGeometry();
    } else {
        return;
    }
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

void waitUntilHidden(QWidget* window) {
    QPointer<QWidget> guard(window);
    while (guard && guard->isVisible()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void showOwned(QWidget* owner, QWidget* window) {
    QPointer<QWidget> guard(owner);
    owner->setEnabled(false);
    window->show();
    window->raise();
    window->activateWindow();
    waitUntilHidden(window);
    if (guard) {
        owner->setEnabled(true);
        owner->activateWindow();
        owner->setFocus();
    }
}

}  // namespace qk750
