#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

#include "usb/protocol_ports.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace qk750 {

struct KeyboardOutcome;

inline constexpr const char* kPlugInNextText = "Plug in the next keyboard";
inline constexpr const char* kUnplugText = "Unplug the keyboard";

// The roll-out window: the setup's name, how many keyboards were programmed and how many
// failed, the last keyboard's outcome large and coloured with what to do next, the
// progress of the keyboard being programmed, and Stop. The main window's roll-out shows
// it as an owned window; Stop, Esc or closing it asks the roll-out to end, and the
// roll-out hides it once it has.
class RollOutWindow : public QWidget {
    Q_OBJECT

public:
    explicit RollOutWindow(QWidget* owner = nullptr);
    ~RollOutWindow() override;

    // A roll-out of this setup begins: nothing programmed yet.
    void begin(const QString& setupName);
    void showWaiting();
    void showProgramming(int number);
    void showOutcome(const KeyboardOutcome& outcome, int programmed, int failed);
    // Where the keyboard in progress shows its progress.
    ProtocolReporter& progress();

signals:
    void stopRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    class Progress;

    QPointer<QWidget> m_owner;
    QLabel* m_setupLabel;
    QLabel* m_programmedLabel;
    QLabel* m_failedLabel;
    QLabel* m_outcomeLabel;
    QLabel* m_nextLabel;
    QProgressBar* m_progressBar;
    QPushButton* m_stopButton;
    std::unique_ptr<Progress> m_progress;
};

}  // namespace qk750
