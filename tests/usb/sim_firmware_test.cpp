#include "usb/sim_firmware.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>

namespace qk750 {
namespace {

using Report = std::array<std::uint8_t, 7>;

Report request(std::uint16_t address, std::uint8_t first, std::uint8_t second) {
    Report r{0,
             'W',
             static_cast<std::uint8_t>(address >> 8),
             static_cast<std::uint8_t>(address & 0xFF),
             first,
             second,
             0};
    r[6] = r[1] ^ r[2] ^ r[3] ^ r[4] ^ r[5];
    return r;
}

Report poll(SimFirmware& firmware) {
    Report reply{};
    EXPECT_TRUE(firmware.getFeature(reply.data(), reply.size()));
    return reply;
}

TEST(SimFirmware, RequestBytesMatchTheKeyboardsFormat) {
    EXPECT_EQ(request(0x0102, 0x41, 0x42), (Report{0x00, 0x57, 0x01, 0x02, 0x41, 0x42, 0x57}));
    EXPECT_EQ(request(2047, 0, 0), (Report{0x00, 0x57, 0x07, 0xFF, 0x00, 0x00, 0xAF}));
}

TEST(SimFirmware, WritesTwoBytesAndAnswersFreshly) {
    SimFirmware firmware;
    EXPECT_EQ(poll(firmware), Report{});  // nothing said yet
    EXPECT_EQ(firmware.memory()[0x102], 0xFF);

    const Report r = request(0x0102, 0x41, 0x42);
    ASSERT_TRUE(firmware.setFeature(r.data(), r.size()));
    EXPECT_EQ(firmware.memory()[0x102], 0x41);
    EXPECT_EQ(firmware.memory()[0x103], 0x42);
    const Report reply = poll(firmware);
    EXPECT_EQ(reply[1], '+');
    EXPECT_EQ(reply[2], 0x41);
    EXPECT_NE(reply[5], r[5]);
}

TEST(SimFirmware, ClosingRequestWritesNothing) {
    SimFirmware firmware;
    const Report r = request(2047, 0, 0);
    ASSERT_TRUE(firmware.setFeature(r.data(), r.size()));
    EXPECT_EQ(firmware.memory()[2047], 0xFF);
    const Report reply = poll(firmware);
    EXPECT_EQ(reply[1], '+');
    EXPECT_NE(reply[5], r[5]);
}

TEST(SimFirmware, WrongCheckByteGivesFreshCrcErrorAndWritesNothing) {
    SimFirmware firmware;
    Report r = request(0x10, 0x41, 0x00);
    r[6] ^= 0x01;
    ASSERT_TRUE(firmware.setFeature(r.data(), r.size()));
    const Report reply = poll(firmware);
    EXPECT_EQ(reply[1], 'E');
    EXPECT_EQ(reply[2], 'C');
    EXPECT_NE(reply[5], r[5]);
    EXPECT_EQ(firmware.memory()[0x10], 0xFF);
}

TEST(SimFirmware, StaleRepliesCarryTheRequestsByte5) {
    SimFirmware firmware;
    firmware.setFaultPlan({2, 0, {}});
    const Report first = request(0, 1, 2);
    ASSERT_TRUE(firmware.setFeature(first.data(), first.size()));
    EXPECT_EQ(poll(firmware)[5], first[5]);
    EXPECT_EQ(poll(firmware)[5], first[5]);
    const Report fresh = poll(firmware);
    EXPECT_NE(fresh[5], first[5]);
    EXPECT_EQ(fresh[1], '+');

    // The next request's stale replies still show the previous answer's letter.
    const Report second = request(2, 3, 4);
    ASSERT_TRUE(firmware.setFeature(second.data(), second.size()));
    const Report stale = poll(firmware);
    EXPECT_EQ(stale[5], second[5]);
}

TEST(SimFirmware, LatencyIsMeasuredOnTheInjectedClock) {
    std::chrono::steady_clock::time_point now{};
    SimFirmware firmware([&] { return now; });
    firmware.setFaultPlan({0, 5, {}});
    const Report r = request(0, 1, 2);
    ASSERT_TRUE(firmware.setFeature(r.data(), r.size()));
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
    ASSERT_TRUE(firmware.setFeature(before.data(), before.size()));
    EXPECT_EQ(poll(firmware)[1], '+');
    EXPECT_FALSE(firmware.faultFired());

    const Report r = request(0x10, 0x41, 0x42);
    EXPECT_EQ(firmware.setFeature(r.data(), r.size()), c.sendSucceeds);
    EXPECT_TRUE(firmware.faultFired());
    EXPECT_EQ(firmware.unplugged(), c.unplugged);
    EXPECT_EQ(firmware.memory()[0x10], c.stored);
    if (c.unplugged) {
        Report reply{};
        EXPECT_FALSE(firmware.getFeature(reply.data(), reply.size()));
        EXPECT_FALSE(firmware.setFeature(before.data(), before.size()));
        EXPECT_EQ(firmware.requestsAfterFailure(), 1);
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
    ASSERT_TRUE(firmware.setFeature(before.data(), before.size()));
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

TEST(SimFirmware, ReplugKeepsMemory) {
    SimFirmware firmware;
    firmware.setFaultPlan(*parseSimFaultPlan("unplug@0", nullptr));
    const Report r = request(0, 0x12, 0x34);
    ASSERT_TRUE(firmware.setFeature(r.data(), r.size()));
    ASSERT_TRUE(firmware.unplugged());
    firmware.replug();
    EXPECT_FALSE(firmware.unplugged());
    EXPECT_EQ(firmware.memory()[0], 0x12);
    EXPECT_EQ(poll(firmware), Report{});
}

TEST(SimFaultPlanParser, AcceptsWellFormedPlans) {
    struct Case {
        const char* text;
        int stale;
        int latency;
        std::vector<SimFault> faults;
    };
    const Case cases[] = {
        {"", 0, 0, {}},
        {"  ", 0, 0, {}},
        {"stale=3", 3, 0, {}},
        {"latency=5,crc@0x10", 0, 5, {{SimFaultKind::Crc, 16}}},
        {" verify@16 , noreply@2047 ",
         0,
         0,
         {{SimFaultKind::Verify, 16}, {SimFaultKind::NoReply, 2047}}},
        {"sendfail@0x7ff,unplug@0,stale=0",
         0,
         0,
         {{SimFaultKind::SendFail, 2047}, {SimFaultKind::Unplug, 0}}},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto plan = parseSimFaultPlan(c.text, &error);
        ASSERT_TRUE(plan) << c.text << ": " << error;
        EXPECT_EQ(plan->staleReplies, c.stale) << c.text;
        EXPECT_EQ(plan->latencyMs, c.latency) << c.text;
        EXPECT_EQ(plan->faults, c.faults) << c.text;
    }
}

TEST(SimFaultPlanParser, RejectsMalformedPlansWithAReason) {
    const char* cases[] = {"stale",    "stale=-1",       "stale=x",   "latency=",
                           "crc@2048", "crc@0x",         "crc@",      "crc@1@2",
                           "bogus@1",  "crc=1",          "speed=3",   "stale=2,,crc@1",
                           "crc@16,",  "verify@0x10000", "unplug@1x", "noreply@99999999999"};
    for (const char* text : cases) {
        std::string error;
        EXPECT_FALSE(parseSimFaultPlan(text, &error)) << text;
        EXPECT_NE(error.find(text), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace qk750
