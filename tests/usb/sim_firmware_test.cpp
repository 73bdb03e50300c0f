#include "usb/sim_firmware.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

namespace qk750 {
namespace {

TEST(SimFaultPlanParser, AcceptsWellFormedPlansAndNamesWhatIsMalformed) {
    const SimFaultPlan none, stale3{3, 0, {}}, crc16{0, 5, {{SimFaultKind::Crc, 16}}},
        verifyNoReply{0, 0, {{SimFaultKind::Verify, 16}, {SimFaultKind::NoReply, 2047}}},
        sendUnplug{0, 0, {{SimFaultKind::SendFail, 2047}, {SimFaultKind::Unplug, 0}}};
    // Null: malformed.
    // clang-format off
    const std::pair<const char*, const SimFaultPlan*> cases[] = {
        {"", &none}, {"  ", &none}, {"stale=3", &stale3}, {"latency=5,crc@0x10", &crc16},
        {" verify@0X10 , noreply@2047 ", &verifyNoReply},
        {"sendfail@0x7ff,unplug@0,stale=0", &sendUnplug},
        {"stale", nullptr}, {"stale=-1", nullptr}, {"latency=", nullptr}, {"crc@2048", nullptr},
        {"crc@0x", nullptr}, {"crc@1@2", nullptr}, {"bogus@1", nullptr}, {"speed=3", nullptr},
        {"stale=2,,crc@1", nullptr}, {"unplug@1x", nullptr}, {"noreply@99999999999", nullptr}};
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

// "K:" gives keyboard K an item of its own, its stale or latency over the common one; a
// plan for one keyboard has no keyboard numbers.
TEST(SimFaultPlanParser, KeyboardPrefixesTargetOneKeyboard) {
    std::string error;
    const auto plans = parseSimFaultPlans("stale=1, 2:crc@0x20,2:stale=4, 3 : latency=5", &error);
    ASSERT_TRUE(plans) << error;
    const std::vector<SimFault> crc{{SimFaultKind::Crc, 0x20}};
    const std::tuple<int, int, std::vector<SimFault>> expected[] = {
        {1, 0, {}}, {4, 0, crc}, {1, 5, {}}, {1, 0, {}}};
    for (int k = 1; k <= 4; ++k) {
        const SimFaultPlan plan = plans->forKeyboard(k);
        EXPECT_EQ(std::tuple(plan.staleReplies, plan.latencyMs, plan.faults), expected[k - 1]) << k;
    }
    for (const char* bad : {"0:crc@1", "x:crc@1", ":crc@1", "2:", "2:bogus@1", "2:3:crc@1"}) {
        EXPECT_FALSE(parseSimFaultPlans(bad, &error)) << bad;
    }
    EXPECT_FALSE(parseSimFaultPlan("2:crc@1", &error));
}

// A replugged keyboard has no answer yet: the last one before the unplug must not pass for
// the reply to the next request.
TEST(SimFirmware, AReplugForgetsTheLastAnswer) {
    SimFirmware firmware;
    const std::uint8_t unknownCommand[7] = {};
    std::uint8_t reply[7] = {};
    ASSERT_TRUE(firmware.setFeature(unknownCommand, 7) && firmware.getFeature(reply, 7));
    ASSERT_NE(reply[1], 0);
    firmware.replug();
    ASSERT_TRUE(firmware.getFeature(reply, 7));
    EXPECT_EQ(std::vector<std::uint8_t>(reply, reply + 7), std::vector<std::uint8_t>(7, 0));
}

}  // namespace
}  // namespace qk750
