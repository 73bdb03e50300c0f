#include "ui/window_support.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace qk750 {

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string bytes(const QString& text) {
    return text.toLatin1().toStdString();
}

QString pathText(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

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
