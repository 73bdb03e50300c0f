#include "usb/hid_controller.h"

#include <algorithm>

namespace qk750 {

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
