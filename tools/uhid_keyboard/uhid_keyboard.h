#pragma once

#include <linux/uhid.h>

#include <cstdint>
#include <optional>
#include <string>

#include "usb/sim_firmware.h"

namespace qk750 {

// The keyboard as the kernel's uhid driver sees it: one HID interface without report
// IDs, a vendor-defined feature report of 6 data bytes (7 with the report ID byte) and
// an 8-byte input report, answered by the firmware model.
class UhidKeyboard {
public:
    struct Identity {
        std::string name = "QK750 POS Keyboard (uhid)";
        std::uint16_t vendorId = 0xFEED;
        std::uint16_t productId = 0x0750;
    };

    explicit UhidKeyboard(SimFirmware& firmware) : m_firmware(firmware) {}

    // The UHID_CREATE2 request for a USB device with this identity.
    static uhid_event createRequest(const Identity& identity);

    // One event read from /dev/uhid and the reply the kernel waits for, if any.
    std::optional<uhid_event> handle(const uhid_event& event);

    bool started() const { return m_started; }
    // Set-report requests seen, whatever their fate.
    int requests() const { return m_requests; }
    // The firmware went away (an unplug fault): the device must be destroyed.
    bool unplugged() const { return m_firmware.unplugged(); }

private:
    SimFirmware& m_firmware;
    bool m_started = false;
    int m_requests = 0;
};

// Kept in one place so the tests see what the kernel sees.
extern const std::uint8_t kUhidKeyboardDescriptor[];
extern const std::size_t kUhidKeyboardDescriptorSize;

}  // namespace qk750
