#include "uhid_keyboard/uhid_keyboard.h"

#include <gtest/gtest.h>

#include <linux/input.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "usb/report_descriptor.h"

namespace qk750 {
namespace {

uhid_event setReport(std::uint32_t id, const std::array<std::uint8_t, 7>& report,
                     std::uint8_t rtype = UHID_FEATURE_REPORT, std::uint8_t rnum = 0) {
    uhid_event event{};
    event.type = UHID_SET_REPORT;
    event.u.set_report.id = id;
    event.u.set_report.rnum = rnum;
    event.u.set_report.rtype = rtype;
    event.u.set_report.size = static_cast<std::uint16_t>(report.size());
    std::memcpy(event.u.set_report.data, report.data(), report.size());
    return event;
}

uhid_event getReport(std::uint32_t id, std::uint8_t rtype = UHID_FEATURE_REPORT) {
    uhid_event event{};
    event.type = UHID_GET_REPORT;
    event.u.get_report.id = id;
    event.u.get_report.rnum = 0;
    event.u.get_report.rtype = rtype;
    return event;
}

// A "W" request as the host sends it through hidraw: report ID 0 first.
std::array<std::uint8_t, 7> writeRequest(std::uint16_t address, std::uint8_t b0, std::uint8_t b1) {
    std::array<std::uint8_t, 7> r{0,
                                  'W',
                                  static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address & 0xFF),
                                  b0,
                                  b1,
                                  0};
    r[6] = r[1] ^ r[2] ^ r[3] ^ r[4] ^ r[5];
    return r;
}

TEST(UhidKeyboardTest, DescriptorGivesTheKeyboardsReportLengths) {
    // What the hidraw backend computes from the descriptor decides whether the
    // emulated device is taken for the keyboard.
    const ReportDescriptorSummary summary =
        parseReportDescriptor(kUhidKeyboardDescriptor, kUhidKeyboardDescriptorSize);
    ASSERT_TRUE(summary.valid);
    EXPECT_FALSE(summary.usesReportIds);
    EXPECT_EQ(summary.caps.FeatureReportByteLength, 7);
    EXPECT_EQ(summary.caps.InputReportByteLength, 9);
}

TEST(UhidKeyboardTest, CreateRequestIsAUsbDeviceWithTheName) {
    UhidKeyboard::Identity identity;
    identity.name = std::string(200, 'Q');  // longer than the field: cut, still terminated
    const uhid_event event = UhidKeyboard::createRequest(identity);
    EXPECT_EQ(event.type, UHID_CREATE2);
    EXPECT_EQ(event.u.create2.bus, BUS_USB);
    EXPECT_EQ(event.u.create2.name[sizeof event.u.create2.name - 1], 0);
    EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(event.u.create2.name)),
              sizeof event.u.create2.name - 1);
    ASSERT_EQ(event.u.create2.rd_size, kUhidKeyboardDescriptorSize);
    EXPECT_EQ(
        std::memcmp(event.u.create2.rd_data, kUhidKeyboardDescriptor, kUhidKeyboardDescriptorSize),
        0);
    EXPECT_NE(
        std::string(reinterpret_cast<const char*>(UhidKeyboard::createRequest({}).u.create2.name))
            .find("QK750"),
        std::string::npos);
}

TEST(UhidKeyboardTest, WriteThenReadBackCarriesRequestIdsAndData) {
    SimFirmware firmware;
    UhidKeyboard keyboard(firmware);
    uhid_event start{};
    start.type = UHID_START;
    EXPECT_FALSE(keyboard.handle(start).has_value());
    EXPECT_TRUE(keyboard.started());

    const auto written = keyboard.handle(setReport(41, writeRequest(0x10, 0xAB, 0xCD)));
    ASSERT_TRUE(written);
    EXPECT_EQ(written->type, UHID_SET_REPORT_REPLY);
    EXPECT_EQ(written->u.set_report_reply.id, 41u);
    EXPECT_EQ(written->u.set_report_reply.err, 0);
    EXPECT_EQ(firmware.memory()[0x10], 0xAB);
    EXPECT_EQ(firmware.memory()[0x11], 0xCD);

    const auto read = keyboard.handle(getReport(42));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->type, UHID_GET_REPORT_REPLY);
    EXPECT_EQ(read->u.get_report_reply.id, 42u);
    EXPECT_EQ(read->u.get_report_reply.err, 0);
    ASSERT_EQ(read->u.get_report_reply.size, 7);
    EXPECT_EQ(read->u.get_report_reply.data[0], 0);  // no report ID
    EXPECT_EQ(read->u.get_report_reply.data[1], '+');
    EXPECT_EQ(read->u.get_report_reply.data[2], 0xAB);
    EXPECT_EQ(keyboard.requests(), 1);
}

TEST(UhidKeyboardTest, RefusedRequestsAnswerWithAnError) {
    struct Case {
        const char* name;
        std::uint8_t rtype;
        std::uint8_t rnum;
        const char* faults;
    };
    const Case cases[] = {
        {"output report", UHID_OUTPUT_REPORT, 0, ""},
        {"numbered report", UHID_FEATURE_REPORT, 3, ""},
        {"injected send failure", UHID_FEATURE_REPORT, 0, "sendfail@0x20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimFirmware firmware;
        firmware.setFaultPlan(*parseSimFaultPlan(c.faults, nullptr));
        UhidKeyboard keyboard(firmware);
        const auto reply = keyboard.handle(setReport(7, writeRequest(0x20, 1, 2), c.rtype, c.rnum));
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->u.set_report_reply.id, 7u);
        EXPECT_EQ(reply->u.set_report_reply.err, EIO);
        EXPECT_EQ(firmware.memory()[0x20], 0xFF);
    }
}

TEST(UhidKeyboardTest, UnplugFaultAsksForRemovalAndFailsLaterReads) {
    SimFirmware firmware;
    firmware.setFaultPlan(*parseSimFaultPlan("unplug@4", nullptr));
    UhidKeyboard keyboard(firmware);
    ASSERT_TRUE(keyboard.handle(setReport(1, writeRequest(2, 1, 2))));
    EXPECT_FALSE(keyboard.unplugged());
    const auto reply = keyboard.handle(setReport(2, writeRequest(4, 3, 4)));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->u.set_report_reply.err, 0);  // written, then gone
    EXPECT_TRUE(keyboard.unplugged());
    const auto read = keyboard.handle(getReport(3));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->u.get_report_reply.err, EIO);
}

}  // namespace
}  // namespace qk750
