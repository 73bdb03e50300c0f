#pragma once

#include <memory>

#include "usb/hid_platform.h"

namespace qk750 {

// The computer's own HID devices: hidraw + libudev on Linux, SetupApi + HID.dll on
// Windows. Each backend's .cpp defines it; the build links exactly one of them.
std::unique_ptr<HidPlatform> CreateSystemHidPlatform();

}  // namespace qk750
