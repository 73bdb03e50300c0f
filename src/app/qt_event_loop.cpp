#include "app/qt_event_loop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <thread>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "usb/hid_platform.h"

namespace qk750 {

namespace {

using Clock = std::chrono::steady_clock;

bool stopped(const bool* stop) {
    return stop != nullptr && *stop;
}

}  // namespace

QtProtocolWaits::QtProtocolWaits() {
#ifdef __linux__
    // Sleeps may otherwise end up to 50 us late each (the default timer slack), which a
    // thousand requests of two waits each turn into a tenth of a second.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

void QtProtocolWaits::pumpedWait(int ms, const bool* stop) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    // The event loop sleeps on a precise one-shot timer until about a millisecond before
    // the deadline, handling every event that comes meanwhile; the rest is slept
    // exactly. Event-loop timers count whole milliseconds and wake up late by a fraction
    // of one, which over a thousand 6 ms waits would add several per cent to a run.
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    bool fired = false;
    QObject::connect(&timer, &QTimer::timeout, [&fired] {
        fired = true;
#ifdef Q_OS_WIN
        // Windows' event dispatcher delivers posted events, this timeout among them,
        // before it waits, and then waits for the next message all the same: without
        // the interrupt the wait below would outlast its timer, forever when nothing
        // else happens.
        QAbstractEventDispatcher::instance()->interrupt();
#endif
    });
    for (;;) {
        QCoreApplication::processEvents();
        if (stopped(stop)) {
            return;
        }
        const auto remaining = deadline - Clock::now();
        if (remaining <= Clock::duration::zero()) {
            return;
        }
        const auto wholeMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(remaining).count();
        if (wholeMs < 2) {
            std::this_thread::sleep_for(remaining);
            continue;
        }
        fired = false;
        timer.start(static_cast<int>(wholeMs - 1));
        while (!fired && !stopped(stop)) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        timer.stop();
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

void PlayOutcomeSound(QObject* context, bool ok, const std::function<void()>& beep) {
    beep();
    for (int later = 1; !ok && later < 3; ++later) {
        QTimer::singleShot(later * kBeepIntervalMs, context, beep);
    }
}

}  // namespace qk750
