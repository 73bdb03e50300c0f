#include "usb/device_list.h"

#include <cerrno>
#include <cstdio>
#include <ostream>

namespace qk750 {

namespace {

constexpr int kNumBuffers = 128;

std::string hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%.4X", static_cast<unsigned>(value));
    return text;
}

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

bool namesKeyboard(const std::string& name) {
    return name.find("QK750") != std::string::npos;
}

}  // namespace

TraceSink MakeHistorySink(bool tracing, TraceSink out) {
    if (!tracing || !out) {
        return [](const std::string&) {};
    }
    return out;
}

std::string DeviceName(HidDevice& device) {
    const std::u16string product = device.ProductName();
    if (product.empty()) {
        return "Device VID=" + hex4(device.Attributes().VendorID) +
               " PID=" + hex4(device.Attributes().ProductID);
    }
    // 8-bit text: Latin-1 passes through, anything beyond it has no 8-bit form.
    std::string name;
    name.reserve(product.size());
    for (char16_t c : product) {
        name.push_back(c < 0x100 ? static_cast<char>(c) : '?');
    }
    return name;
}

bool IsAccessDeniedError(std::uint32_t error) {
#ifdef _WIN32
    return error == 5;  // ERROR_ACCESS_DENIED
#else
    return error == EACCES || error == EPERM;
#endif
}

void DeviceEntries::add(std::string text, HidDevice* object) {
    m_items.push_back({std::move(text), object});
}

void DeviceEntries::clear() {
    m_items.clear();
    m_itemIndex = -1;
}

void DeviceEntries::setItemIndex(int index) {
    m_itemIndex = index >= 0 && index < count() ? index : -1;
}

DeviceList::DeviceList(HidController& controller, TraceSink addToHistory, Callbacks callbacks)
    : m_controller(controller),
      m_addToHistory(std::move(addToHistory)),
      m_callbacks(std::move(callbacks)),
      m_showRead([](HidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t) {}) {
    // Bound as a form binds them: the posted start-up pass does the first rebuild.
    m_controller.BeginLoading();
    m_controller.SetOnDeviceChange([this](HidController&) { onDevicesChanged(); });
    m_controller.SetOnArrival([this](HidDevice& device) { onDeviceArrival(device); });
    m_controller.SetOnRemoval([this](HidDevice& device) { onDeviceRemoval(device); });
    m_controller.SetOnDeviceDataError(
        [this](HidDevice& device, std::uint32_t error) { onReadError(device, error); });
    m_controller.EndLoading();
}

DeviceList::~DeviceList() {
    m_controller.BeginLoading();
    m_controller.SetOnDeviceChange({});
    m_controller.SetOnArrival({});
    m_controller.SetOnRemoval({});
    m_controller.SetOnDeviceDataError({});
    m_controller.EndLoading();
    releaseAll();
}

void DeviceList::AddToHistory(const std::string& line) const {
    if (m_addToHistory) {
        m_addToHistory(line);
    }
}

void DeviceList::releaseAll() {
    m_currentDevice = nullptr;
    std::vector<HidDevice*> claimed;
    for (int i = 0; i < m_box.count(); ++i) {
        claimed.push_back(m_box.item(i).object);
    }
    m_box.clear();
    for (HidDevice* device : claimed) {
        if (device != nullptr) {
            device->release();
        }
    }
}

void DeviceList::onDevicesChanged() {
    releaseAll();
    HidDevice* device = nullptr;
    while (m_controller.ClaimDevice(device)) {
        m_box.add(DeviceName(*device), device);
        device->SetNumInputBuffers(kNumBuffers);
        device->SetNumOverlappedBuffers(kNumBuffers);
    }
}

void DeviceList::select(int index) {
    m_box.setItemIndex(index);
    applySelection();
}

void DeviceList::applySelection() {
    if (m_currentDevice != nullptr) {
        // Only the selected device holds handles: open on every interface, they would
        // keep other programs' exclusive opens out. And as every search for the keyboard
        // selects afresh, each run opens the keyboard anew: Windows gives a keyboard that
        // comes back on the same port its old identity, so a pass that first looks after
        // it is back sees no change, and handles kept from before would all fail.
        m_currentDevice->SetOnData({});
        m_currentDevice->CloseHandles();
    }
    m_currentDevice = nullptr;
    const int index = m_box.itemIndex();
    if (m_box.count() > 0 && index >= 0) {
        HidDevice* device = m_box.item(index).object;
        device->SetOnData(m_showRead);
        m_currentDevice = device;
        AddToHistory("Selection of " + DeviceName(*device));
    }
}

void DeviceList::onDeviceArrival(HidDevice& device) {
    const std::string name = DeviceName(device);
    if (namesKeyboard(name) && m_callbacks.keyboardArrived) {
        m_callbacks.keyboardArrived(device, name);
    }
    AddToHistory("Arrival of " + name);
}

void DeviceList::onDeviceRemoval(HidDevice& device) {
    const std::string name = DeviceName(device);
    if (namesKeyboard(name) && m_callbacks.keyboardRemoved) {
        m_callbacks.keyboardRemoved(device, name);
    }
    AddToHistory("Removal of " + name);
}

void DeviceList::onReadError(HidDevice& device, std::uint32_t error) {
    AddToHistory("READ ERROR: " + device.ErrorText(error) + " (" + hex(error) + ")");
}

bool LooksLikeKeyboard(HidDevice& device) {
    return device.Caps().FeatureReportByteLength == 7 && namesKeyboard(DeviceName(device));
}

void ListDevices(HidPlatform& platform, bool trace, std::ostream& out, std::ostream& err) {
    QueueDispatcher dispatcher;
    HidController controller(platform, dispatcher);
    std::vector<SkippedInterface> skipped;
    {
        DeviceList list(controller, MakeHistorySink(trace, [&err](const std::string& line) {
                            err << line << '\n';
                        }));
        dispatcher.processPending();  // the start-up pass
        skipped = controller.SkippedInterfaces();

        if (!platform.available()) {
            out << "HID support is not available on this system.\n";
        } else if (list.count() == 0 && skipped.empty()) {
            out << "No HID devices found.\n";
        }
        for (int i = 0; i < list.count(); ++i) {
            HidDevice& device = *list.device(i);
            const HidCaps caps = device.Caps();
            out << i << ": " << list.name(i) << "  VID=" << hex4(device.Attributes().VendorID)
                << " PID=" << hex4(device.Attributes().ProductID)
                << " feature=" << caps.FeatureReportByteLength
                << " input=" << caps.InputReportByteLength;
            if (LooksLikeKeyboard(device)) {
                out << " [keyboard]";
            }
            out << '\n';
        }
    }
    for (const SkippedInterface& entry : skipped) {
        out << "-: " << entry.info.path << "  " << entry.reason << ": "
            << platform.errorText(entry.osError);
        if (IsAccessDeniedError(entry.osError)) {
            out << " - no permission to open it, see 'Access to the keyboard' in the README";
        }
        out << '\n';
    }
}

}  // namespace qk750
