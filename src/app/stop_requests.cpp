#include "app/stop_requests.h"

#include <QObject>

#ifdef _WIN32
#include <windows.h>

#include <QAbstractEventDispatcher>

#include <chrono>
#include <condition_variable>
#include <mutex>
#else
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#endif

namespace qk750 {

#ifdef _WIN32

namespace {

// How long a console being closed, or a session ending, waits for the program to finish;
// Windows ends the process itself a little after that.
constexpr auto kFinishWait = std::chrono::seconds(4);

const char* eventName(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            return "Ctrl+C";
        case CTRL_BREAK_EVENT:
            return "Ctrl+Break";
        case CTRL_CLOSE_EVENT:
            return "console closed";
        case CTRL_LOGOFF_EVENT:
            return "log-off";
        default:
            return "shut-down";
    }
}

}  // namespace

struct StopRequests::Impl {
    std::function<void(const std::string&)> stop;
    QObject receiver;

    static inline std::mutex mutex;
    static inline std::condition_variable finished;
    static inline Impl* current = nullptr;  // guarded by mutex

    // Runs on a thread of its own that the system starts for the event.
    static BOOL WINAPI handle(DWORD event) {
        std::unique_lock lock(mutex);
        if (current == nullptr) {
            return FALSE;  // the next handler (the default one ends the process)
        }
        const std::string what = eventName(event);
        Impl* impl = current;
        QMetaObject::invokeMethod(
            &impl->receiver,
            [impl, what] {
                impl->stop(what);
                // Windows' event dispatcher delivers posted events and then waits for the next
                // message all the same: the wait that this stop is to end ends now.
                QAbstractEventDispatcher::instance()->interrupt();
            },
            Qt::QueuedConnection);
        if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT ||
            event == CTRL_SHUTDOWN_EVENT) {
            // Returning lets Windows end the process: not before the program has finished.
            finished.wait_for(lock, kFinishWait, [] { return current == nullptr; });
        }
        return TRUE;
    }
};

StopRequests::StopRequests(std::function<void(const std::string& what)> stop)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->stop = std::move(stop);
    {
        std::lock_guard lock(Impl::mutex);
        Impl::current = m_impl.get();
    }
    ::SetConsoleCtrlHandler(&Impl::handle, TRUE);
}

StopRequests::~StopRequests() {
    ::SetConsoleCtrlHandler(&Impl::handle, FALSE);
    {
        std::lock_guard lock(Impl::mutex);
        Impl::current = nullptr;
    }
    Impl::finished.notify_all();
}

#else

namespace {

int g_pipe[2] = {-1, -1};

// Only what is safe in a signal handler: one byte into the pipe, naming the signal.
void onSignal(int signal) {
    const int saved = errno;
    const char which = signal == SIGINT ? 'I' : 'T';
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &which, 1);
    errno = saved;
}

}  // namespace

struct StopRequests::Impl {
    std::function<void(const std::string&)> stop;
    std::unique_ptr<QSocketNotifier> notifier;
    struct sigaction previousInt {};
    struct sigaction previousTerm {};
};

StopRequests::StopRequests(std::function<void(const std::string& what)> stop)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->stop = std::move(stop);
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;  // the signals keep their usual effect
    }
    Impl* impl = m_impl.get();
    impl->notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(impl->notifier.get(), &QSocketNotifier::activated, [impl] {
        char which[16];
        ssize_t n = 0;
        bool interrupted = false;
        bool terminated = false;
        while ((n = ::read(g_pipe[0], which, sizeof which)) > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                (which[i] == 'I' ? interrupted : terminated) = true;
            }
        }
        if (interrupted) {
            impl->stop("SIGINT");
        }
        if (terminated) {
            impl->stop("SIGTERM");
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &impl->previousInt);
    ::sigaction(SIGTERM, &action, &impl->previousTerm);
}

StopRequests::~StopRequests() {
    if (!m_impl->notifier) {
        return;
    }
    ::sigaction(SIGINT, &m_impl->previousInt, nullptr);
    ::sigaction(SIGTERM, &m_impl->previousTerm, nullptr);
    m_impl->notifier.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

#endif

}  // namespace qk750
