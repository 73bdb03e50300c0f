#include "usb/hid_platform_sim.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/temp_dir.h"

namespace qk750 {
namespace {

TEST(HidPlatformSim, UnplugFaultGoesThroughThenNotifies) {
    HidPlatformSim sim(
        {.otherInterfaces = false, .clock = {}, .faults = *parseSimFaultPlan("unplug@4", nullptr)});
    int changes = 0;
    sim.setChangeListener([&] { ++changes; });
    auto handle = sim.open(sim.enumerate().at(0).path, HidOpenMode::ReadWrite);
    ASSERT_TRUE(handle);
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

TEST(HidPlatformSim, MemoryFileRoundTripAndWrongSizeRefused) {
    test::TempDir dir;
    const std::string path = dir.path("memory.bin");
    {
        HidPlatformSim sim;
        std::string error;
        ASSERT_TRUE(sim.loadMemoryFile(path, &error)) << error;  // absent: erased
        EXPECT_EQ(sim.firmware().memory()[0], 0xFF);
        auto memory = sim.firmware().memory();
        memory[0] = 0x12;
        memory[2047] = 0x34;
        sim.firmware().setMemory(memory);
        ASSERT_TRUE(sim.saveMemoryFile(&error)) << error;
    }
    HidPlatformSim sim;
    std::string error;
    ASSERT_TRUE(sim.loadMemoryFile(path, &error)) << error;
    EXPECT_EQ(sim.firmware().memory()[0], 0x12);
    EXPECT_EQ(sim.firmware().memory()[2047], 0x34);
    EXPECT_EQ(std::filesystem::file_size(path), 2048u);

    dir.write("memory.bin", "too short");
    EXPECT_FALSE(sim.loadMemoryFile(path, &error));
    EXPECT_NE(error.find("9 bytes, not 2048"), std::string::npos) << error;
    EXPECT_EQ(sim.firmware().memory()[0], 0x12);  // the refused file changes nothing
}

}  // namespace
}  // namespace qk750
