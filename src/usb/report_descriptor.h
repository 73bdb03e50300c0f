#pragma once

#include <cstddef>
#include <cstdint>

#include "usb/hid_platform.h"

namespace qk750 {

// What a HID report descriptor tells about the reports of its device, reduced to what
// the rest of the program asks of the platform: the capabilities as Windows reports
// them and whether reports carry an ID byte.
struct ReportDescriptorSummary {
    // Report lengths count the report ID byte even when the device has no report IDs,
    // as Windows counts them; a kind without any report is 0. Usage page and usage are
    // those of the first top-level collection.
    HidCaps caps;
    // True when the descriptor declares report IDs: input reports then start with the
    // ID byte on the wire, otherwise the host has to supply the 0.
    bool usesReportIds = false;
    // False when the descriptor is malformed (truncated item, Pop without Push, absurd
    // sizes, unbalanced collections); caps then hold what was parsed before the fault.
    bool valid = true;
};

// Parses raw descriptor bytes as the device sent them. Never reads outside
// [data, data + size); data may be null when size is 0.
ReportDescriptorSummary parseReportDescriptor(const std::uint8_t* data, std::size_t size);

}  // namespace qk750
