#include "ui/key_test_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

#include "ui/window_support.h"

namespace qk750 {

namespace {

// The hook in place in this process, if any.
ApplicationKeyboardHook* s_installedHook = nullptr;

// Keys of an ordinary keyboard that the key-sequence names leave out.
struct ExtraKeyName {
    int key;
    const char* name;
};
constexpr ExtraKeyName kExtraKeyNames[] = {
    {Qt::Key_Super_L, "Left Windows"},
    {Qt::Key_Super_R, "Right Windows"},
    {Qt::Key_AltGr, "AltGr"},
};

bool isPrintable(const QString& text) {
    for (const QChar c : text) {
        if (!c.isPrint() || c.isSurrogate()) {
            return false;
        }
    }
    return true;
}

}  // namespace

QString keyName(int key) {
    if (key == 0 || key == Qt::Key_unknown) {
        return {};
    }
    for (const ExtraKeyName& extra : kExtraKeyNames) {
        if (extra.key == key) {
            return QString::fromLatin1(extra.name);
        }
    }
    // For a key it has no name for, the key sequence makes up a character from the code.
    const QString name = QKeySequence(key).toString(QKeySequence::PortableText);
    if (!isPrintable(name)) {
        return {};
    }
    return name.left(KeyTestWindow::kMaxKeyName);
}

HookedKeyEvent::HookedKeyEvent(QEvent::Type message, int key, QString text, bool released)
    : QEvent(message), m_key(key), m_text(std::move(text)), m_released(released) {}

ApplicationKeyboardHook::~ApplicationKeyboardHook() {
    UnhookKeyboard();
}

bool ApplicationKeyboardHook::HookKeyboard(QObject* window, QEvent::Type message) {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr || window == nullptr || message == QEvent::None ||
        s_installedHook != nullptr) {
        return false;
    }
    m_window = window;
    m_message = message;
    application->installEventFilter(this);
    s_installedHook = this;
    return true;
}

void ApplicationKeyboardHook::UnhookKeyboard() {
    if (s_installedHook != this) {
        return;
    }
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->removeEventFilter(this);
    }
    s_installedHook = nullptr;
    m_window.clear();
}

bool ApplicationKeyboardHook::isInstalled() const {
    return s_installedHook == this;
}

bool ApplicationKeyboardHook::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    // A keystroke reaches the application first as an event of its top-level window, then
    // again for the focus widget and for each parent it is passed on to: taken at the
    // window, each keystroke is seen once.
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && watched->isWindowType() &&
        m_window) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        QCoreApplication::postEvent(m_window, new HookedKeyEvent(m_message, key->key(), key->text(),
                                                                 type == QEvent::KeyRelease));
    }
    return QObject::eventFilter(watched, event);
}

KeyTestWindow::KeyTestWindow(QWidget* owner)
    // A dialog, so that the window manager keeps it above the main window it belongs to; a
    // title and nothing else: neither a system menu nor a close box.
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_owner(owner) {
    setObjectName(QStringLiteral("keyTestWindow"));
    setWindowTitle(QStringLiteral("Test Keys"));
    setFixedSize(568, 349);

    m_keyLog = new QPlainTextEdit(this);
    m_keyLog->setObjectName(QStringLiteral("keyLog"));
    m_keyLog->setGeometry(8, 8, 553, 281);
    m_keyLog->setReadOnly(true);
    // Read-only, but with a caret that shows where the next key goes.
    m_keyLog->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_keyLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    connect(m_keyLog, &QPlainTextEdit::textChanged, this, &KeyTestWindow::limitKeyLog);

    m_closeButton = new QPushButton(QStringLiteral("Close"), this);
    m_closeButton->setObjectName(QStringLiteral("closeButton"));
    m_closeButton->setGeometry(336, 304, 113, 33);
    m_closeButton->setFocusPolicy(Qt::ClickFocus);
    m_closeButton->setAutoDefault(false);
    m_closeButton->installEventFilter(this);

    m_clearButton = new QPushButton(QStringLiteral("Clear"), this);
    m_clearButton->setObjectName(QStringLiteral("clearButton"));
    m_clearButton->setGeometry(120, 304, 113, 33);
    m_clearButton->setFocusPolicy(Qt::ClickFocus);
    m_clearButton->setAutoDefault(false);
    connect(m_clearButton, &QPushButton::clicked, this, &KeyTestWindow::clearKeyLog);

    registerKeyMessage();
}

KeyTestWindow::~KeyTestWindow() {
    removeHook();
}

void KeyTestWindow::registerKeyMessage() {
    // The window's own message for the hook; without one the hook has nothing to post and
    // the window shows nothing.
    const int message = QEvent::registerEventType();
    if (message < 0) {
        QApplication::beep();
        return;
    }
    m_keyMessage = static_cast<QEvent::Type>(message);
}

void KeyTestWindow::setKeyboardHook(KeyboardHook* hook) {
    removeHook();
    m_hook = hook != nullptr ? hook : &m_ownHook;
}

bool KeyTestWindow::installHook() {
    if (m_hook->HookKeyboard(this, m_keyMessage)) {
        return true;
    }
    QCoreApplication::processEvents();
    return false;
}

void KeyTestWindow::removeHook() {
    m_hook->UnhookKeyboard();
}

bool KeyTestWindow::event(QEvent* event) {
    if (m_keyMessage != QEvent::None && event->type() == m_keyMessage) {
        handleKeystroke(*static_cast<const HookedKeyEvent*>(event));
    }
    return QWidget::event(event);
}

void KeyTestWindow::handleKeystroke(const HookedKeyEvent& keystroke) {
    if (keystroke.released()) {
        return;
    }
    const QString& text = keystroke.text();
    if (text.size() == 1 && text.at(0) == QLatin1Char('\r')) {
        appendToKeyLog(QStringLiteral("<Enter>"));
        appendToKeyLog(QStringLiteral("\n"));
    } else if (text.size() == 1 && isPrintable(text)) {
        // Delete types character 127 on some systems: it is a control character like the
        // ones below 32 and is shown by name.
        appendToKeyLog(text);
    } else {
        const QString name = keyName(keystroke.key());
        if (!name.isEmpty()) {
            appendToKeyLog(QLatin1Char('<') + name + QLatin1Char('>'));
        }
    }
    m_keyLog->setFocus();
    m_keyLog->moveCursor(QTextCursor::End);
}

void KeyTestWindow::appendToKeyLog(const QString& text) {
    // The text box takes no more than its input limit.
    const int length = m_keyLog->document()->characterCount() - 1;
    const QString accepted = text.left(std::max(0, kInputLimit - length));
    if (accepted.isEmpty()) {
        return;
    }
    QTextCursor cursor(m_keyLog->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(accepted);
}

void KeyTestWindow::limitKeyLog() {
    const QTextDocument* log = m_keyLog->document();
    // A final line break ends a line; only a key typed after it begins the next one.
    const QString last = log->lastBlock().text();
    if (log->blockCount() - (last.isEmpty() ? 1 : 0) > kMaxLines) {
        // The line just begun starts the box afresh: no key typed is lost.
        m_keyLog->setPlainText(last);
        m_keyLog->moveCursor(QTextCursor::End);
    }
}

void KeyTestWindow::closePressed() {
    removeHook();
    hide();
}

void KeyTestWindow::clearKeyLog() {
    m_keyLog->clear();
    m_keyLog->setFocus();
}

void KeyTestWindow::showEvent(QShowEvent* event) {
    placeOwned(this, m_owner);
    QWidget::showEvent(event);
}

void KeyTestWindow::closeEvent(QCloseEvent* event) {
    removeHook();
    event->accept();
}

bool KeyTestWindow::eventFilter(QObject* watched, QEvent* event) {
    // "Close" acts as soon as a mouse button goes down on it.
    if (watched == m_closeButton && event->type() == QEvent::MouseButtonPress) {
        closePressed();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace qk750
