#include "usb/device_list.h"

#include <gtest/gtest.h>

#include <sstream>

#include "usb/hid_platform_sim.h"

namespace qk750 {
namespace {

using Strings = std::vector<std::string>;

struct DeviceListTest : ::testing::Test {
    HidPlatformSim sim;
    QueueDispatcher dispatcher;
    HidController controller{sim, dispatcher};
    Strings trace;
    std::string status;
    DeviceList list{controller,
                    [this](const std::string& line) { trace.push_back(line); },
                    {[this](HidDevice&, const std::string& name) { status = "detected " + name; },
                     [this](HidDevice&, const std::string&) { status.clear(); }}};
};

TEST_F(DeviceListTest, SelectionMovesTheReaderAndUnplugRebuildsTheList) {
    dispatcher.processPending();
    EXPECT_EQ(status, "detected ZQ QK750 USB Keyboard");
    EXPECT_EQ(list.selectedIndex(), -1);
    trace.clear();
    list.select(1);
    HidDevice* keyboard = list.device(1);
    EXPECT_EQ(list.currentDevice(), keyboard);
    EXPECT_TRUE(keyboard->IsReading());
    EXPECT_TRUE(keyboard->OnData() == list.ShowRead());
    // The nameless device's reads fail; its reader retries only after 10 s.
    sim.setReadError(sim.keyboardIndex() + 1, HidPlatformSim::kErrorNoDevice);
    list.device(2)->SetThreadSleepTime(10000);
    list.select(2);
    EXPECT_EQ(list.currentDevice(), list.device(2));
    EXPECT_FALSE(keyboard->IsReading());
    EXPECT_FALSE(keyboard->OnData());
    ASSERT_TRUE(dispatcher.waitForPending(std::chrono::seconds(10)));
    dispatcher.processPending();
    list.select(3);  // past the end: nothing selected
    EXPECT_EQ(list.selectedIndex(), -1);
    EXPECT_EQ(list.currentDevice(), nullptr);
#ifdef _WIN32
    const char* readError = "READ ERROR: No such device (48F)";  // ERROR_DEVICE_NOT_CONNECTED
#else
    const char* readError = "READ ERROR: No such device (13)";  // ENODEV
#endif
    EXPECT_EQ(trace, (Strings{"Selection of ZQ QK750 USB Keyboard",
                              "Selection of Device VID=1234 PID=ABCD", readError}));

    list.select(1);
    HidDevice* first = list.device(0);
    sim.unplug(sim.keyboardIndex());
    dispatcher.processPending();
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.name(1), "Device VID=1234 PID=ABCD");
    EXPECT_EQ(list.currentDevice(), nullptr);
    EXPECT_TRUE(status.empty());
    EXPECT_EQ(trace.back(), "Removal of ZQ QK750 USB Keyboard");
    EXPECT_NE(list.device(0), first);  // every entry was released and claimed afresh
    EXPECT_EQ(controller.count(), 2u);
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
         {std::pair{u"qk750 k\u00E9y \u20AC", 1}, {u"Till QK750", 1}}) {
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
}

}  // namespace
}  // namespace qk750
