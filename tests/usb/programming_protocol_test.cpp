#include "usb/programming_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "keys/device_image.h"
#include "protocol_rig.h"
#include "usb/hid_platform_sim.h"

namespace qk750 {
namespace {

using std::chrono::milliseconds;
using test::Failure;
using test::Rig;

// A setup whose string area holds `bytes` bytes: first-layer keys of plain letters.
SetupRecord setupWithStringBytes(int bytes) {
    SetupRecord setup;
    int key = 1;
    while (bytes > 0) {
        // A string of n letters takes n + 1 bytes; a one-byte string would not be stored.
        int take = std::min(bytes, 48);
        if (bytes - take == 1 || bytes - take == 2) {
            take -= 3;
        }
        setup.KeyStrings[key++] = std::string(static_cast<std::size_t>(take - 1), 'a');
        bytes -= take;
    }
    return setup;
}

TEST(ProgrammingProtocolTest, RequestBytesAndTexts) {
    EXPECT_EQ(BuildRequest({'W', 0x01, 0x02, 0x41, 0x42}),
              (FeatureReport{0x00, 0x57, 0x01, 0x02, 0x41, 0x42, 0x57}));
    EXPECT_EQ(BuildRequest({'W', 0x07, 0xFF, 0x00, 0x00}),
              (FeatureReport{0x00, 0x57, 0x07, 0xFF, 0x00, 0x00, 0xAF}));
    EXPECT_EQ(VerifyDetail(0x0010, 0x41, 0xFF), "Memory 0010 Written41 Read=FF");
    EXPECT_EQ(ReceiveErrorText(358),
              "Error receiving data from USB QK750 Memory #358 !!\r\r  Check connection.");
    EXPECT_EQ(BatchTitle(ProgressPercent(370, 1000)), "37% ZQ QK750 USB");
    EXPECT_EQ(ProgressPercent(2047, 2046), 100);  // the closing request lies above the maximum
    EXPECT_EQ(ProgressPercent(1, 359), 0);
}

TEST(ProgrammingProtocolTest, TransferExtentFollowsTheSetupSize) {
    struct Row {
        int setupSize;
        int extent;
    };
    for (const Row& row :
         {Row{1, 359}, Row{1688, 2046}, Row{1689, 2047}, Row{1690, 2046}, Row{1695, 2046}}) {
        EXPECT_EQ(TransferExtent(row.setupSize), row.extent) << row.setupSize;
    }
}

TEST(ProgrammingProtocolTest, EmptySetupSendsTheHeaderAndTablesThenTheClosingRequest) {
    Rig rig;
    ASSERT_TRUE(rig.program());
    // Pairs at 0, 2, ..., 358 and the closing request.
    EXPECT_EQ(rig.firmware().requestsSeen(), 181);
    EXPECT_EQ(rig.reporter.maximum, 359);
    EXPECT_EQ(rig.reporter.lastPosition, 2047);
    EXPECT_FALSE(rig.reporter.progressVisible);
    EXPECT_TRUE(rig.reporter.failures.empty());
    const auto& memory = rig.firmware().memory();
    const DeviceImage& image = rig.protocol.image();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 360, memory.begin()));
    // 100 ms is the caller's; each request waits 6 ms and its reply is there at once.
    EXPECT_EQ(rig.waits.elapsedMs(), 181 * 6);
}

TEST(ProgrammingProtocolTest, FullStringAreaSends1024PairsAndLandsInTheKeyboard) {
    Rig rig;
    ASSERT_TRUE(rig.program(setupWithStringBytes(kStringAreaCapacity)));
    EXPECT_EQ(rig.protocol.setupSize(), 1695);
    EXPECT_EQ(rig.reporter.maximum, 2046);
    EXPECT_EQ(rig.firmware().requestsSeen(), 1025);
    const auto& memory = rig.firmware().memory();
    const DeviceImage& image = rig.protocol.image();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), memory.begin()));
}

TEST(ProgrammingProtocolTest, SetupSize1689SendsUpToTheLastPairWithoutCapping) {
    Rig rig;
    ASSERT_TRUE(rig.program(setupWithStringBytes(1688)));
    EXPECT_EQ(rig.protocol.setupSize(), 1689);
    EXPECT_EQ(rig.reporter.maximum, 2047);
    EXPECT_EQ(rig.firmware().requestsSeen(), 1025);
}

TEST(ProgrammingProtocolTest, ACheckByteErrorThatIsNotFreshIsOnlyAPoll) {
    Rig rig(SimFaultPlan{.staleReplies = 0, .latencyMs = 0, .faults = {{SimFaultKind::Crc, 0}}});
    ASSERT_TRUE(rig.protocol.FindKeyboard());
    FeatureReport reply{};
    EXPECT_FALSE(rig.protocol.SendRequest({'W', 0, 0, 0x00, 0x5A}, reply));
    EXPECT_EQ(rig.state.Globals.UsbStatus, kUsbCrcError);
    ASSERT_EQ(reply[1], 'E');
    ASSERT_EQ(reply[2], 'C');
    // The same "E" "C" reply, seen as the answer to a request with that byte 5, is stale.
    const auto before = rig.waits.elapsedMs();
    EXPECT_FALSE(rig.protocol.WaitForReply(reply[5], reply));
    EXPECT_EQ(rig.state.Globals.UsbStatus, kUsbNoAnswer);
    EXPECT_EQ(rig.waits.elapsedMs() - before, 15 * 2);
}

TEST(ProgrammingProtocolTest, StaleRepliesArePolledUpToFifteenTimes) {
    {
        Rig rig(SimFaultPlan{.staleReplies = 14, .latencyMs = 0, .faults = {}});
        EXPECT_TRUE(rig.program());
        // Each request: 6 ms, then 14 stale polls 2 ms apart before the fresh one.
        EXPECT_EQ(rig.waits.elapsedMs(), 181 * (6 + 14 * 2));
    }
    {
        Rig rig(SimFaultPlan{.staleReplies = 15, .latencyMs = 0, .faults = {}});
        rig.state.BatchMode = true;
        EXPECT_FALSE(rig.program());
        ASSERT_EQ(rig.reporter.failures.size(), 1u);
        EXPECT_EQ(rig.reporter.failures[0].code, "ERR_USB_RECEIVE");
        EXPECT_EQ(rig.reporter.failures[0].message, ReceiveErrorText(0));
        EXPECT_EQ(rig.firmware().requestsSeen(), 1);
    }
}

TEST(ProgrammingProtocolTest, LatencyWithinThePollsIsNoFailure) {
    Rig rig(SimFaultPlan{.staleReplies = 0, .latencyMs = 20, .faults = {}});
    EXPECT_TRUE(rig.program());
    EXPECT_TRUE(rig.reporter.failures.empty());
}

struct FaultRow {
    const char* name;
    SimFaultKind kind;
    std::uint16_t address;
    std::uint8_t status;
    const char* code;
    const char* detail;  // null: the setup file name
    const char* message;
};

class ProtocolFaultTest : public ::testing::TestWithParam<FaultRow> {};

TEST_P(ProtocolFaultTest, EachFailureIsReportedOnceAndEndsTheRun) {
    const FaultRow& row = GetParam();
    Rig rig(SimFaultPlan{.staleReplies = 0, .latencyMs = 0, .faults = {{row.kind, row.address}}});
    SetupRecord setup;
    setup.KeyStrings[1] = "a";  // key 1's entry 00 04 lands at 0x008 and 0x009
    ASSERT_FALSE(rig.program(setup));
    ASSERT_EQ(rig.reporter.failures.size(), 1u);
    const Failure& failure = rig.reporter.failures[0];
    EXPECT_EQ(failure.code, row.code);
    EXPECT_EQ(failure.detail, row.detail != nullptr ? row.detail : rig.state.SetupFileName);
    EXPECT_EQ(failure.message, row.message);
    EXPECT_EQ(rig.state.Globals.UsbStatus, row.status);
    EXPECT_FALSE(rig.reporter.progressVisible);
    // Nothing is sent after the failing request.
    EXPECT_EQ(rig.firmware().requestsSeen(), row.address / 2 + 1);
    EXPECT_EQ(rig.firmware().requestsAfterFailure(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ProtocolFaultTest,
    ::testing::Values(
        FaultRow{"crc", SimFaultKind::Crc, 0x20, kUsbCrcError, "ERR_USB_CRC", nullptr,
                 "CRC Error in data to USB QK750! Check connection."},
        FaultRow{"verify", SimFaultKind::Verify, 0x0008, kUsbVerifyError, "ERR_WRITE_VERIFY",
                 "Memory 0008 Written00 Read=FF",
                 "Verify error in data write to USB QK750\r\rMemory 0008 Written00 Read=FF"},
        FaultRow{"noreply", SimFaultKind::NoReply, 100, kUsbNoAnswer, "ERR_USB_RECEIVE", nullptr,
                 "Error receiving data from USB QK750 Memory #100 !!\r\r  Check connection."},
        FaultRow{"sendfail", SimFaultKind::SendFail, 4, kUsbSendFailed, "ERR_USB_SEND", nullptr,
                 "Error sending data to USB QK750 !! Check connection."},
        FaultRow{"unplug", SimFaultKind::Unplug, 6, kUsbNoAnswer, "ERR_USB_RECEIVE", nullptr,
                 "Error receiving data from USB QK750 Memory #6 !!\r\r  Check connection."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProgrammingProtocolTest, StopWaitingAbortsTheRunAtTheNextWait) {
    Rig rig;
    rig.waits.at(milliseconds(300), [&] { rig.state.Globals.StopWaiting = true; });
    ASSERT_FALSE(rig.program());
    ASSERT_EQ(rig.reporter.failures.size(), 1u);
    EXPECT_EQ(rig.reporter.failures[0].code, "ERR_USER_ABORT");
    EXPECT_EQ(rig.reporter.failures[0].message, "User Abort!! Not all data was programmed !!!");
    EXPECT_EQ(rig.state.Globals.UsbStatus, kUsbAborted);
    EXPECT_EQ(rig.firmware().requestsSeen(), 50);  // the 50th request was waiting at 300 ms
}

TEST(ProgrammingProtocolTest, PauseEndsWhenStopWaitingIsSet) {
    Rig rig;
    rig.waits.at(milliseconds(30), [&] { rig.state.Globals.StopWaiting = true; });
    rig.protocol.PauseBeforeProgramming();
    EXPECT_EQ(rig.waits.elapsedMs(), 30);

    Rig quiet;
    quiet.protocol.PauseBeforeProgramming();
    EXPECT_EQ(quiet.waits.elapsedMs(), 100);
}

TEST(ProgrammingProtocolTest, DeviceListRebuiltMidRunLeavesNoDeviceToAnswer) {
    Rig rig;
    // Another device arrives while a reply is awaited: the rebuild clears the selection.
    rig.waits.at(milliseconds(61),
                 [&] { rig.platform.addDevice(HidPlatformSim::namelessConfig()); });
    rig.state.BatchMode = true;
    ASSERT_FALSE(rig.program());
    ASSERT_EQ(rig.reporter.failures.size(), 1u);
    EXPECT_EQ(rig.reporter.failures[0].code, "ERR_USB_RECEIVE");
    EXPECT_EQ(rig.devices.currentDevice(), nullptr);
}

TEST(ProgrammingProtocolTest, BatchModeReportsAMissingKeyboardAtOnce) {
    Rig rig;
    rig.platform.unplug(rig.platform.keyboardIndex());
    rig.dispatcher.processPending();
    rig.state.BatchMode = true;
    ASSERT_FALSE(rig.program());
    ASSERT_EQ(rig.reporter.failures.size(), 1u);
    EXPECT_EQ(rig.reporter.failures[0].code, "ERR_USB_KBD_NOT_CONNECTED");
    EXPECT_EQ(rig.reporter.failures[0].detail, rig.state.SetupFileName);
    EXPECT_TRUE(rig.reporter.questions.empty());
    // The search went past every entry and left nothing selected.
    EXPECT_EQ(rig.devices.currentDevice(), nullptr);
}

TEST(ProgrammingProtocolTest, InteractiveSearchAsksFourTimesThenGivesUpSilently) {
    Rig rig;
    rig.platform.unplug(rig.platform.keyboardIndex());
    rig.dispatcher.processPending();
    ASSERT_FALSE(rig.program());
    EXPECT_TRUE(rig.reporter.failures.empty());
    ASSERT_EQ(rig.reporter.questions.size(), 4u);
    EXPECT_EQ(rig.reporter.questions[0], kConnectQuestion);
    for (int i = 1; i < 4; ++i) {
        EXPECT_EQ(rig.reporter.questions[static_cast<std::size_t>(i)], kNotFoundQuestion);
    }
    EXPECT_EQ(rig.firmware().requestsSeen(), 0);
}

TEST(ProgrammingProtocolTest, KeyboardConnectedWhileTheQuestionIsShownIsProgrammed) {
    Rig rig;
    rig.platform.unplug(rig.platform.keyboardIndex());
    rig.dispatcher.processPending();
    rig.reporter.onQuestion = [&] {
        // The question's own event loop handles the arrival.
        rig.platform.plug(rig.platform.keyboardIndex());
        rig.dispatcher.processPending();
    };
    EXPECT_TRUE(rig.program());
    EXPECT_EQ(rig.reporter.questions.size(), 1u);

    Rig cancelled;
    cancelled.platform.unplug(cancelled.platform.keyboardIndex());
    cancelled.dispatcher.processPending();
    cancelled.reporter.answerOk = false;
    EXPECT_FALSE(cancelled.program());
    EXPECT_EQ(cancelled.reporter.questions.size(), 1u);
    EXPECT_TRUE(cancelled.reporter.failures.empty());
}

TEST(ProgrammingProtocolTest, TheFirstKeyboardInListOrderIsProgrammed) {
    Rig rig;
    const std::size_t second = rig.platform.addDevice(HidPlatformSim::keyboardConfig());
    rig.dispatcher.processPending();
    ASSERT_TRUE(rig.program());
    // The decoy (feature length 8) is listed first and skipped; the first real keyboard
    // is selected and stays selected.
    THidDevice* current = rig.devices.currentDevice();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(rig.devices.selectedIndex(), 1);
    EXPECT_LT(rig.platform.keyboardIndex(), second);
}

TEST(ProgrammingProtocolTest, ADecoyWithTheModelNameIsNotTheKeyboard) {
    Rig rig;
    rig.platform.unplug(rig.platform.keyboardIndex());
    rig.dispatcher.processPending();
    ASSERT_EQ(rig.devices.count(), 2);  // the feature-length-8 decoy and the nameless one
    EXPECT_FALSE(rig.protocol.FindKeyboard());
    EXPECT_EQ(rig.devices.currentDevice(), nullptr);
}

}  // namespace
}  // namespace qk750
