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
#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include "usb/hid_platform.h"

namespace qk750 {

namespace {

using Clock = std::chrono::steady_clock;

bool stopped(const bool* stop) {
    return stop != nullptr && *stop;
}

// Sleeps for the last part of a wait, under two milliseconds.
void sleepPrecisely(Clock::duration duration) {
#ifdef Q_OS_WIN
    // Sleep(), and std::this_thread::sleep_for with it, end on a tick of the system
    // timer, every 15.6 ms unless some program has asked for finer: the last millisecond
    // of each 6 ms wait would often last 15, and a run take two to three times as long as
    // the keyboard needs. A high-resolution waitable timer ends on time, and unlike
    // timeBeginPeriod leaves the timer of the rest of the system alone. Every Windows that
    // Qt 6 runs on has it (10 1803 and later); should it fail, the plain sleep remains.
    constexpr DWORD HighResolution = 0x2;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
    static const HANDLE timer =
        ::CreateWaitableTimerExW(nullptr, nullptr, HighResolution, TIMER_ALL_ACCESS);
    using Ticks = std::chrono::duration<LONGLONG, std::ratio<1, 10000000>>;  // 100 ns
    LARGE_INTEGER due;
    due.QuadPart = -std::chrono::duration_cast<Ticks>(duration).count();  // negative: relative
    if (timer && ::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
        ::WaitForSingleObject(timer, INFINITE);
        return;
    }
#endif
    std::this_thread::sleep_for(duration);
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
            sleepPrecisely(remaining);
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
