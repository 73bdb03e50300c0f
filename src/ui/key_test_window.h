#pragma once

#include <QEvent>
#include <QPointer>
#include <QString>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

namespace qk750 {

// One keystroke as the keyboard hook hands it to the window it serves: the key, the
// characters it types, and whether it is a release.
class HookedKeyEvent : public QEvent {
public:
    HookedKeyEvent(QEvent::Type message, int key, QString text, bool released);

    int key() const { return m_key; }
    const QString& text() const { return m_text; }
    bool released() const { return m_released; }

private:
    int m_key;
    QString m_text;
    bool m_released;
};

// The hook that catches every keystroke typed into the program and posts it to one window.
class KeyboardHook {
public:
    virtual ~KeyboardHook() = default;
    // From now on every key press and release is posted to window as a HookedKeyEvent of
    // type message. False when the hook cannot be put in place.
    virtual bool HookKeyboard(QObject* window, QEvent::Type message) = 0;
    // Ends the posting; nothing happens when no hook is in place.
    virtual void UnhookKeyboard() = 0;
};

// The hook as an event filter on the application object. Like a system-wide hook there is
// one per process: a second one cannot be installed while the first is in place, and
// without an application object there is nothing to hook.
class ApplicationKeyboardHook : public QObject, public KeyboardHook {
    Q_OBJECT

public:
    ApplicationKeyboardHook() = default;
    ~ApplicationKeyboardHook() override;

    bool HookKeyboard(QObject* window, QEvent::Type message) override;
    void UnhookKeyboard() override;
    bool isInstalled() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QObject> m_window;
    QEvent::Type m_message = QEvent::None;
};

// The key test window: every keystroke the hook catches is written into a read-only text
// box, printable characters as themselves, Enter as "<Enter>" and a line break, other keys
// as their names in angle brackets. No close box: "Close" removes the hook and hides it.
class KeyTestWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMaxLines = 20;
    static constexpr int kInputLimit = 10000;
    // The longest key name shown.
    static constexpr int kMaxKeyName = 19;

    explicit KeyTestWindow(QWidget* owner = nullptr);
    ~KeyTestWindow() override;

    // The hook used from now on; nullptr goes back to the window's own application hook.
    void setKeyboardHook(KeyboardHook* hook);

    // Installs the hook for this window; false when it could not be installed.
    bool installHook();
    // Removes it, if it is in place.
    void removeHook();

    QPlainTextEdit* keyLog() const { return m_keyLog; }
    // The event type the hook posts to this window.
    QEvent::Type keyMessage() const { return m_keyMessage; }

protected:
    // The test window procedure: translates the hooked keystrokes, then passes every event
    // on to the widget's own handling.
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void registerKeyMessage();
    void limitKeyLog();
    void closePressed();
    void clearKeyLog();
    void handleKeystroke(const HookedKeyEvent& keystroke);
    void appendToKeyLog(const QString& text);

    QPointer<QWidget> m_owner;
    ApplicationKeyboardHook m_ownHook;
    KeyboardHook* m_hook = &m_ownHook;
    QEvent::Type m_keyMessage = QEvent::None;
    QPlainTextEdit* m_keyLog = nullptr;
    QPushButton* m_closeButton = nullptr;
    QPushButton* m_clearButton = nullptr;
};

// The name the test window shows for a key without a character of its own ("F5", "Tab",
// "Shift"), or an empty string when the key has no name.
QString keyName(int key);

}  // namespace qk750
