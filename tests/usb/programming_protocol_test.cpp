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

void unplugKeyboard(Rig& rig) {
    rig.platform.unplug(rig.platform.keyboardIndex());
    rig.dispatcher.processPending();
}

// The one failure the run reported, or an empty one.
Failure onlyFailure(const Rig& rig) {
    EXPECT_EQ(rig.reporter.failures.size(), 1u);
    return rig.reporter.failures.empty() ? Failure{} : rig.reporter.failures[0];
}

TEST(ProgrammingProtocolTest, RequestCheckByteAndBatchTitle) {
    EXPECT_EQ(BuildRequest({'W', 0x07, 0xFF, 0x00, 0x00}),
              (FeatureReport{0x00, 0x57, 0x07, 0xFF, 0x00, 0x00, 0xAF}));
    EXPECT_EQ(BatchTitle(ProgressPercent(370, 1000)), "37% ZQ QK750 USB");
    EXPECT_EQ(ProgressPercent(2047, 2046), 100);  // the closing request lies above the maximum
    EXPECT_EQ(ProgressPercent(1, 359), 0);
}

TEST(ProgrammingProtocolTest, TheSetupSizeDecidesHowFarTheRunWrites) {
    struct Row {
        int stringBytes;
        int setupSize;
        int maximum;  // the highest pair address, capped at 2046 from 1690 on
        int requests;
    };
    for (const Row& row :
         {Row{0, 1, 359, 181}, Row{1688, 1689, 2047, 1025}, Row{1689, 1690, 2046, 1025},
          Row{kStringAreaCapacity, 1695, 2046, 1025}}) {
        SCOPED_TRACE(row.setupSize);
        Rig rig;
        ASSERT_TRUE(rig.program(setupWithStringBytes(row.stringBytes)));
        EXPECT_EQ(rig.protocol.setupSize(), row.setupSize);
        EXPECT_EQ(rig.reporter.maximum, row.maximum);
        EXPECT_EQ(rig.reporter.lastPosition, 2047);
        EXPECT_FALSE(rig.reporter.progressVisible);
        EXPECT_EQ(rig.firmware().requestsSeen(), row.requests);
        // The 100 ms pause is the caller's; each request waits 6 ms, its reply there at once.
        EXPECT_EQ(rig.waits.elapsedMs(), row.requests * 6);
        const DeviceImage& image = rig.protocol.image();
        const auto sent = static_cast<std::ptrdiff_t>(std::min(row.maximum + 1, 2047));
        EXPECT_TRUE(
            std::equal(image.begin(), image.begin() + sent, rig.firmware().memory().begin()));
    }
}

TEST(ProgrammingProtocolTest, ACheckByteErrorThatIsNotFreshIsOnlyAPoll) {
    Rig rig(SimFaultPlan{.staleReplies = 0, .latencyMs = 0, .faults = {{SimFaultKind::Crc, 0}}});
    ASSERT_TRUE(rig.protocol.FindKeyboard());
    FeatureReport reply{};
    EXPECT_FALSE(rig.protocol.SendRequest({'W', 0, 0, 0x00, 0x5A}, reply));
    EXPECT_EQ(rig.state.Globals.UsbStatus, kUsbCrcError);
    ASSERT_EQ(rig.trace.back(), "RD 00  45 43 00 00 5B 5D ");
    // The same "E" "C" reply, seen as the answer to a request with that byte 5, is stale.
    const auto before = rig.waits.elapsedMs();
    EXPECT_FALSE(rig.protocol.WaitForReply(reply[5], reply));
    EXPECT_EQ(rig.state.Globals.UsbStatus, kUsbNoAnswer);
    EXPECT_EQ(rig.waits.elapsedMs() - before, 15 * 2);
    // Gone before the list has heard of it: the read fails with the system's words.
    rig.platform.unplug(rig.platform.keyboardIndex());
    EXPECT_FALSE(rig.protocol.ReadFeatureReport(reply.data(), reply.size()));
#ifdef _WIN32  // the system's words differ between Windows versions; the code does not
    EXPECT_TRUE(rig.trace.back().starts_with("GET FEATURE ERROR: ") &&
                rig.trace.back().ends_with(" (48F)"))
        << rig.trace.back();
#else
    EXPECT_EQ(rig.trace.back(), "GET FEATURE ERROR: No such device (13)");
#endif
}

TEST(ProgrammingProtocolTest, StaleRepliesArePolledUpToFifteenTimes) {
    Rig fourteen(SimFaultPlan{.staleReplies = 14, .latencyMs = 0, .faults = {}});
    EXPECT_TRUE(fourteen.program());
    // Each request: 6 ms, then 14 stale polls 2 ms apart before the fresh one.
    EXPECT_EQ(fourteen.waits.elapsedMs(), 181 * (6 + 14 * 2));

    // A reply 20 ms late is there at the eighth poll, 6 + 7 * 2 ms after its request.
    Rig slow(SimFaultPlan{.staleReplies = 0, .latencyMs = 20, .faults = {}});
    EXPECT_TRUE(slow.program());
    EXPECT_EQ(slow.waits.elapsedMs(), 181 * 20);

    Rig fifteen(SimFaultPlan{.staleReplies = 15, .latencyMs = 0, .faults = {}});
    fifteen.state.BatchMode = true;
    EXPECT_FALSE(fifteen.program());
    EXPECT_EQ(onlyFailure(fifteen).code, "ERR_USB_RECEIVE");
    EXPECT_EQ(fifteen.firmware().requestsSeen(), 1);
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
    const Failure failure = onlyFailure(rig);
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

TEST(ProgrammingProtocolTest, StopWaitingEndsTheWaitAndAbortsTheRun) {
    Rig rig;
    rig.waits.at(milliseconds(300), [&] { rig.state.Globals.StopWaiting = true; });
    ASSERT_FALSE(rig.program());
    const Failure failure = onlyFailure(rig);
    EXPECT_EQ(failure.code, "ERR_USER_ABORT");
    EXPECT_EQ(failure.message, "User Abort!! Not all data was programmed !!!");
    EXPECT_EQ(rig.state.Globals.UsbStatus, kUsbAborted);
    EXPECT_EQ(rig.firmware().requestsSeen(), 50);  // the 50th request was waiting at 300 ms

    Rig paused;
    paused.waits.at(milliseconds(30), [&] { paused.state.Globals.StopWaiting = true; });
    paused.protocol.PauseBeforeProgramming();
    EXPECT_EQ(paused.waits.elapsedMs(), 30);
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
    EXPECT_EQ(onlyFailure(rig).code, "ERR_USB_RECEIVE");
    EXPECT_EQ(rig.devices.currentDevice(), nullptr);
}

TEST(ProgrammingProtocolTest, MissingKeyboardSearches) {
    struct Row {
        const char* name;
        bool batch;
        bool answerOk;
        bool plugAtFirstQuestion;
        std::size_t questions;
        bool programmed;
    };
    for (const Row& row : {Row{"batch: reported at once", true, true, false, 0, false},
                           Row{"four searches, then silence", false, true, false, 4, false},
                           Row{"cancelled", false, false, false, 1, false},
                           Row{"plugged while asked", false, true, true, 1, true}}) {
        SCOPED_TRACE(row.name);
        Rig rig;
        unplugKeyboard(rig);
        ASSERT_EQ(rig.devices.count(), 2);  // left: the model-named decoy and a nameless device
        rig.state.BatchMode = row.batch;
        rig.reporter.answerOk = row.answerOk;
        if (row.plugAtFirstQuestion) {
            rig.reporter.onQuestion = [&] {
                // The question's own event loop handles the arrival.
                rig.platform.plug(rig.platform.keyboardIndex());
                rig.dispatcher.processPending();
            };
        }
        EXPECT_EQ(rig.program(), row.programmed);
        const auto& questions = rig.reporter.questions;
        ASSERT_EQ(questions.size(), row.questions);
        for (std::size_t i = 0; i < questions.size(); ++i) {
            EXPECT_EQ(questions[i],
                      i == 0
                          ? "Make sure USB QK750 is connected, \rand press OK to start "
                            "programming...                    "
                          : "USB QK750 not found.\r\rConnect USB QK750 to USB Port and try again.")
                << i;
        }
        if (row.batch) {
            const Failure failure = onlyFailure(rig);
            EXPECT_EQ(failure.code, "ERR_USB_KBD_NOT_CONNECTED");
            EXPECT_EQ(failure.detail, rig.state.SetupFileName);
        } else {
            EXPECT_TRUE(rig.reporter.failures.empty());
        }
        if (!row.programmed) {
            // The search went past every entry and left nothing selected.
            EXPECT_EQ(rig.devices.currentDevice(), nullptr);
            EXPECT_EQ(rig.firmware().requestsSeen(), 0);
        }
    }
}

TEST(ProgrammingProtocolTest, TheFirstKeyboardInListOrderIsProgrammed) {
    Rig rig;
    const std::size_t second = rig.platform.addDevice(HidPlatformSim::keyboardConfig());
    rig.dispatcher.processPending();
    ASSERT_TRUE(rig.program());
    // The decoy (feature length 8) is listed first and skipped; the first real keyboard
    // is selected and stays selected.
    ASSERT_NE(rig.devices.currentDevice(), nullptr);
    EXPECT_EQ(rig.devices.selectedIndex(), 1);
    EXPECT_LT(rig.platform.keyboardIndex(), second);
}

}  // namespace
}  // namespace qk750
