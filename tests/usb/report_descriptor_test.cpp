#include "usb/report_descriptor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qk750 {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Vendor-defined interface without report IDs: 8 input bytes, 6 feature bytes.
const Bytes kVendorFeature6 = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                               0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08, 0x09, 0x01,
                               0x81, 0x02, 0x95, 0x06, 0x09, 0x02, 0xB1, 0x02, 0xC0};

// Composite device with report IDs over three top-level collections: keyboard input
// (ID 1, declared in two items), consumer control (ID 2), two vendor feature reports
// (ID 3: 32 bytes, ID 4: 63 bytes).
const Bytes kSeveralIds = {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95,
                           0x01, 0x81, 0x02, 0x95, 0x07, 0x81, 0x00, 0xC0,  //
                           0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x75, 0x10, 0x95,
                           0x01, 0x81, 0x00,
                           0xC0,  //
                           0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x03, 0x75, 0x08,
                           0x95, 0x20, 0xB1, 0x02, 0x85, 0x04, 0x95, 0x3F, 0xB1, 0x02, 0xC0};

// The vendor device with a long item (3 data bytes) between its items.
const Bytes kWithLongItem = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xFE, 0x03, 0x10,
                             0xB1, 0x02, 0xC0, 0x75, 0x08, 0x95, 0x06, 0xB1, 0x02, 0xC0};

// Push saves count 4; the input uses 16, the feature after Pop uses 4 again.
const Bytes kPushPop = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95,
                        0x04, 0xA4, 0x95, 0x10, 0x81, 0x02, 0xB4, 0xB1, 0x02, 0xC0};

// A 4-byte usage carries its page (consumer control) in the high word; 12 input bits
// round up to 2 bytes.
const Bytes kExtendedUsage = {0x0B, 0x01, 0x00, 0x0C, 0x00, 0xA1, 0x01,
                              0x75, 0x0C, 0x95, 0x01, 0x81, 0x02, 0xC0};

struct DescriptorCase {
    std::string name;
    Bytes descriptor;
    bool valid;
    HidCaps expected = {};  // {Usage, UsagePage, Input, Output, Feature}, when valid
    bool usesReportIds = false;
};

const DescriptorCase kDescriptors[] = {
    {"VendorFeature6", kVendorFeature6, true, {0x01, 0xFF00, 9, 0, 7}, false},
    {"SeveralReportIds", kSeveralIds, true, {0x06, 0x01, 9, 0, 64}, true},
    {"LongItemSkipped", kWithLongItem, true, {0x01, 0xFF00, 0, 0, 7}, false},
    {"PushPop", kPushPop, true, {0x01, 0xFF00, 17, 0, 5}, false},
    {"ExtendedUsage", kExtendedUsage, true, {0x01, 0x0C, 3, 0, 0}, false},
    {"TruncatedTwoByteItem", {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x26, 0xFF}, false},
    {"TruncatedFourByteItem", {0x05, 0x01, 0x17, 0x00, 0x00}, false},
    {"TruncatedLongItemData", {0x05, 0x01, 0xFE, 0x05, 0x10, 0xAA, 0xBB}, false},
    {"PopWithoutPush", {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xB4, 0xC0}, false},
    {"UnclosedCollection",
     {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02},
     false},
    {"ReportSizeTooLarge", {0xA1, 0x01, 0x76, 0x00, 0x10, 0x95, 0x01, 0x81, 0x02, 0xC0}, false},
    {"ReportCountHuge",
     {0xA1, 0x01, 0x75, 0x08, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0xB1, 0x02, 0xC0},
     false},
    {"ReportIdZero", {0xA1, 0x01, 0x85, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0}, false},
    {"ReportIdAbove255",
     {0xA1, 0x01, 0x86, 0x00, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0},
     false},
};

// An exactly sized heap copy, so a sanitizer build catches any read past the end.
ReportDescriptorSummary parseCopy(const Bytes& d, std::size_t length) {
    auto copy = std::make_unique<std::uint8_t[]>(length);
    std::copy(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(length), copy.get());
    return parseReportDescriptor(copy.get(), length);
}

class Descriptor : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(Descriptor, GivesWindowsStyleCapsOrIsRejected) {
    const DescriptorCase& c = GetParam();
    const ReportDescriptorSummary s = parseCopy(c.descriptor, c.descriptor.size());
    ASSERT_EQ(s.valid, c.valid);
    if (c.valid) {
        EXPECT_EQ(s.usesReportIds, c.usesReportIds);
        EXPECT_EQ(s.caps.UsagePage, c.expected.UsagePage);
        EXPECT_EQ(s.caps.Usage, c.expected.Usage);
        EXPECT_EQ(s.caps.InputReportByteLength, c.expected.InputReportByteLength);
        EXPECT_EQ(s.caps.OutputReportByteLength, c.expected.OutputReportByteLength);
        EXPECT_EQ(s.caps.FeatureReportByteLength, c.expected.FeatureReportByteLength);
    }
}

INSTANTIATE_TEST_SUITE_P(Descriptors, Descriptor, ::testing::ValuesIn(kDescriptors),
                         [](const auto& info) { return info.param.name; });

TEST(ReportDescriptor, ReportsBeyondSixteenBitLengthsAreRejectedAndClamped) {
    // Each Input item adds 256 x 12288 bits (393216 bytes) to report 0.
    const Bytes item = {0x81, 0x02};
    Bytes d = {0xA1, 0x01, 0x76, 0x00, 0x01, 0x96, 0x00, 0x30};
    for (int i = 0; i < 4; ++i) {
        d.insert(d.end(), item.begin(), item.end());
    }
    d.push_back(0xC0);
    const ReportDescriptorSummary s = parseReportDescriptor(d.data(), d.size());
    EXPECT_FALSE(s.valid);
    EXPECT_EQ(s.caps.InputReportByteLength, 0xFFFF);
}

TEST(ReportDescriptor, NullDataIsEmpty) {
    const ReportDescriptorSummary s = parseReportDescriptor(nullptr, 16);
    EXPECT_TRUE(s.valid);
    EXPECT_EQ(s.caps.FeatureReportByteLength, 0);
}

}  // namespace
}  // namespace qk750
