#include "usb/hid_controller.h"

#include <algorithm>

namespace qk750 {

namespace {

// A product string ends at its first zero and holds at most 254 characters.
std::u16string trimProductString(const std::u16string& text) {
    std::u16string result = text.substr(0, text.find(u'\0'));
    if (result.size() > 254) {
        result.resize(254);
    }
    return result;
}

}  // namespace

// ---------------------------------------------------------------- QueueDispatcher

void QueueDispatcher::post(std::function<void()> fn) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(fn));
    }
    m_posted.notify_all();
}

void QueueDispatcher::processPending() {
    for (;;) {
        std::vector<std::function<void()>> batch;
        {
            std::lock_guard lock(m_mutex);
            batch.swap(m_queue);
        }
        if (batch.empty()) {
            return;
        }
        for (auto& fn : batch) {
            fn();
        }
    }
}

bool QueueDispatcher::waitForPending(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_posted.wait_for(lock, timeout, [this] { return !m_queue.empty(); });
}

std::size_t QueueDispatcher::pendingCount() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

// ---------------------------------------------------------------- HidReadThread

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

// ---------------------------------------------------------------- HidDevice

HidDevice::HidDevice(std::unique_ptr<HidPnPInfo> pnpInfo, HidController& controller)
    : m_controller(&controller),
      m_platform(controller.platform()),
      m_dispatcher(controller.dispatcher()),
      m_pnpInfo(std::move(pnpInfo)) {
    SetOnData(controller.OnDeviceData());  // not claimed yet, so no reader starts
    m_onDataError = controller.OnDeviceDataError();
    m_onUnplug = controller.OnDeviceUnplug();

    std::uint32_t error = 0;
    m_file = m_platform.open(m_pnpInfo->DevicePath(), HidOpenMode::ReadWrite, &error);
    m_readWriteAccess = m_file != nullptr;
    if (!m_file) {
        m_file = m_platform.open(m_pnpInfo->DevicePath(), HidOpenMode::QueryOnly, &error);
    }
    if (!m_file) {
        throw HidControllerError("device cannot be opened", error);
    }
    if (!m_file->getAttributes(m_attributes)) {
        throw HidControllerError("device cannot be identified", m_file->lastError());
    }
    closeFileHandle();
}

HidDevice::~HidDevice() {
    closeHandles();
}

void HidDevice::release() {
    if (m_controller != nullptr) {
        m_controller->releaseDevice(this);
        return;
    }
    // The controller went first and left this claimed object to its claimant.
    delete this;
}

HidHandle* HidDevice::fileHandle() {
    if (!m_file && IsAccessible()) {
        std::uint32_t error = 0;
        m_file = m_platform.open(m_pnpInfo->DevicePath(), HidOpenMode::ReadWrite, &error);
        m_readWriteAccess = m_file != nullptr;
        if (!m_file) {
            m_file = m_platform.open(m_pnpInfo->DevicePath(), HidOpenMode::QueryOnly, &error);
        }
        if (!m_file) {
            m_lastError = error;
            return nullptr;
        }
        if (m_numInputBuffers != 0) {
            m_file->setNumInputBuffers(m_numInputBuffers);
            std::uint32_t count = 0;
            m_numInputBuffers = m_file->getNumInputBuffers(count) ? count : 0;
        }
    }
    return m_file.get();
}

HidHandle* HidDevice::overlappedReadHandle(std::uint32_t* error) {
    if (!m_overlappedRead && IsAccessible()) {
        m_overlappedRead =
            m_platform.open(m_pnpInfo->DevicePath(), HidOpenMode::OverlappedRead, error);
        if (m_overlappedRead && m_numOverlappedBuffers != 0) {
            m_overlappedRead->setNumInputBuffers(m_numOverlappedBuffers);
            std::uint32_t count = 0;
            m_numOverlappedBuffers = m_overlappedRead->getNumInputBuffers(count) ? count : 0;
        }
    }
    return m_overlappedRead.get();
}

void HidDevice::closeFileHandle() {
    m_file.reset();
    m_numInputBuffers = 0;
}

void HidDevice::closeHandles() {
    // The reader uses the overlapped read handle: it has to end before that closes.
    stopReadThread();
    closeFileHandle();
    m_overlappedRead.reset();
    m_numOverlappedBuffers = 0;
    m_overlappedWrite.reset();
}

HidCaps HidDevice::Caps() {
    if (!m_preparsed) {
        if (HidHandle* handle = fileHandle()) {
            HidCaps caps;
            if (handle->getCaps(caps)) {
                m_preparsed = caps;
            } else {
                m_lastError = handle->lastError();
            }
            closeFileHandle();
        }
    }
    return m_preparsed.value_or(HidCaps{});
}

std::u16string HidDevice::ProductName() {
    if (m_productName.empty()) {
        if (HidHandle* handle = fileHandle()) {
            std::u16string product;
            if (handle->getProductString(product)) {
                m_productName = trimProductString(product);
            }
            closeFileHandle();
        }
    }
    return m_productName;
}

bool HidDevice::GetFeature(std::uint8_t* buffer, std::size_t length) {
    return featureTransfer([&](HidHandle& handle) { return handle.getFeature(buffer, length); });
}

bool HidDevice::SetFeature(const std::uint8_t* buffer, std::size_t length) {
    return featureTransfer([&](HidHandle& handle) { return handle.setFeature(buffer, length); });
}

bool HidDevice::featureTransfer(const std::function<bool(HidHandle&)>& transfer) {
    if (!IsAccessible()) {
        // Nothing was asked of the system.
        m_lastError = 0;
        return false;
    }
    HidHandle* handle = fileHandle();
    if (handle == nullptr) {
        return false;
    }
    if (!transfer(*handle)) {
        m_lastError = handle->lastError();
        return false;
    }
    return true;
}

void HidDevice::SetNumInputBuffers(std::uint32_t count) {
    if (count == m_numInputBuffers) {
        return;
    }
    if (HidHandle* handle = fileHandle()) {
        if (!handle->setNumInputBuffers(count)) {
            m_lastError = handle->lastError();
        }
        std::uint32_t readBack = 0;
        m_numInputBuffers = handle->getNumInputBuffers(readBack) ? readBack : 0;
    }
}

void HidDevice::SetNumOverlappedBuffers(std::uint32_t count) {
    if (count == m_numOverlappedBuffers) {
        return;
    }
    // The handle belongs to the reader while it runs; it is set up again afterwards.
    const bool wasReading = m_readThread != nullptr;
    stopReadThread();
    std::uint32_t error = 0;
    if (HidHandle* handle = overlappedReadHandle(&error)) {
        if (!handle->setNumInputBuffers(count)) {
            m_lastError = handle->lastError();
        }
        std::uint32_t readBack = 0;
        m_numOverlappedBuffers = handle->getNumInputBuffers(readBack) ? readBack : 0;
    } else if (IsAccessible()) {
        m_lastError = error;
    }
    if (wasReading) {
        startReadThreadIfAllowed();
    }
}

void HidDevice::SetOnData(HidDataEvent handler) {
    if (!handler) {
        stopReadThread();
    }
    m_onData = std::move(handler);
    startReadThreadIfAllowed();
}

void HidDevice::SetThreadSleepTime(std::uint32_t ms) {
    if (ms >= kMinThreadSleepTime && ms <= kMaxThreadSleepTime) {
        m_threadSleepTime = ms;
    }
}

std::string HidDevice::ErrorText(std::uint32_t error) const {
    return m_platform.errorText(error);
}

std::string HidDevice::LastErrorText() const {
    return ErrorText(m_lastError);
}

void HidDevice::setClaimed() {
    m_claimed = true;
    startReadThreadIfAllowed();
}

void HidDevice::startReadThreadIfAllowed() {
    if (!m_onData || !m_pluggedIn || !m_claimed || !m_readWriteAccess || m_readThread) {
        return;
    }
    // A device without input reports has nothing to read; a zero-length read would
    // return at once, again and again.
    const std::size_t length = Caps().InputReportByteLength;
    if (length == 0) {
        return;
    }
    m_readThread = std::make_unique<HidReadThread>(*this, length);
}

void HidDevice::stopReadThread() {
    if (m_readThread) {
        m_readThread->stop();
        m_readThread.reset();
    }
}

void HidDevice::markUnplugged() {
    closeHandles();
    m_pluggedIn = false;
    const HidPlugEvent handler = m_onUnplug;
    handler(*this);
    m_onUnplug = {};
}

void HidDevice::deliverData(const std::uint8_t* report, std::size_t length) {
    if (m_onData && length > 0) {
        m_onData(*this, report[0], report + 1, static_cast<std::uint16_t>(length - 1));
    }
}

void HidDevice::deliverError(std::uint32_t error) {
    m_onDataError(*this, error);
}

// ---------------------------------------------------------------- HidController

HidController::HidController(HidPlatform& platform, UiDispatcher& dispatcher)
    : m_platform(platform),
      m_dispatcher(dispatcher),
      m_alive(std::make_shared<HidController*>(this)) {
    // Without HID facilities there is nothing to enumerate and nothing to listen to.
    if (m_platform.available()) {
        std::weak_ptr<HidController*> alive = m_alive;
        m_platform.setChangeListener([alive, &dispatcher] {
            dispatcher.post([alive] {
                if (auto controller = alive.lock()) {
                    (*controller)->HandleNotification(kDevNodesChanged);
                }
            });
        });
        postNotification(kStartupNotification);
    }
}

HidController::~HidController() {
    if (m_platform.available()) {
        m_platform.setChangeListener(nullptr);
    }
    m_alive.reset();
    m_onDeviceChange = {};
    m_onDeviceUnplug = {};
    for (auto& device : m_devices) {
        device->m_controller = nullptr;
        if (device->m_claimed) {
            // The claimant still holds it and gives it back with release().
            HidDevice* orphan = device.release();
            orphan->markUnplugged();
        }
    }
    m_devices.clear();
}

void HidController::postNotification(std::int32_t parameter) {
    std::weak_ptr<HidController*> alive = m_alive;
    m_dispatcher.post([alive, parameter] {
        if (auto controller = alive.lock()) {
            (*controller)->HandleNotification(parameter);
        }
    });
}

void HidController::HandleNotification(std::int32_t parameter) {
    if (m_inChange) {
        // A change during the pass (its handlers process events) may have come after
        // the enumeration: run once more afterwards rather than lose it.
        if (!m_changeMissed || parameter == kStartupNotification) {
            m_missedParameter = parameter;
        }
        m_changeMissed = true;
        return;
    }
    m_inChange = true;
    m_notification = parameter;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_inChange};
    do {
        m_changeMissed = false;
        m_missedParameter = kDevNodesChanged;
        DeviceChange();
        m_notification = m_missedParameter;
    } while (m_changeMissed);
}

std::vector<std::unique_ptr<HidDevice>> HidController::enumerate() {
    std::vector<std::unique_ptr<HidDevice>> found;
    m_skipped.clear();
    if (!m_platform.available()) {
        return found;
    }
    for (HidInterfaceInfo& info : m_platform.enumerate()) {
        try {
            found.push_back(std::make_unique<HidDevice>(std::make_unique<HidPnPInfo>(info), *this));
        } catch (const HidControllerError& error) {
            m_skipped.push_back({std::move(info), error.what(), error.osError()});
        }
    }
    return found;
}

void HidController::announce(HidDevice& device, const HidPlugEvent& event) {
    device.m_announcing = true;
    event(device);
    device.m_announcing = false;
}

void HidController::DeviceChange() {
    bool changed = m_notification == kStartupNotification;
    std::vector<std::unique_ptr<HidDevice>> found = enumerate();
    auto presentIn = [](const std::vector<std::unique_ptr<HidDevice>>& list,
                        const std::string& instance) {
        return std::any_of(list.begin(), list.end(), [&](const auto& other) {
            return other && other->PnPInfo().DeviceInstance() == instance;
        });
    };

    for (std::size_t i = m_devices.size(); i-- > 0;) {
        if (i >= m_devices.size()) {
            continue;  // a handler gave devices back meanwhile
        }
        HidDevice* device = m_devices[i].get();
        // A claimed object already known to be gone waits for its release; announcing
        // it again on every later pass would repeat the removal.
        if (!device->m_pluggedIn || presentIn(found, device->PnPInfo().DeviceInstance())) {
            continue;
        }
        device->markUnplugged();
        announce(*device, m_onRemoval);
        changed = true;
        if (!device->m_claimed) {
            auto it = std::find_if(m_devices.begin(), m_devices.end(),
                                   [&](const auto& entry) { return entry.get() == device; });
            if (it != m_devices.end()) {
                m_devices.erase(it);
            }
        }
    }

    for (auto& candidate : found) {
        const std::string& instance = candidate->PnPInfo().DeviceInstance();
        const bool known = std::any_of(m_devices.begin(), m_devices.end(), [&](const auto& d) {
            return d->m_pluggedIn && d->PnPInfo().DeviceInstance() == instance;
        });
        if (known) {
            candidate->m_controller = nullptr;
            candidate.reset();
        }
    }

    for (auto& candidate : found) {
        if (!candidate) {
            continue;
        }
        HidDevice* device = candidate.get();
        m_devices.push_back(std::move(candidate));
        changed = true;
        announce(*device, m_onArrival);
    }

    if (changed) {
        m_onDeviceChange(*this);
    }
}

bool HidController::ClaimDevice(HidDevice*& device) {
    device = nullptr;
    for (auto& entry : m_devices) {
        if (!entry->m_claimed) {
            device = entry.get();
            device->setClaimed();
            return true;
        }
    }
    return false;
}

bool HidController::ClaimDeviceAt(HidDevice*& device, std::size_t index) {
    device = nullptr;
    if (index >= m_devices.size() || m_devices[index]->m_claimed) {
        return false;
    }
    device = m_devices[index].get();
    device->setClaimed();
    return true;
}

HidDevice* HidController::device(std::size_t index) const {
    return index < m_devices.size() ? m_devices[index].get() : nullptr;
}

void HidController::release(HidDevice* device) {
    if (device != nullptr) {
        device->release();
    }
}

void HidController::releaseDevice(HidDevice* device) {
    auto it = std::find_if(m_devices.begin(), m_devices.end(),
                           [&](const auto& entry) { return entry.get() == device; });
    if (it == m_devices.end()) {
        return;  // not one of ours (any more)
    }
    const HidDataEvent onData = device->m_onData;
    const HidPlugEvent onUnplug = device->m_onUnplug;
    const std::uint32_t sleepTime = device->ThreadSleepTime();
    device->SetOnData({});
    device->m_onUnplug = {};
    device->closeHandles();
    device->m_preparsed.reset();

    if (!device->m_pluggedIn) {
        m_devices.erase(it);
        return;
    }
    // Still there: a fresh, unclaimed object takes its place, so the list keeps one
    // object per present interface.
    try {
        auto fresh = std::make_unique<HidDevice>(std::move(device->m_pnpInfo), *this);
        fresh->SetOnData(onData);
        fresh->m_onUnplug = onUnplug;
        fresh->SetThreadSleepTime(sleepTime);
        it->swap(fresh);  // the old object goes with `fresh`
    } catch (const HidControllerError&) {
        // It cannot be opened again: drop the entry rather than keep a dead object.
        m_devices.erase(it);
    }
}

void HidController::SetOnDeviceChange(HidNotifyEvent handler) {
    if (handler == m_onDeviceChange) {
        return;
    }
    m_onDeviceChange = std::move(handler);
    if (!m_loading) {
        DeviceChange();
    }
}

namespace {

// A new default handler reaches every listed device still using the previous default;
// devices given a handler of their own keep it.
template <class Event, class Get, class Set>
void handOnDefault(std::vector<std::unique_ptr<HidDevice>>& devices, Event& current, Event handler,
                   Get get, Set set) {
    if (handler == current) {
        return;
    }
    for (auto& device : devices) {
        if (get(*device) == current) {
            set(*device, handler);
        }
    }
    current = std::move(handler);
}

}  // namespace

void HidController::SetOnDeviceData(HidDataEvent handler) {
    // Through the device's setter, so readers start or stop.
    handOnDefault(
        m_devices, m_onDeviceData, std::move(handler),
        [](HidDevice& device) -> const HidDataEvent& { return device.m_onData; },
        [](HidDevice& device, const HidDataEvent& event) { device.SetOnData(event); });
}

void HidController::SetOnDeviceDataError(HidDataErrorEvent handler) {
    handOnDefault(
        m_devices, m_onDeviceDataError, std::move(handler),
        [](HidDevice& device) -> const HidDataErrorEvent& { return device.m_onDataError; },
        [](HidDevice& device, const HidDataErrorEvent& event) { device.m_onDataError = event; });
}

void HidController::SetOnDeviceUnplug(HidPlugEvent handler) {
    handOnDefault(
        m_devices, m_onDeviceUnplug, std::move(handler),
        [](HidDevice& device) -> const HidPlugEvent& { return device.m_onUnplug; },
        [](HidDevice& device, const HidPlugEvent& event) { device.m_onUnplug = event; });
}

void HidController::SetDevThreadSleepTime(std::uint32_t ms) {
    if (ms == m_devThreadSleepTime) {
        return;
    }
    for (auto& device : m_devices) {
        if (device->ThreadSleepTime() == m_devThreadSleepTime) {
            device->SetThreadSleepTime(ms);
        }
    }
    m_devThreadSleepTime = ms;
}

}  // namespace qk750
