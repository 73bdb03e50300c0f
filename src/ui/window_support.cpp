#include "ui/window_support.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QValidator>
#include <QWidget>
#include <QWindow>

#include "app/key_text.h"
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace qk750 {

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string bytes(const QString& text) {
    return text.toLatin1().toStdString();
}

std::string keyStringBytes(QString text) {
    QString refused;
    for (;;) {
        if (std::optional<std::string> key = keyBytes(text, &refused)) {
            return *key;
        }
        text.remove(refused);
    }
}

namespace {

class KeyTextValidator : public QValidator {
public:
    KeyTextValidator(std::function<void(const QString&)> rejected, QObject* parent)
        : QValidator(parent), m_rejected(std::move(rejected)) {}

    State validate(QString& input, int&) const override {
        QString refused;
        if (keyBytes(input, &refused)) {
            return Acceptable;
        }
        if (m_rejected) {
            m_rejected(refused);
        }
        return Invalid;
    }

private:
    std::function<void(const QString&)> m_rejected;
};

}  // namespace

void acceptKeyTextOnly(QLineEdit* line, std::function<void(const QString&)> rejected) {
    line->setValidator(new KeyTextValidator(std::move(rejected), line));
}

QString refusedCharacterHint(const QString& character) {
    return QLatin1Char('"') + character + QStringLiteral("\" is not taken: key strings hold ") +
           keyCodePageName() + QStringLiteral(" characters only");
}

void showHint(QLabel* label, const QString& text) {
    label->setToolTip(text);
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideRight, label->width()));
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

void placeOwned(QWidget* window, const QWidget* owner) {
    // Without it the window belongs to no window of ours, and a click on the disabled
    // owner brings the owner to the front over it.
    QWindow* handle = window->windowHandle();
    QWindow* ownerHandle = owner != nullptr ? owner->window()->windowHandle() : nullptr;
    if (handle != nullptr && ownerHandle != nullptr && handle != ownerHandle) {
        handle->setTransientParent(ownerHandle);
    }
    centreOn(window, owner);
}

namespace {

// While an owned window is up, the program stays in front of the operator. A click on
// the disabled owner hands the activation back to the owned window: keystrokes would
// otherwise go to a window that takes none. A minimise that the owned window asked not to
// have is undone: a window manager may give every window the button and minimise the
// owner with it (or, under Wine, minimise only the owner, which hides what it owns), and
// without a task bar nothing would bring either back.
class OwnedWindowGuard : public QObject {
public:
    OwnedWindowGuard(QWidget* owner, QWidget* window) : m_owner(owner), m_window(window) {
        owner->installEventFilter(this);
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (m_owner.isNull() || m_window.isNull() || !m_window->isVisible()) {
            return false;
        }
        if (watched == m_owner && event->type() == QEvent::WindowActivate &&
            !m_owner->isEnabled()) {
            m_window->activateWindow();
        } else if (event->type() == QEvent::WindowStateChange &&
                   (m_window->isMinimized() || m_owner->isMinimized())) {
            // Once the window manager has finished minimising.
            QTimer::singleShot(0, this, [this] {
                if (m_owner && m_owner->isMinimized()) {
                    m_owner->showNormal();
#ifdef Q_OS_WIN
                    // The system hid what the owner owns as it was minimised.
                    ShowOwnedPopups(reinterpret_cast<HWND>(m_owner->winId()), TRUE);
#endif
                }
                if (m_window && m_window->isVisible()) {
                    m_window->showNormal();
                    m_window->activateWindow();
                }
            });
        }
        return false;
    }

private:
    QPointer<QWidget> m_owner;
    QPointer<QWidget> m_window;
};

}  // namespace

void showOwned(QWidget* owner, QWidget* window, const std::function<void()>& shown) {
    QPointer<QWidget> guard(owner);
    const OwnedWindowGuard keepInFront(owner->window(), window);
    // Disabling the owner takes the focus from its control: remember which had it.
    QPointer<QWidget> focused = owner->focusWidget();
    owner->setEnabled(false);
    window->show();
    window->raise();
    window->activateWindow();
    if (shown) {
        shown();
    }
    waitUntilHidden(window);
    if (!guard) {
        return;
    }
    owner->setEnabled(true);
    if (owner->isMinimized()) {
        owner->showNormal();
    }
    owner->activateWindow();
    // The owner gets its activation back: its control is not entered anew.
    if (focused && focused->isEnabled() && focused->isVisible()) {
        focused->setFocus(Qt::ActiveWindowFocusReason);
    } else {
        owner->setFocus(Qt::ActiveWindowFocusReason);
    }
}

}  // namespace qk750
