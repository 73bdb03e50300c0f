#include "app/qt_event_loop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <thread>

#include "usb/hid_platform.h"

namespace qk750 {

namespace {

using Clock = std::chrono::steady_clock;

bool stopped(const bool* stop) {
    return stop != nullptr && *stop;
}

}  // namespace

void QtProtocolWaits::pumpedWait(int ms, const bool* stop) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    // A precise one-shot timer wakes the event loop at the deadline; every event in
    // between is processed as it comes.
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    bool fired = false;
    QObject::connect(&timer, &QTimer::timeout, [&fired] { fired = true; });
    timer.start(ms);
    while (!stopped(stop)) {
        const auto remaining = deadline - Clock::now();
        if (remaining <= Clock::duration::zero()) {
            return;
        }
        if (fired) {
            // The timer counts whole milliseconds and may fire a fraction early.
            std::this_thread::sleep_for(remaining);
            QCoreApplication::processEvents();
            continue;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void QtProtocolWaits::processMessages() {
    QCoreApplication::processEvents();
}

QtUiDispatcher::QtUiDispatcher() : m_receiver(std::make_unique<QObject>()) {}

QtUiDispatcher::~QtUiDispatcher() = default;

void QtUiDispatcher::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(m_receiver.get(), std::move(fn), Qt::QueuedConnection);
}

void QtUiDispatcher::processPending() {
    QCoreApplication::sendPostedEvents(m_receiver.get(), QEvent::MetaCall);
}

PlatformNotificationWatcher::PlatformNotificationWatcher(HidPlatform& platform) {
    const int fd = platform.notificationDescriptor();
    if (fd < 0) {
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated,
                     [&platform] { platform.processNotifications(); });
}

PlatformNotificationWatcher::~PlatformNotificationWatcher() = default;

}  // namespace qk750
