#include "usb/HidControllerClass.h"

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

// ---------------------------------------------------------------- THidDeviceReadThread

// One piece of work the reader hands to the user-interface thread. It runs exactly once,
// from the dispatcher's queue or from stop(), whichever comes first; the queued copy
// keeps only this record alive, so it is harmless after the reader has gone.
struct THidDeviceReadThread::Handover {
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

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device, std::size_t reportLength)
    : m_device(device), m_report(reportLength) {
    m_thread = std::thread([this] { run(); });
}

THidDeviceReadThread::~THidDeviceReadThread() {
    stop();
}

void THidDeviceReadThread::stop() {
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

void THidDeviceReadThread::handOver(std::function<void()> work) {
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

void THidDeviceReadThread::run() {
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

// ---------------------------------------------------------------- THidDevice

THidDevice::THidDevice(std::unique_ptr<THidPnPInfo> pnpInfo, THidDeviceController& controller)
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
        throw EControllerError("device cannot be opened", error);
    }
    if (!m_file->getAttributes(m_attributes)) {
        throw EControllerError("device cannot be identified", m_file->lastError());
    }
    closeFileHandle();
}

THidDevice::~THidDevice() {
    closeHandles();
}

void THidDevice::release() {
    if (m_controller != nullptr) {
        m_controller->releaseDevice(this);
        return;
    }
    // The controller went first and left this claimed object to its claimant.
    delete this;
}

HidHandle* THidDevice::fileHandle() {
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

HidHandle* THidDevice::overlappedReadHandle(std::uint32_t* error) {
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

void THidDevice::closeFileHandle() {
    m_file.reset();
    m_numInputBuffers = 0;
}

void THidDevice::closeHandles() {
    // The reader uses the overlapped read handle: it has to end before that closes.
    stopReadThread();
    closeFileHandle();
    m_overlappedRead.reset();
    m_numOverlappedBuffers = 0;
    m_overlappedWrite.reset();
}

HidCaps THidDevice::Caps() {
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

std::u16string THidDevice::ProductName() {
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

bool THidDevice::GetFeature(std::uint8_t* buffer, std::size_t length) {
    return featureTransfer([&](HidHandle& handle) { return handle.getFeature(buffer, length); });
}

bool THidDevice::SetFeature(const std::uint8_t* buffer, std::size_t length) {
    return featureTransfer([&](HidHandle& handle) { return handle.setFeature(buffer, length); });
}

bool THidDevice::featureTransfer(const std::function<bool(HidHandle&)>& transfer) {
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

void THidDevice::SetNumInputBuffers(std::uint32_t count) {
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

void THidDevice::SetNumOverlappedBuffers(std::uint32_t count) {
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

void THidDevice::SetOnData(THidDataEvent handler) {
    if (!handler) {
        stopReadThread();
    }
    m_onData = std::move(handler);
    startReadThreadIfAllowed();
}

void THidDevice::SetThreadSleepTime(std::uint32_t ms) {
    if (ms >= kMinThreadSleepTime && ms <= kMaxThreadSleepTime) {
        m_threadSleepTime = ms;
    }
}

std::string THidDevice::ErrorText(std::uint32_t error) const {
    return m_platform.errorText(error);
}

std::string THidDevice::LastErrorText() const {
    return ErrorText(m_lastError);
}

void THidDevice::setClaimed() {
    m_claimed = true;
    startReadThreadIfAllowed();
}

void THidDevice::startReadThreadIfAllowed() {
    if (!m_onData || !m_pluggedIn || !m_claimed || !m_readWriteAccess || m_readThread) {
        return;
    }
    // A device without input reports has nothing to read; a zero-length read would
    // return at once, again and again.
    const std::size_t length = Caps().InputReportByteLength;
    if (length == 0) {
        return;
    }
    m_readThread = std::make_unique<THidDeviceReadThread>(*this, length);
}

void THidDevice::stopReadThread() {
    if (m_readThread) {
        m_readThread->stop();
        m_readThread.reset();
    }
}

void THidDevice::markUnplugged() {
    closeHandles();
    m_pluggedIn = false;
    const THidPlugEvent handler = m_onUnplug;
    handler(*this);
    m_onUnplug = {};
}

void THidDevice::deliverData(const std::uint8_t* report, std::size_t length) {
    if (m_onData && length > 0) {
        m_onData(*this, report[0], report + 1, static_cast<std::uint16_t>(length - 1));
    }
}

void THidDevice::deliverError(std::uint32_t error) {
    m_onDataError(*this, error);
}

// ---------------------------------------------------------------- THidDeviceController

THidDeviceController::THidDeviceController(HidPlatform& platform, UiDispatcher& dispatcher)
    : m_platform(platform),
      m_dispatcher(dispatcher),
      m_alive(std::make_shared<THidDeviceController*>(this)) {
    // Without HID facilities there is nothing to enumerate and nothing to listen to.
    if (m_platform.available()) {
        std::weak_ptr<THidDeviceController*> alive = m_alive;
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

THidDeviceController::~THidDeviceController() {
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
            THidDevice* orphan = device.release();
            orphan->markUnplugged();
        }
    }
    m_devices.clear();
}

void THidDeviceController::postNotification(std::int32_t parameter) {
    std::weak_ptr<THidDeviceController*> alive = m_alive;
    m_dispatcher.post([alive, parameter] {
        if (auto controller = alive.lock()) {
            (*controller)->HandleNotification(parameter);
        }
    });
}

void THidDeviceController::HandleNotification(std::int32_t parameter) {
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

std::vector<std::unique_ptr<THidDevice>> THidDeviceController::enumerate() {
    std::vector<std::unique_ptr<THidDevice>> found;
    m_skipped.clear();
    if (!m_platform.available()) {
        return found;
    }
    for (HidInterfaceInfo& info : m_platform.enumerate()) {
        try {
            found.push_back(
                std::make_unique<THidDevice>(std::make_unique<THidPnPInfo>(info), *this));
        } catch (const EControllerError& error) {
            m_skipped.push_back({std::move(info), error.what(), error.osError()});
        }
    }
    return found;
}

void THidDeviceController::announce(THidDevice& device, const THidPlugEvent& event) {
    device.m_announcing = true;
    event(device);
    device.m_announcing = false;
}

void THidDeviceController::DeviceChange() {
    bool changed = m_notification == kStartupNotification;
    std::vector<std::unique_ptr<THidDevice>> found = enumerate();
    auto presentIn = [](const std::vector<std::unique_ptr<THidDevice>>& list,
                        const std::string& instance) {
        return std::any_of(list.begin(), list.end(), [&](const auto& other) {
            return other && other->PnPInfo().DeviceInstance() == instance;
        });
    };

    for (std::size_t i = m_devices.size(); i-- > 0;) {
        if (i >= m_devices.size()) {
            continue;  // a handler gave devices back meanwhile
        }
        THidDevice* device = m_devices[i].get();
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
        THidDevice* device = candidate.get();
        m_devices.push_back(std::move(candidate));
        changed = true;
        announce(*device, m_onArrival);
    }

    if (changed) {
        m_onDeviceChange(*this);
    }
}

bool THidDeviceController::ClaimDevice(THidDevice*& device) {
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

bool THidDeviceController::ClaimDeviceAt(THidDevice*& device, std::size_t index) {
    device = nullptr;
    if (index >= m_devices.size() || m_devices[index]->m_claimed) {
        return false;
    }
    device = m_devices[index].get();
    device->setClaimed();
    return true;
}

THidDevice* THidDeviceController::device(std::size_t index) const {
    return index < m_devices.size() ? m_devices[index].get() : nullptr;
}

void THidDeviceController::release(THidDevice* device) {
    if (device != nullptr) {
        device->release();
    }
}

void THidDeviceController::releaseDevice(THidDevice* device) {
    auto it = std::find_if(m_devices.begin(), m_devices.end(),
                           [&](const auto& entry) { return entry.get() == device; });
    if (it == m_devices.end()) {
        return;  // not one of ours (any more)
    }
    const THidDataEvent onData = device->m_onData;
    const THidPlugEvent onUnplug = device->m_onUnplug;
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
        auto fresh = std::make_unique<THidDevice>(std::move(device->m_pnpInfo), *this);
        fresh->SetOnData(onData);
        fresh->m_onUnplug = onUnplug;
        fresh->SetThreadSleepTime(sleepTime);
        it->swap(fresh);  // the old object goes with `fresh`
    } catch (const EControllerError&) {
        // It cannot be opened again: drop the entry rather than keep a dead object.
        m_devices.erase(it);
    }
}

void THidDeviceController::SetOnDeviceChange(TNotifyEvent handler) {
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
void handOnDefault(std::vector<std::unique_ptr<THidDevice>>& devices, Event& current, Event handler,
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

void THidDeviceController::SetOnDeviceData(THidDataEvent handler) {
    // Through the device's setter, so readers start or stop.
    handOnDefault(
        m_devices, m_onDeviceData, std::move(handler),
        [](THidDevice& device) -> const THidDataEvent& { return device.m_onData; },
        [](THidDevice& device, const THidDataEvent& event) { device.SetOnData(event); });
}

void THidDeviceController::SetOnDeviceDataError(THidDataErrorEvent handler) {
    handOnDefault(
        m_devices, m_onDeviceDataError, std::move(handler),
        [](THidDevice& device) -> const THidDataErrorEvent& { return device.m_onDataError; },
        [](THidDevice& device, const THidDataErrorEvent& event) { device.m_onDataError = event; });
}

void THidDeviceController::SetOnDeviceUnplug(THidPlugEvent handler) {
    handOnDefault(
        m_devices, m_onDeviceUnplug, std::move(handler),
        [](THidDevice& device) -> const THidPlugEvent& { return device.m_onUnplug; },
        [](THidDevice& device, const THidPlugEvent& event) { device.m_onUnplug = event; });
}

void THidDeviceController::SetDevThreadSleepTime(std::uint32_t ms) {
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
