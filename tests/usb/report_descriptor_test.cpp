#include "usb/report_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <vector>

namespace qk750 {
namespace {

TEST(ReportDescriptor, GivesWindowsStyleCapsOrIsRejected) {
    const struct {
        const char* descriptor;  // hex bytes
        bool valid;
        std::vector<int> caps;  // Usage, UsagePage, Input, Feature lengths, report IDs used
    } cases[] = {
        // Vendor-defined, no report IDs: 8 input bytes, 6 feature bytes.
        {"06 00 FF 09 01 A1 01 15 00 26 FF 00 75 08 95 08 09 01 81 02 95 06 09 02 B1 02 C0",
         true,
         {0x01, 0xFF00, 9, 7, 0}},
        // Three collections: keyboard input (ID 1, two items), consumer (ID 2), vendor
        // features (ID 3: 32 bytes, ID 4: 63 bytes).
        {"05 01 09 06 A1 01 85 01 75 08 95 01 81 02 95 07 81 00 C0 05 0C 09 01 A1 01 85 02 "
         "75 10 95 01 81 00 C0 06 00 FF 09 01 A1 01 85 03 75 08 95 20 B1 02 85 04 95 3F B1 02 C0",
         true,
         {0x06, 0x01, 9, 64, 1}},
        // A long item (3 data bytes) is skipped.
        {"06 00 FF 09 01 A1 01 FE 03 10 B1 02 C0 75 08 95 06 B1 02 C0",
         true,
         {0x01, 0xFF00, 0, 7, 0}},
        // Push saves count 4; the input uses 16, the feature after Pop uses 4 again.
        {"06 00 FF 09 01 A1 01 75 08 95 04 A4 95 10 81 02 B4 B1 02 C0",
         true,
         {0x01, 0xFF00, 17, 5, 0}},
        // A 4-byte usage carries its page in the high word; 12 input bits round up to 2 bytes.
        {"0B 01 00 0C 00 A1 01 75 0C 95 01 81 02 C0", true, {0x01, 0x0C, 3, 0, 0}},
        // Each Input item adds 256 x 12288 bits (393216 bytes) to report 0: clamped.
        {"A1 01 76 00 01 96 00 30 81 02 81 02 81 02 81 02 C0", false, {0, 0, 0xFFFF, 0, 0}},
        {"06 00 FF 09 01 A1 01 26 FF", false, {}},            // a 2-byte item cut short
        {"05 01 17 00 00", false, {}},                        // a 4-byte item cut short
        {"05 01 FE 05 10 AA BB", false, {}},                  // long item data cut short
        {"06 00 FF 09 01 A1 01 B4 C0", false, {}},            // Pop without Push
        {"05 01 A1 01 75 08 95 01 81 02", false, {}},         // collection never closed
        {"A1 01 76 00 10 95 01 81 02 C0", false, {}},         // report size too large
        {"A1 01 75 08 97 FF FF FF FF B1 02 C0", false, {}},   // report count huge
        {"A1 01 85 00 75 08 95 01 81 02 C0", false, {}},      // report ID 0
        {"A1 01 86 00 01 75 08 95 01 81 02 C0", false, {}}};  // report ID 256
    for (const auto& c : cases) {
        SCOPED_TRACE(c.descriptor);
        std::vector<std::uint8_t> bytes;
        std::istringstream hex(c.descriptor);
        for (unsigned byte = 0; hex >> std::hex >> byte;) {
            bytes.push_back(static_cast<std::uint8_t>(byte));
        }
        // An exactly sized heap copy, so a sanitizer build catches any read past the end.
        auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), copy.get());
        const ReportDescriptorSummary s = parseReportDescriptor(copy.get(), bytes.size());
        EXPECT_EQ(s.valid, c.valid);
        if (!c.caps.empty()) {
            EXPECT_EQ(
                (std::vector<int>{s.caps.Usage, s.caps.UsagePage, s.caps.InputReportByteLength,
                                  s.caps.FeatureReportByteLength, s.usesReportIds}),
                c.caps);
            EXPECT_EQ(s.caps.OutputReportByteLength, 0);
        }
    }
    EXPECT_TRUE(parseReportDescriptor(nullptr, 16).valid);
}

}  // namespace
}  // namespace qk750
