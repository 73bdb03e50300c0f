#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usb/hid_platform.h"

struct udev;
struct udev_monitor;

namespace qk750 {

// hidraw devices found through libudev. Each HID interface is one /dev/hidrawN node;
// its identity is the sysfs path of the HID device above it, which the kernel numbers
// afresh on every plug.
class HidPlatformLinux : public HidPlatform {
public:
    HidPlatformLinux();
    ~HidPlatformLinux() override;

    HidPlatformLinux(const HidPlatformLinux&) = delete;
    HidPlatformLinux& operator=(const HidPlatformLinux&) = delete;

    bool available() const override;
    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<HidHandle> open(const std::string& path, HidOpenMode mode,
                                    std::uint32_t* error = nullptr) override;
    std::string errorText(std::uint32_t error) const override;

    void setChangeListener(ChangeListener listener) override;
    int notificationDescriptor() const override;
    void processNotifications() override;

    // "udev" or "kernel": where the device-change monitor listens.
    const std::string& monitorSource() const { return m_monitorSource; }

    // The monitor source for a QK750_UDEV_SOURCE value (null when unset) and whether a
    // udev daemon runs. Without a daemon no "udev" event ever arrives, so the kernel's
    // own events are the only ones to listen to; with one, its events come after the
    // node exists with its permissions set, which is what opening needs.
    static std::string chooseMonitorSource(const char* override, bool udevDaemonRunning);

private:
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    std::string m_monitorSource;
    ChangeListener m_listener;
};

}  // namespace qk750
