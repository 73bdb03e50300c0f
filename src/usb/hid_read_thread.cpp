#include "usb/hid_controller.h"

#include <algorithm>

namespace qk750 {

// One piece of work the reader hands to the user-interface thread. It runs exactly once,
// from the dispatcher's queue or from stop(), whichever comes first; the queued copy
// keeps only this record alive, so it is harmless after the reader has gone.
struct HidReadThread::Handover {
    std::mutex mutex;
    std::condition_variable doneChanged;
    std::function<void()> work;
    bool taken = false;
    bool done = false;

    void runOnce() {
        {
            std::lock_guard lock(mutex);
            if (taken) {
                return;
            }
            taken = true;
        }
        work();
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        doneChanged.notify_all();
    }

    void waitUntilDone() {
        std::unique_lock lock(mutex);
        doneChanged.wait(lock, [this] { return done; });
    }
};

HidReadThread::HidReadThread(HidDevice& device, std::size_t reportLength)
    : m_device(device), m_report(reportLength) {
    m_thread = std::thread([this] { run(); });
}

HidReadThread::~HidReadThread() {
    stop();
}

void HidReadThread::stop() {
    if (!m_thread.joinable()) {
        return;
    }
    std::unique_lock lock(m_mutex);
    m_terminated = true;
    if (m_handle != nullptr) {
        m_handle->cancelRead();
    }
    m_changed.notify_all();
    for (;;) {
        m_changed.wait(lock, [this] { return m_finished || m_current != nullptr; });
        if (m_current != nullptr) {
            // The reader waits for its handler: run it here, or it would never end.
            auto handover = std::move(m_current);
            lock.unlock();
            handover->runOnce();
            lock.lock();
            continue;
        }
        break;
    }
    lock.unlock();
    m_thread.join();
}

void HidReadThread::handOver(std::function<void()> work) {
    auto handover = std::make_shared<Handover>();
    handover->work = std::move(work);
    {
        std::lock_guard lock(m_mutex);
        m_current = handover;
    }
    m_changed.notify_all();
    m_device.m_dispatcher.post([handover] { handover->runOnce(); });
    handover->waitUntilDone();
    std::lock_guard lock(m_mutex);
    if (m_current == handover) {
        m_current.reset();
    }
}

void HidReadThread::run() {
    while (!m_terminated) {
        std::fill(m_report.begin(), m_report.end(), 0);
        std::uint32_t error = 0;
        HidHandle* handle = m_device.overlappedReadHandle(&error);
        HidReadResult result{HidReadStatus::Error, 0};
        if (handle != nullptr) {
            {
                std::lock_guard lock(m_mutex);
                m_handle = handle;
            }
            if (m_terminated) {
                break;
            }
            result = handle->readInput(m_report.data(), m_report.size(),
                                       static_cast<int>(m_device.ThreadSleepTime()));
            if (result.status == HidReadStatus::Error) {
                error = handle->lastError();
            }
        }
        if (m_terminated) {
            break;
        }
        if (result.status == HidReadStatus::Data && result.bytes > 0) {
            std::vector<std::uint8_t> report(m_report.begin(), m_report.begin() + result.bytes);
            handOver([this, report] { m_device.deliverData(report.data(), report.size()); });
        } else if (result.status == HidReadStatus::Error) {
            m_lastError = error;
            if (handle != nullptr) {
                // A handle that failed stays failed, even where the keyboard is back on the
                // same port under its old identity and path (Windows): the next read opens
                // the device anew.
                std::lock_guard lock(m_mutex);
                m_handle = nullptr;
                m_device.m_overlappedRead.reset();
            }
            handOver([this, error] { m_device.deliverError(error); });
            // Retrying at once would spin and flood the user-interface thread with the
            // same error; wait one sleep time, or less if asked to stop.
            std::unique_lock lock(m_mutex);
            m_changed.wait_for(lock, std::chrono::milliseconds(m_device.ThreadSleepTime()),
                               [this] { return m_terminated.load(); });
        }
    }
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_handle = nullptr;
    }
    m_changed.notify_all();
}

}  // namespace qk750
