#include "usb/programming_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "keys/device_image.h"
#include "usb/hid_platform_sim.h"

namespace qk750 {
namespace {

using TimePoint = std::chrono::steady_clock::time_point;
using Strings = std::vector<std::string>;

struct Failure {
    std::string code, detail, message;
    bool operator==(const Failure&) const = default;
    friend void PrintTo(const Failure& f, std::ostream* os) {
        *os << f.code << " / " << f.detail << " / " << f.message;
    }
};
using Failures = std::vector<Failure>;

// The simulated computer, its device list and the protocol on a clock that moves only
// when the protocol waits (1 ms steps), so runs take no real time and waits add up
// exactly. The rig is the reporter too, recording what the user would see.
struct Rig : ProtocolReporter, ProtocolWaits {
    explicit Rig(SimFaultPlan faults = {}, bool reuseIdentities = false)
        : platform({.otherInterfaces = true,
                    .clock = [this] { return TimePoint{} + std::chrono::milliseconds(nowMs); },
                    .faults = std::move(faults),
                    .reuseIdentities = reuseIdentities}),
          controller(platform, dispatcher),
          devices(controller, [this](const std::string& line) { trace.push_back(line); },
                  {[this](HidDevice&, const std::string& name) { status = "detected " + name; },
                   [this](HidDevice&, const std::string&) { status.clear(); }}),
          protocol(state, devices, *this, *this) {
        state.SetupFileName = "/tmp/shop.ini";
        dispatcher.processPending();  // the start-up pass fills the list
    }

    bool program(SetupRecord setup = {}) {
        setup.Mcr.McrDelay = 5;
        return protocol.ProgramKeyboard([&](DeviceImage& image, int& setupSize) {
            const ImageResult result = BuildDeviceImage(setup, image);
            setupSize = result.setupSize;
            return result.ok();
        });
    }
    SimFirmware& firmware() { return platform.firmware(); }

    void pumpedWait(int ms, const bool* stop) override {
        for (const long long end = nowMs + ms; nowMs < end && !(stop != nullptr && *stop);) {
            ++nowMs;
            processMessages();
        }
    }
    void processMessages() override {
        if (action && nowMs >= actionAtMs) {
            std::exchange(action, {})();
        }
        dispatcher.processPending();
    }
    void failure(std::string_view code, std::string_view detail,
                 std::string_view message) override {
        failures.push_back({std::string(code), std::string(detail), std::string(message)});
        EXPECT_FALSE(progressVisible) << "a failure is reported behind the progress window";
    }
    bool askToConnect(std::string_view message) override {
        questions.emplace_back(message);
        onQuestion();
        return answerOk;
    }
    void progressStart(int max) override { maximum = max; }
    void progressStep(int position, int) override {
        progressVisible = true;
        lastPosition = position;
    }
    void progressHide() override {
        progressVisible = false;
        ++hides;
    }

    long long nowMs = 0;
    long long actionAtMs = 0;  // when `action` runs, once
    std::function<void()> action, onQuestion = [] {};
    Failures failures;
    Strings questions, trace;
    std::string status;  // what the status bar says about the keyboard
    bool answerOk = true, progressVisible = false;
    int maximum = 0, lastPosition = 0, hides = 0;
    QueueDispatcher dispatcher;
    HidPlatformSim platform;
    HidController controller;
    DeviceList devices;
    ProgramState state;
    ProgrammingProtocol protocol;
};

TEST(ProgrammingProtocolTest, RequestCheckByteAndProgressPercent) {
    EXPECT_EQ(BuildRequest({'W', 0x07, 0xFF, 0x00, 0x00}),
              (FeatureReport{0x00, 0x57, 0x07, 0xFF, 0x00, 0x00, 0xAF}));
    EXPECT_EQ(ProgressPercent(2047, 2046), 100);  // the closing request lies above the maximum
    EXPECT_EQ(ProgressPercent(1, 359), 0);
}

TEST(ProgrammingProtocolTest, TheSetupSizeDecidesHowFarTheRunWrites) {
    struct Row {
        int stringBytes, setupSize;
        int maximum;  // the highest pair address, capped at 2046 from 1690 on
        int requests;
        SimFaultPlan plan;
        int msPerRequest;
    };
    // The 100 ms pause is the caller's; each request waits 6 ms. 14 stale replies are
    // polled 2 ms apart before the fresh one; a reply 20 ms late is there at the 8th poll.
    for (const Row& row :
         {Row{0, 1, 359, 181, {}, 6}, Row{0, 1, 359, 181, {14, 0, {}}, 6 + 14 * 2},
          Row{0, 1, 359, 181, {0, 20, {}}, 6 + 7 * 2}, Row{1688, 1689, 2047, 1025, {}, 6},
          Row{1689, 1690, 2046, 1025, {}, 6}, Row{kStringAreaCapacity, 1695, 2046, 1025, {}, 6}}) {
        SCOPED_TRACE(row.setupSize);
        // First-layer keys of plain letters: n letters take n + 1 bytes, and a one-byte
        // string would not be stored.
        SetupRecord setup;
        for (int key = 1, bytes = row.stringBytes; bytes > 0; ++key) {
            const int take = bytes == 49 || bytes == 50 ? 45 : std::min(bytes, 48);
            setup.KeyStrings[key] = std::string(static_cast<std::size_t>(take - 1), 'a');
            bytes -= take;
        }
        Rig rig(row.plan);
        ASSERT_TRUE(rig.program(setup));
        EXPECT_EQ(rig.protocol.setupSize(), row.setupSize);
        EXPECT_EQ(rig.maximum, row.maximum);
        EXPECT_EQ(rig.lastPosition, 2047);
        EXPECT_EQ(std::pair(rig.progressVisible, rig.hides), std::pair(false, 1));  // no flicker
        EXPECT_EQ(rig.firmware().requestsSeen(), row.requests);
        EXPECT_EQ(rig.nowMs, row.requests * row.msPerRequest);
        const DeviceImage& image = rig.protocol.image();
        const auto sent = static_cast<std::ptrdiff_t>(std::min(row.maximum + 1, 2047));
        EXPECT_TRUE(
            std::equal(image.begin(), image.begin() + sent, rig.firmware().memory().begin()));
    }
}

TEST(ProgrammingProtocolTest, ACheckByteErrorThatIsNotFreshIsOnlyAPoll) {
    Rig rig({0, 0, {{SimFaultKind::Crc, 0}}});
    ASSERT_TRUE(rig.protocol.FindKeyboard());
    FeatureReport reply{};
    EXPECT_FALSE(rig.protocol.SendRequest({'W', 0, 0, 0x00, 0x5A}, reply));
    EXPECT_EQ(rig.state.Globals.UsbStatus, kUsbCrcError);
    ASSERT_EQ(rig.trace.back(), "RD 00  45 43 00 00 5B 5D ");
    // The same "E" "C" reply, seen as the answer to a request with that byte 5, is stale.
    const auto before = rig.nowMs;
    EXPECT_FALSE(rig.protocol.WaitForReply(reply[5], reply));
    EXPECT_EQ(rig.state.Globals.UsbStatus, kUsbNoAnswer);
    EXPECT_EQ(rig.nowMs - before, 15 * 2);
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

TEST(ProgrammingProtocolTest, EachFailureIsReportedOnceAndEndsTheRun) {
    const auto at = [](SimFaultKind kind, std::uint16_t address) {
        return SimFaultPlan{0, 0, {{kind, address}}};
    };
    const struct {
        SimFaultPlan plan;
        std::uint8_t status;
        bool stored;  // the keyboard kept the failing request's data
        const char* code;
        const char* detail;  // null: the setup file name
        const char* message;
    } rows[] = {{at(SimFaultKind::Crc, 0x20), kUsbCrcError, false, "ERR_USB_CRC", nullptr,
                 "CRC Error in data to USB QK750! Check connection."},
                {at(SimFaultKind::Verify, 0x0008), kUsbVerifyError, false, "ERR_WRITE_VERIFY",
                 "Memory 0008 Written00 Read=FF",
                 "Verify error in data write to USB QK750\r\rMemory 0008 Written00 Read=FF"},
                {at(SimFaultKind::NoReply, 100), kUsbNoAnswer, true, "ERR_USB_RECEIVE", nullptr,
                 "Error receiving data from USB QK750 Memory #100 !!\r\r  Check connection."},
                {at(SimFaultKind::SendFail, 4), kUsbSendFailed, false, "ERR_USB_SEND", nullptr,
                 "Error sending data to USB QK750 !! Check connection."},
                {at(SimFaultKind::Unplug, 6), kUsbNoAnswer, true, "ERR_USB_RECEIVE", nullptr,
                 "Error receiving data from USB QK750 Memory #6 !!\r\r  Check connection."},
                {SimFaultPlan{15, 0, {}}, kUsbNoAnswer, true, "ERR_USB_RECEIVE", nullptr,
                 "Error receiving data from USB QK750 Memory #0 !!\r\r  Check connection."}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        Rig rig(row.plan);
        const std::uint16_t address = row.plan.faults.empty() ? 0 : row.plan.faults[0].address;
        SetupRecord setup;
        setup.KeyStrings[1] = "a";  // key 1's entry 00 04 lands at 0x008 and 0x009
        ASSERT_FALSE(rig.program(setup));
        EXPECT_EQ(rig.failures,
                  (Failures{{row.code, row.detail ? row.detail : "/tmp/shop.ini", row.message}}));
        EXPECT_EQ(rig.state.Globals.UsbStatus, row.status);
        EXPECT_FALSE(rig.progressVisible);
        // The fault fired, and nothing is sent after the failing request.
        EXPECT_EQ(rig.firmware().requestsSeen(), address / 2 + 1);
        EXPECT_EQ(std::pair(rig.firmware().faultFired(), rig.firmware().requestsAfterFailure()),
                  std::pair(!row.plan.faults.empty(), 0));
        // The verify fault stores the inverse of the written 00.
        EXPECT_EQ(rig.firmware().memory()[address],
                  row.stored ? rig.protocol.image()[address] : 0xFF);
    }
}

TEST(ProgrammingProtocolTest, StopWaitingEndsTheWaitAndAbortsTheRun) {
    Rig rig;
    rig.actionAtMs = 300;
    rig.action = [&] { rig.state.Globals.StopWaiting = true; };
    ASSERT_FALSE(rig.program());
    EXPECT_EQ(rig.failures, (Failures{{"ERR_USER_ABORT", "/tmp/shop.ini",
                                       "User Abort!! Not all data was programmed !!!"}}));
    EXPECT_EQ(rig.state.Globals.UsbStatus, kUsbAborted);
    EXPECT_EQ(rig.firmware().requestsSeen(), 50);  // the 50th request was waiting at 300 ms

    for (const int stopAt : {30, 1000}) {
        Rig paused;
        paused.actionAtMs = stopAt;
        paused.action = [&] { paused.state.Globals.StopWaiting = true; };
        paused.protocol.PauseBeforeProgramming();
        EXPECT_EQ(paused.nowMs, std::min(stopAt, 100));
    }
}

TEST(ProgrammingProtocolTest, MissingKeyboardSearches) {
    const struct {
        bool batch, answerOk, plugAtFirstQuestion;
        std::size_t questions;
    } rows[] = {{true, true, false, 0},    // batch: reported at once
                {false, true, false, 4},   // four searches, then silence
                {false, false, false, 1},  // cancelled
                {false, true, true, 1}};   // plugged while asked: programmed
    for (const auto& row : rows) {
        SCOPED_TRACE(row.questions);
        Rig rig;
        rig.platform.unplug(rig.platform.keyboardIndex());
        rig.dispatcher.processPending();  // left: the model-named decoy and a nameless device
        rig.state.BatchMode = row.batch;
        rig.answerOk = row.answerOk;
        if (row.plugAtFirstQuestion) {
            rig.onQuestion = [&] {
                // The question's own event loop handles the arrival.
                rig.platform.plug(rig.platform.keyboardIndex());
                rig.dispatcher.processPending();
            };
        }
        EXPECT_EQ(rig.program(), row.plugAtFirstQuestion);
        Strings asked(row.questions,
                      "USB QK750 not found.\r\rConnect USB QK750 to USB Port and try again.");
        if (!asked.empty()) {
            asked[0] =
                "Make sure USB QK750 is connected, \rand press OK to start programming...  "
                "                  ";
        }
        EXPECT_EQ(rig.questions, asked);
        EXPECT_EQ(rig.failures, (row.batch ? Failures{{"ERR_USB_KBD_NOT_CONNECTED", "/tmp/shop.ini",
                                                       "USB QK750 not found."}}
                                           : Failures()));
        // Unless plugged, the search went past every entry and left nothing selected.
        EXPECT_EQ(rig.devices.currentDevice() != nullptr, row.plugAtFirstQuestion);
        EXPECT_EQ(rig.firmware().requestsSeen() > 0, row.plugAtFirstQuestion);
    }
}

TEST(ProgrammingProtocolTest, TheFirstKeyboardIsProgrammedAndARebuiltListLeavesNone) {
    Rig rig;
    const std::size_t second = rig.platform.addDevice(HidPlatformSim::keyboardConfig());
    rig.dispatcher.processPending();
    ASSERT_TRUE(rig.program());
    // The decoy (feature length 8) is listed first and skipped; the first real keyboard
    // is selected and stays selected.
    EXPECT_EQ(rig.devices.selectedIndex(), 1);
    EXPECT_LT(rig.platform.keyboardIndex(), second);
    // Another device arrives while the 11th reply is awaited: the rebuild clears the selection.
    rig.actionAtMs = rig.nowMs + 61;
    rig.action = [&] { rig.platform.addDevice(HidPlatformSim::namelessConfig()); };
    rig.state.BatchMode = true;
    ASSERT_FALSE(rig.program());
    EXPECT_EQ(
        rig.failures,
        (Failures{{"ERR_USB_RECEIVE", "/tmp/shop.ini",
                   "Error receiving data from USB QK750 Memory #20 !!\r\r  Check connection."}}));
    EXPECT_EQ(rig.devices.currentDevice(), nullptr);
}

// Gone and back before the list hears of it. Where the system gives the keyboard its old
// identity and path (Windows, on the same port), the list sees no change at all, and the
// next run must still reach the keyboard that is there now.
TEST(ProgrammingProtocolTest, AKeyboardRepluggedBetweenRunsIsProgrammed) {
    for (const bool reuse : {false, true}) {
        SCOPED_TRACE(reuse);
        Rig rig({}, reuse);
        ASSERT_TRUE(rig.program());
        const std::string before = rig.devices.device(1)->PnPInfo().DevicePath();
        int reports = 0;
        const auto reportRead = [&rig, &reports] {
            rig.platform.pushInputReport(rig.platform.keyboardIndex(),
                                         std::vector<std::uint8_t>(9));
            const int before = reports;
            for (int i = 0; i < 100 && reports == before; ++i) {  // read errors come meanwhile
                rig.dispatcher.waitForPending(std::chrono::milliseconds(50));
                rig.dispatcher.processPending();
            }
        };
        rig.devices.currentDevice()->SetOnData([&reports](HidDevice&, std::uint8_t,
                                                          const std::uint8_t*,
                                                          std::uint16_t) { ++reports; });
        reportRead();  // the reader has its handle
        rig.platform.unplug(rig.platform.keyboardIndex());
        rig.platform.plug(rig.platform.keyboardIndex());
        rig.dispatcher.processPending();
        EXPECT_EQ(rig.devices.device(1)->PnPInfo().DevicePath() == before, reuse);
        if (reuse) {  // the list saw nothing: the reader's handle failed, and it opens anew
            reportRead();
            EXPECT_EQ(reports, 2);
        }
        EXPECT_TRUE(rig.program());
        // Gone, and back with no word of it: the run looks for itself.
        rig.platform.unplug(rig.platform.keyboardIndex());
        rig.dispatcher.processPending();
        rig.platform.setChangeListener(nullptr);
        rig.platform.plug(rig.platform.keyboardIndex());
        EXPECT_TRUE(rig.program());
        EXPECT_TRUE(rig.questions.empty());
    }
}

TEST(DeviceListTest, SelectionMovesTheReaderAndUnplugRebuildsTheList) {
    Rig rig;
    EXPECT_EQ(rig.platform.openHandles(), 0);  // only the selected device holds handles
    EXPECT_EQ(rig.status, "detected ZQ QK750 USB Keyboard");
    EXPECT_EQ(rig.devices.selectedIndex(), -1);
    rig.trace.clear();
    rig.devices.select(1);
    HidDevice* keyboard = rig.devices.device(1);
    EXPECT_EQ(rig.devices.currentDevice(), keyboard);
    EXPECT_TRUE(keyboard->IsReading());
    keyboard->SetNumInputBuffers(64);
    EXPECT_EQ(keyboard->NumInputBuffers(), 64u);
    EXPECT_TRUE(keyboard->OnData() == rig.devices.ShowRead());
    // The nameless device's reads fail; its reader retries only after 10 s.
    rig.platform.setReadError(rig.platform.keyboardIndex() + 1, HidPlatformSim::kErrorNoDevice);
    rig.devices.device(2)->SetThreadSleepTime(10000);
    rig.devices.select(2);
    EXPECT_EQ(rig.devices.currentDevice(), rig.devices.device(2));
    EXPECT_FALSE(keyboard->IsReading());
    EXPECT_FALSE(keyboard->OnData());
    ASSERT_TRUE(rig.dispatcher.waitForPending(std::chrono::seconds(10)));
    rig.dispatcher.processPending();
    rig.devices.select(3);  // past the end: nothing selected
    EXPECT_EQ(rig.devices.selectedIndex(), -1);
    EXPECT_EQ(rig.devices.currentDevice(), nullptr);
    EXPECT_EQ(rig.platform.openHandles(), 0);
#ifdef _WIN32
    const char* readError = "READ ERROR: No such device (48F)";  // ERROR_DEVICE_NOT_CONNECTED
#else
    const char* readError = "READ ERROR: No such device (13)";  // ENODEV
#endif
    EXPECT_EQ(rig.trace, (Strings{"Selection of ZQ QK750 USB Keyboard",
                                  "Selection of Device VID=1234 PID=ABCD", readError}));

    rig.devices.select(1);
    HidDevice* first = rig.devices.device(0);
    rig.platform.unplug(rig.platform.keyboardIndex());
    rig.dispatcher.processPending();
    ASSERT_EQ(rig.devices.count(), 2);
    EXPECT_EQ(rig.devices.name(1), "Device VID=1234 PID=ABCD");
    EXPECT_EQ(rig.devices.currentDevice(), nullptr);
    EXPECT_TRUE(rig.status.empty());
    EXPECT_EQ(rig.trace.back(), "Removal of ZQ QK750 USB Keyboard");
    EXPECT_NE(rig.devices.device(0), first);  // every entry was released and claimed afresh
    EXPECT_EQ(rig.controller.count(), 2u);
}

TEST(ListDevices, PrintsTheListThenWhatCouldNotBeOpened) {
    HidPlatformSim none({false, {}, {}});
    none.unplug(none.keyboardIndex());
    std::ostringstream nothing, quiet;
    ListDevices(none, false, nothing, quiet);
    EXPECT_EQ(nothing.str() + quiet.str(), "No HID devices found.\n");

    // "QK750" in the name, matched case-sensitively, and a 7-byte feature report make the
    // keyboard; names are 8-bit text.
    HidPlatformSim sim;
    for (const auto& [product, vid] :
         {std::pair{u"qk750 k\u00E9y \u0100", 1}, {u"Till QK750", 1}}) {
        SimDeviceConfig config = HidPlatformSim::keyboardConfig();
        config.productString = product;
        config.attributes = {static_cast<std::uint16_t>(vid), 0xF0, 0};
        sim.addDevice(config);
    }
    SimDeviceConfig locked = HidPlatformSim::namelessConfig();
    locked.readWriteOpenError = locked.queryOpenError = HidPlatformSim::kErrorAccessDenied;
    sim.addDevice(locked);
    std::ostringstream out, err;
    ListDevices(sim, true, out, err);
    EXPECT_EQ(out.str(),
              "0: ZQ QK750 Service Interface  VID=2F0A PID=0751 feature=8 input=3\n"
              "1: ZQ QK750 USB Keyboard  VID=2F0A PID=0750 feature=7 input=9 [keyboard]\n"
              "2: Device VID=1234 PID=ABCD  VID=1234 PID=ABCD feature=0 input=5\n"
              "3: qk750 k\xE9y ?  VID=0001 PID=00F0 feature=7 input=9\n"
              "4: Till QK750  VID=0001 PID=00F0 feature=7 input=9 [keyboard]\n"
              "-: sim:5:6  device cannot be opened: Permission denied - no permission to open "
              "it, see 'Access to the keyboard' in the README\n");
    EXPECT_NE(err.str().find("Arrival of ZQ QK750 USB Keyboard\n"), std::string::npos);
    std::ostringstream untraced;
    ListDevices(sim, false, out, untraced);
    EXPECT_EQ(untraced.str(), "");
}

}  // namespace
}  // namespace qk750
