#include "usb/sim_firmware.h"

#include <gtest/gtest.h>

#include "usb/hid_platform_sim.h"
#include "usb/programming_protocol.h"

namespace qk750 {
namespace {

FeatureReport request(std::uint16_t address) {
    return BuildRequest({'W', static_cast<std::uint8_t>(address >> 8),
                         static_cast<std::uint8_t>(address & 0xFF), 0x41, 0x42});
}

// A fault shows at its address only, and a host that goes on after it is counted. An
// unplugged keyboard fails every call until plugged in again, its memory kept.
TEST(SimFirmware, FaultsShowAtTheirAddressOnly) {
    const struct {
        const char* plan;
        bool sendSucceeds;
        std::uint8_t letter, second;  // the last reply after many polls (0: none fresh)
        std::uint8_t stored;          // memory at the address afterwards
    } cases[] = {{"crc@16", true, 'E', 'C', 0xFF}, {"verify@0x10", true, '-', 0xBE, 0xBE},
                 {"noreply@16", true, 0, 0, 0x41}, {"sendfail@16", false, 0x2B, 0x41, 0xFF},
                 {"unplug@16", true, 0, 0, 0x41},  {"", true, '+', 0x41, 0x41}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plan);
        SimFirmware firmware;
        firmware.setFaultPlan(*parseSimFaultPlan(c.plan, nullptr));
        FeatureReport reply{};
        const FeatureReport before = request(0x0E), r = request(0x10);
        ASSERT_TRUE(firmware.setFeature(before.data(), before.size()));
        ASSERT_TRUE(firmware.getFeature(reply.data(), reply.size()));
        EXPECT_EQ(reply[1], '+');
        EXPECT_EQ(firmware.setFeature(r.data(), r.size()), c.sendSucceeds);
        EXPECT_EQ(firmware.memory()[0x10], c.stored);
        for (int i = 0; i < 20; ++i) {
            EXPECT_EQ(firmware.getFeature(reply.data(), reply.size()), !firmware.unplugged());
        }
        const bool fresh = reply[5] != r[5] && !firmware.unplugged();
        EXPECT_EQ(fresh ? reply[1] : 0, c.letter);
        EXPECT_EQ(fresh ? reply[2] : 0, c.second);
        EXPECT_EQ(firmware.setFeature(before.data(), before.size()), !firmware.unplugged());
        EXPECT_EQ(firmware.requestsAfterFailure(), c.plan[0] != '\0' ? 1 : 0);
        if (firmware.unplugged()) {
            firmware.replug();
            EXPECT_TRUE(firmware.getFeature(reply.data(), reply.size()));
            EXPECT_EQ(reply, FeatureReport{});  // nothing said yet
            EXPECT_EQ(firmware.memory()[0x10], 0x41);
            EXPECT_TRUE(firmware.setFeature(before.data(), before.size()));
            EXPECT_EQ(firmware.requestsAfterFailure(), 2);  // the host went on after the fault
        }
    }
}

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

TEST(HidPlatformSim, CancelBeforeTheReadStillEndsIt) {
    HidPlatformSim sim;
    auto handle = sim.open(sim.enumerate().at(1).path, HidOpenMode::OverlappedRead);
    ASSERT_TRUE(handle);
    handle->cancelRead();
    std::uint8_t buffer[9];
    // Would wait the full minute if the early cancel were lost.
    EXPECT_EQ(handle->readInput(buffer, sizeof buffer, 60000).status, HidReadStatus::Timeout);
}

}  // namespace
}  // namespace qk750
