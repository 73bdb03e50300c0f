#pragma once

#include <QObject>

#include <functional>
#include <memory>

#include "usb/hid_controller.h"
#include "usb/protocol_ports.h"

class QSocketNotifier;

namespace qk750 {

class HidPlatform;

// The protocol's waits on the Qt event loop: deadline-based, so a wait is never
// shorter than asked and overshoots by no more than the scheduler's wake-up latency.
class QtProtocolWaits : public ProtocolWaits {
public:
    QtProtocolWaits();
    void pumpedWait(int ms, const bool* stop = nullptr) override;
    void processMessages() override;
};

// Runs posted work on the thread of the Qt event loop (the user-interface thread).
class QtUiDispatcher : public UiDispatcher {
public:
    QtUiDispatcher();
    ~QtUiDispatcher() override;
    void post(std::function<void()> fn) override;
    void processPending() override;

private:
    std::unique_ptr<QObject> m_receiver;
};

// Hands a platform's descriptor-based device notifications (the Linux udev monitor) to
// the platform whenever the event loop sees the descriptor readable.
class PlatformNotificationWatcher {
public:
    explicit PlatformNotificationWatcher(HidPlatform& platform);
    ~PlatformNotificationWatcher();

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// How long a failure's sound lasts: three beeps this far apart.
inline constexpr int kBeepIntervalMs = 250;

// A success beeps once, a failure three times; the later beeps come from the event loop
// (while context lives), so nothing waits for them.
void PlayOutcomeSound(QObject* context, bool ok, const std::function<void()>& beep);

}  // namespace qk750
