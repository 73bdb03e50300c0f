#include "usb/report_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <vector>

namespace qk750 {
namespace {

TEST(ReportDescriptor, GivesWindowsStyleCapsOrIsRejected) {
    // Caps: Usage, UsagePage, Input, Feature lengths, report IDs used; none when rejected.
    const std::pair<const char*, std::vector<int>> cases[] = {
        // Keyboard input (ID 1, two items), consumer (ID 2), features of 32 (ID 3) and 63
        // bytes (ID 4): the longest of each kind, plus its ID byte.
        {"05 01 09 06 A1 01 85 01 75 08 95 01 81 02 95 07 81 00 C0 05 0C 09 01 A1 01 85 02 "
         "75 10 95 01 81 00 C0 06 00 FF 09 01 A1 01 85 03 75 08 95 20 B1 02 85 04 95 3F B1 02 C0",
         {0x06, 0x01, 9, 64, 1}},
        // Push saves count 4 and a long item is skipped; 16 bytes and 12 bits of input
        // make 18 bytes.
        {"0B 01 00 00 FF A1 01 75 08 95 04 A4 95 10 81 02 B4 FE 03 10 B1 02 C0 B1 02 "
         "75 0C 95 01 81 02 C0",
         {0x01, 0xFF00, 19, 5, 0}},
        // Each Input item adds 256 x 12288 bits (393216 bytes) to report 0: clamped.
        {"A1 01 76 00 01 96 00 30 81 02 81 02 81 02 81 02 C0", {0, 0, 0xFFFF, 0, 0}},
        {"06 00 FF 09 01 A1 01 26 FF", {}},            // a 2-byte item cut short
        {"05 01 17 00 00", {}},                        // a 4-byte item cut short
        {"05 01 FE 05 10 AA BB", {}},                  // long item data cut short
        {"06 00 FF 09 01 A1 01 B4 C0", {}},            // Pop without Push
        {"05 01 A1 01 75 08 95 01 81 02", {}},         // collection never closed
        {"A1 01 76 00 10 95 01 81 02 C0", {}},         // report size too large
        {"A1 01 75 08 97 FF FF FF FF B1 02 C0", {}},   // report count huge
        {"A1 01 85 00 75 08 95 01 81 02 C0", {}},      // report ID 0
        {"A1 01 86 00 01 75 08 95 01 81 02 C0", {}}};  // report ID 256
    for (const auto& [descriptor, caps] : cases) {
        SCOPED_TRACE(descriptor);
        std::vector<std::uint8_t> bytes;
        std::istringstream hex(descriptor);
        for (unsigned byte = 0; hex >> std::hex >> byte;) {
            bytes.push_back(static_cast<std::uint8_t>(byte));
        }
        // An exactly sized heap copy, so a sanitizer build catches any read past the end.
        auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), copy.get());
        const ReportDescriptorSummary s = parseReportDescriptor(copy.get(), bytes.size());
        EXPECT_EQ(s.valid, caps.size() == 5 && caps[2] != 0xFFFF);
        if (!caps.empty()) {
            EXPECT_EQ(
                (std::vector<int>{s.caps.Usage, s.caps.UsagePage, s.caps.InputReportByteLength,
                                  s.caps.FeatureReportByteLength, s.usesReportIds,
                                  s.caps.OutputReportByteLength}),
                (std::vector<int>{caps[0], caps[1], caps[2], caps[3], caps[4], 0}));
        }
    }
    EXPECT_TRUE(parseReportDescriptor(nullptr, 16).valid);
}

}  // namespace
}  // namespace qk750
