#include "usb/hid_platform_sim.h"

#include <gtest/gtest.h>

namespace qk750 {
namespace {

TEST(HidPlatformSim, UnplugFaultGoesThroughThenNotifies) {
    HidPlatformSim sim(
        {.otherInterfaces = false, .clock = {}, .faults = *parseSimFaultPlan("unplug@4", nullptr)});
    int changes = 0;
    sim.setChangeListener([&] { ++changes; });
    auto handle = sim.open(sim.enumerate().at(0).path, HidOpenMode::ReadWrite);
    ASSERT_TRUE(handle);
    const std::uint8_t first[7] = {0, 'W', 0, 2, 0xAA, 0xBB, 'W' ^ 2 ^ 0xAA ^ 0xBB};
    EXPECT_TRUE(handle->setFeature(first, sizeof first));
    EXPECT_EQ(changes, 0);
    const std::uint8_t request[7] = {0, 'W', 0, 4, 0xAA, 0xBB, 'W' ^ 4 ^ 0xAA ^ 0xBB};
    EXPECT_TRUE(handle->setFeature(request, sizeof request));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(sim.firmware().memory()[4], 0xAA);
    EXPECT_TRUE(sim.enumerate().empty());
    std::uint8_t reply[7] = {};
    EXPECT_FALSE(handle->getFeature(reply, sizeof reply));
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
