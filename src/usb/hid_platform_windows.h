#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usb/hid_platform.h"

namespace qk750 {

// HID interfaces through SetupApi and HID.dll, both bound at run time: a system
// without them (or with one lacking a function we call) simply has no HID devices.
// Device changes arrive as WM_DEVICECHANGE at a hidden window that belongs to the
// thread which created the platform, so that thread's message loop delivers them.
class HidPlatformWindows : public HidPlatform {
public:
    HidPlatformWindows();
    ~HidPlatformWindows() override;

    HidPlatformWindows(const HidPlatformWindows&) = delete;
    HidPlatformWindows& operator=(const HidPlatformWindows&) = delete;

    bool available() const override;
    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<HidHandle> open(const std::string& path, HidOpenMode mode,
                                    std::uint32_t* error = nullptr) override;
    std::string errorText(std::uint32_t error) const override;
    void setChangeListener(ChangeListener listener) override;

private:
    struct Private;
    std::unique_ptr<Private> m_d;
};

}  // namespace qk750
