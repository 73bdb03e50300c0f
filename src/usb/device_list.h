#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "usb/hid_controller.h"

namespace qk750 {

// Where the diagnostic trace lines go.
using TraceSink = std::function<void(const std::string& line)>;

// The trace as the program keeps it: lines are dropped unless tracing is on.
TraceSink MakeHistorySink(bool tracing, TraceSink out);

// A device's display name: its product string as 8-bit text, else
// "Device VID=%.4X PID=%.4X" from its IDs.
std::string DeviceName(HidDevice& device);

// Whether an OS error code means the interface may not be opened by this user.
bool IsAccessDeniedError(std::uint32_t error);

// The hidden list of devices: each entry's text is a name, its object a claimed device.
class DeviceEntries {
public:
    struct Item {
        std::string text;
        HidDevice* object = nullptr;
    };

    int count() const { return static_cast<int>(m_items.size()); }
    const Item& item(int index) const { return m_items.at(static_cast<std::size_t>(index)); }
    void add(std::string text, HidDevice* object);
    void clear();
    // -1 when nothing is selected; selecting outside the list selects nothing.
    int itemIndex() const { return m_itemIndex; }
    void setItemIndex(int index);

private:
    std::vector<Item> m_items;
    int m_itemIndex = -1;
};

// The program's side of the HID controller: the device list, the selected device that
// every programming request goes to, and the handlers of the controller's events.
// Binds its handlers to the controller on construction; destroy it before the
// controller.
class DeviceList {
public:
    struct Callbacks {
        // A device whose name contains "QK750" arrived / went away.
        std::function<void(HidDevice& device, const std::string& name)> keyboardArrived;
        std::function<void(HidDevice& device, const std::string& name)> keyboardRemoved;
    };

    DeviceList(HidController& controller, TraceSink addToHistory, Callbacks callbacks = {});
    ~DeviceList();
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    int count() const { return m_box.count(); }
    HidDevice* device(int index) const { return m_box.item(index).object; }
    const std::string& name(int index) const { return m_box.item(index).text; }
    // Selects the entry and runs the selection step.
    void select(int index);
    int selectedIndex() const { return m_box.itemIndex(); }
    HidDevice* currentDevice() const { return m_currentDevice; }
    HidDevice* CurrentDevice() const { return m_currentDevice; }
    const DeviceEntries& entries() const { return m_box; }
    HidController& controller() const { return m_controller; }

    void AddToHistory(const std::string& line) const;

    // Event handlers.
    void onDevicesChanged();
    void applySelection();
    void onDeviceArrival(HidDevice& device);
    void onDeviceRemoval(HidDevice& device);
    void onReadError(HidDevice& device, std::uint32_t error);
    // Given to the selected device, whose input reports are read and dropped.
    const HidDataEvent& ShowRead() const { return m_showRead; }

private:
    void releaseAll();

    HidController& m_controller;
    TraceSink m_addToHistory;
    Callbacks m_callbacks;
    DeviceEntries m_box;
    HidDevice* m_currentDevice = nullptr;
    HidDataEvent m_showRead;
};

// Whether a listed device looks like the keyboard: feature report length 7 and a name
// containing "QK750".
bool LooksLikeKeyboard(HidDevice& device);

// Builds the controller and the device list over the platform, runs the start-up pass and
// prints one line per device, then the interfaces that could not be opened, and why.
// Trace lines go to `err` when tracing.
void ListDevices(HidPlatform& platform, bool trace, std::ostream& out, std::ostream& err);

}  // namespace qk750
