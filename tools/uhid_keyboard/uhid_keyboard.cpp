#include "uhid_keyboard/uhid_keyboard.h"

#include <linux/input.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qk750 {

const std::uint8_t kUhidKeyboardDescriptor[] = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x09, 0x02,        //   Usage (2)
    0x95, 0x06,        //   Report Count (6)
    0xB1, 0x02,        //   Feature (Data, Variable, Absolute)
    0x09, 0x03,        //   Usage (3)
    0x95, 0x08,        //   Report Count (8)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0xC0,              // End Collection
};
const std::size_t kUhidKeyboardDescriptorSize = sizeof kUhidKeyboardDescriptor;

uhid_event UhidKeyboard::createRequest(const Identity& identity) {
    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req& req = event.u.create2;
    const std::size_t nameLength = std::min(identity.name.size(), sizeof req.name - 1);
    std::memcpy(req.name, identity.name.data(), nameLength);
    std::strcpy(reinterpret_cast<char*>(req.phys), "uhid-qk750/input0");
    req.rd_size = static_cast<std::uint16_t>(kUhidKeyboardDescriptorSize);
    req.bus = BUS_USB;
    req.vendor = identity.vendorId;
    req.product = identity.productId;
    req.version = 0x0100;
    req.country = 0;
    std::memcpy(req.rd_data, kUhidKeyboardDescriptor, kUhidKeyboardDescriptorSize);
    return event;
}

std::optional<uhid_event> UhidKeyboard::handle(const uhid_event& event) {
    switch (event.type) {
        case UHID_START:
            m_started = true;
            return std::nullopt;
        case UHID_STOP:
            m_started = false;
            return std::nullopt;
        case UHID_SET_REPORT: {
            const uhid_set_report_req& req = event.u.set_report;
            uhid_event reply{};
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = req.id;
            ++m_requests;
            // Only the feature report exists; the kernel passes the report ID byte first.
            const std::size_t size = std::min<std::size_t>(req.size, sizeof req.data);
            const bool ok = req.rtype == UHID_FEATURE_REPORT && req.rnum == 0 &&
                            m_firmware.setFeature(req.data, size);
            reply.u.set_report_reply.err = ok ? 0 : EIO;
            return reply;
        }
        case UHID_GET_REPORT: {
            const uhid_get_report_req& req = event.u.get_report;
            uhid_event reply{};
            reply.type = UHID_GET_REPORT_REPLY;
            uhid_get_report_reply_req& out = reply.u.get_report_reply;
            out.id = req.id;
            if (req.rtype != UHID_FEATURE_REPORT || req.rnum != 0 ||
                !m_firmware.getFeature(out.data, SimFirmware::kReportLength)) {
                out.err = EIO;
                return reply;
            }
            out.err = 0;
            out.size = SimFirmware::kReportLength;
            return reply;
        }
        default:
            // Open, close and output reports need no answer.
            return std::nullopt;
    }
}

}  // namespace qk750
