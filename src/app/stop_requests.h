#pragma once

#include <functional>
#include <memory>
#include <string>

class QObject;

namespace qk750 {

// While it lives, Ctrl+C and SIGTERM (on Windows the console's Ctrl+C, Ctrl+Break and
// close, and the log-off and shut-down events) no longer end the process at once: `stop`
// runs on the event loop's thread with the request's name, and the program finishes
// cleanly. On Windows a console that is being closed, or a session that ends, waits until
// this object is destroyed, so that what the program still writes reaches the disk.
// One at a time; needs a QCoreApplication.
class StopRequests {
public:
    explicit StopRequests(std::function<void(const std::string& what)> stop);
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace qk750
