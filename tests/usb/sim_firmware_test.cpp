#include "usb/sim_firmware.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>

#include "usb/programming_protocol.h"

namespace qk750 {
namespace {

using Report = FeatureReport;

Report request(std::uint16_t address, std::uint8_t first, std::uint8_t second) {
    return BuildRequest({'W', static_cast<std::uint8_t>(address >> 8),
                         static_cast<std::uint8_t>(address & 0xFF), first, second});
}

Report poll(SimFirmware& firmware) {
    Report reply{};
    EXPECT_TRUE(firmware.getFeature(reply.data(), reply.size()));
    return reply;
}

// Sends the request; true when the firmware took it.
bool send(SimFirmware& firmware, const Report& r) {
    return firmware.setFeature(r.data(), r.size());
}

TEST(SimFirmware, EachRequestIsAnsweredFreshly) {
    struct Row {
        const char* name;
        std::uint16_t address;
        bool badCheckByte;
        std::uint8_t letter, second;
        std::uint8_t stored, storedNext;  // memory at the address and after it, afterwards
    };
    for (const Row& row : {Row{"write", 0x0102, false, '+', 0x41, 0x41, 0x42},
                           Row{"closing request writes nothing", 2047, false, '+', 0, 0xFF, 0},
                           Row{"wrong check byte", 0x10, true, 'E', 'C', 0xFF, 0xFF}}) {
        SCOPED_TRACE(row.name);
        SimFirmware firmware;
        EXPECT_EQ(poll(firmware), Report{});  // nothing said yet
        Report r = request(row.address, 0x41, 0x42);
        r[6] ^= row.badCheckByte ? 1 : 0;
        ASSERT_TRUE(send(firmware, r));
        EXPECT_EQ(firmware.memory()[row.address], row.stored);
        const Report reply = poll(firmware);
        EXPECT_EQ(reply[1], row.letter);
        if (row.address != 2047) {
            EXPECT_EQ(reply[2], row.second);
            EXPECT_EQ(firmware.memory()[row.address + 1u], row.storedNext);
        }
        EXPECT_NE(reply[5], r[5]);
    }
}

TEST(SimFirmware, LatencyIsMeasuredOnTheInjectedClock) {
    std::chrono::steady_clock::time_point now{};
    SimFirmware firmware([&] { return now; });
    firmware.setFaultPlan({0, 5, {}});
    const Report r = request(0, 1, 2);
    ASSERT_TRUE(send(firmware, r));
    EXPECT_EQ(poll(firmware)[5], r[5]);
    now += std::chrono::milliseconds(4);
    EXPECT_EQ(poll(firmware)[5], r[5]);
    now += std::chrono::milliseconds(1);
    EXPECT_NE(poll(firmware)[5], r[5]);
}

struct FaultCase {
    const char* plan;
    bool sendSucceeds;
    bool answers;         // a fresh reply ever comes
    std::uint8_t letter;  // its result letter
    std::uint8_t second;  // its byte 2
    std::uint8_t stored;  // memory at the address afterwards
    bool unplugged;
};

class SimFirmwareFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SimFirmwareFault, ShowsAtItsAddressOnly) {
    const FaultCase& c = GetParam();
    SimFirmware firmware;
    std::string error;
    auto plan = parseSimFaultPlan(c.plan, &error);
    ASSERT_TRUE(plan) << error;
    firmware.setFaultPlan(*plan);

    // Another address is unaffected.
    const Report before = request(0x0E, 0x11, 0x22);
    ASSERT_TRUE(send(firmware, before));
    EXPECT_EQ(poll(firmware)[1], '+');
    EXPECT_FALSE(firmware.faultFired());

    const Report r = request(0x10, 0x41, 0x42);
    EXPECT_EQ(send(firmware, r), c.sendSucceeds);
    EXPECT_TRUE(firmware.faultFired());
    EXPECT_EQ(firmware.unplugged(), c.unplugged);
    EXPECT_EQ(firmware.memory()[0x10], c.stored);
    if (c.unplugged) {
        Report reply{};
        EXPECT_FALSE(firmware.getFeature(reply.data(), reply.size()));
        EXPECT_FALSE(send(firmware, before));
        EXPECT_EQ(firmware.requestsAfterFailure(), 1);
        // Plugged in again: the memory is kept, nothing is said yet.
        firmware.replug();
        EXPECT_FALSE(firmware.unplugged());
        EXPECT_EQ(firmware.memory()[0x10], 0x41);
        EXPECT_EQ(poll(firmware), Report{});
        return;
    }
    if (c.sendSucceeds) {
        Report reply{};
        for (int i = 0; i < 20; ++i) {
            reply = poll(firmware);
        }
        EXPECT_EQ(reply[5] != r[5], c.answers);
        if (c.answers) {
            EXPECT_EQ(reply[1], c.letter);
            EXPECT_EQ(reply[2], c.second);
        }
    }
    // A host that goes on after the failure is counted.
    ASSERT_TRUE(send(firmware, before));
    EXPECT_EQ(firmware.requestsAfterFailure(), 1);
    EXPECT_EQ(firmware.requestsSeen(), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SimFirmwareFault,
    ::testing::Values(FaultCase{"crc@16", true, true, 'E', 'C', 0xFF, false},
                      FaultCase{"verify@0x10", true, true, '-', 0x41 ^ 0xFF, 0x41 ^ 0xFF, false},
                      FaultCase{"noreply@16", true, false, 0, 0, 0x41, false},
                      FaultCase{"sendfail@16", false, false, 0, 0, 0xFF, false},
                      FaultCase{"unplug@16", true, false, 0, 0, 0x41, true}));

TEST(SimFaultPlanParser, AcceptsWellFormedPlansAndNamesWhatIsMalformed) {
    const SimFaultPlan none, stale3{3, 0, {}}, crc16{0, 5, {{SimFaultKind::Crc, 16}}},
        verifyNoReply{0, 0, {{SimFaultKind::Verify, 16}, {SimFaultKind::NoReply, 2047}}},
        sendUnplug{0, 0, {{SimFaultKind::SendFail, 2047}, {SimFaultKind::Unplug, 0}}};
    // Null: malformed.
    // clang-format off
    const std::pair<const char*, const SimFaultPlan*> cases[] = {
        {"", &none}, {"  ", &none}, {"stale=3", &stale3}, {"latency=5,crc@0x10", &crc16},
        {" verify@16 , noreply@2047 ", &verifyNoReply},
        {"sendfail@0x7ff,unplug@0,stale=0", &sendUnplug},
        {"stale", nullptr}, {"stale=-1", nullptr}, {"stale=x", nullptr}, {"latency=", nullptr},
        {"crc@2048", nullptr}, {"crc@0x", nullptr}, {"crc@", nullptr}, {"crc@1@2", nullptr},
        {"bogus@1", nullptr}, {"crc=1", nullptr}, {"speed=3", nullptr},
        {"stale=2,,crc@1", nullptr}, {"crc@16,", nullptr}, {"verify@0x10000", nullptr},
        {"unplug@1x", nullptr}, {"noreply@99999999999", nullptr}};
    // clang-format on
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        std::string error;
        const auto plan = parseSimFaultPlan(text, &error);
        ASSERT_EQ(plan.has_value(), expected != nullptr) << error;
        if (plan) {
            EXPECT_EQ(plan->staleReplies, expected->staleReplies);
            EXPECT_EQ(plan->latencyMs, expected->latencyMs);
            EXPECT_EQ(plan->faults, expected->faults);
        } else {
            EXPECT_NE(error.find(text), std::string::npos) << error;
        }
    }
}

}  // namespace
}  // namespace qk750
