#include "usb/hid_controller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "usb/hid_platform_sim.h"

namespace qk750 {
namespace {

using Strings = std::vector<std::string>;

// Long enough never to be reached by a working reader; only a broken one waits it out.
constexpr std::chrono::seconds kReaderGuard{10};

// A claimed device reads only while it has a data handler.
const HidDataEvent kIgnoreData([](HidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t) {});

// The simulated computer: a service interface, the keyboard (index 1) and a nameless device.
class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        controller = std::make_unique<HidController>(sim, dispatcher);
        controller->SetOnArrival([this](HidDevice& d) {
            events.push_back("arrival " + d.PnPInfo().DeviceInstance());
            EXPECT_TRUE(d.IsAnnouncing());
            EXPECT_TRUE(d.IsAccessible());
        });
        controller->SetOnRemoval([this](HidDevice& d) {
            events.push_back("removal " + d.PnPInfo().DeviceInstance());
            EXPECT_FALSE(d.IsPluggedIn());
        });
        controller->BeginLoading();
        controller->SetOnDeviceChange([this](HidController&) { events.push_back("change"); });
        controller->EndLoading();
    }

    void TearDown() override {
        // Release claims before the controller goes, as the program does.
        for (HidDevice* d : claimed) {
            d->release();
        }
    }

    void start() {
        dispatcher.processPending();
        events.clear();
    }

    HidDevice* claimAt(std::size_t index) {
        HidDevice* d = nullptr;
        EXPECT_TRUE(controller->ClaimDeviceAt(d, index));
        claimed.push_back(d);
        return d;
    }

    void giveBack(HidDevice* d) {
        std::erase(claimed, d);
        controller->release(d);
    }

    std::string instance(std::size_t index) const {
        return controller->device(index)->PnPInfo().DeviceInstance();
    }

    HidPlatformSim sim;
    QueueDispatcher dispatcher;
    std::unique_ptr<HidController> controller;
    Strings events;
    std::vector<HidDevice*> claimed;
};

TEST_F(ControllerTest, UnplugDropsUnclaimedDevicesAndKeepsClaimedOnesUntilReleased) {
    EXPECT_EQ(controller->count(), 0u);  // only the posted pass enumerates
    dispatcher.processPending();
    ASSERT_EQ(controller->count(), 3u);
    EXPECT_EQ(events, (Strings{"arrival " + instance(0), "arrival " + instance(1),
                               "arrival " + instance(2), "change"}));
    // Unclaimed objects never touch the device.
    EXPECT_FALSE(controller->device(1)->IsClaimed() || controller->device(1)->IsAccessible());
    const int opens = sim.openCount();
    std::uint8_t buffer[7] = {};
    EXPECT_FALSE(controller->device(1)->GetFeature(buffer, sizeof buffer) ||
                 controller->device(1)->SetFeature(buffer, sizeof buffer));
    EXPECT_TRUE(controller->device(1)->ProductName().empty());
    EXPECT_EQ(sim.openCount(), opens);
    EXPECT_EQ(sim.featureTransfers(), 0);
    events.clear();
    HidDevice* first = controller->device(0);
    HidDevice* keyboard = claimAt(1);
    HidDevice* again = nullptr;  // each is claimed once
    EXPECT_FALSE(controller->ClaimDeviceAt(again, 1) || controller->ClaimDeviceAt(again, 3));
    EXPECT_EQ(again, nullptr);
    int unplugCalls = 0;
    keyboard->SetOnUnplug([&](HidDevice& d) {
        EXPECT_EQ(&d, keyboard);
        ++unplugCalls;
    });
    keyboard->SetOnData(kIgnoreData);
    ASSERT_TRUE(keyboard->IsReading());
    const std::string gone = instance(1), nameless = instance(2);
    sim.unplug(sim.keyboardIndex());
    sim.unplug(sim.keyboardIndex() + 1);
    dispatcher.processPending();
    EXPECT_EQ(unplugCalls, 1);
    EXPECT_FALSE(keyboard->IsPluggedIn() || keyboard->IsReading());
    EXPECT_FALSE(keyboard->GetFeature(buffer, sizeof buffer));
    ASSERT_EQ(controller->count(), 2u);  // the nameless device went at once
    // Later passes without a change raise nothing: no second removal, the objects kept.
    sim.notifyChange();
    dispatcher.processPending();
    EXPECT_EQ(unplugCalls, 1);
    EXPECT_EQ(controller->device(0), first);

    giveBack(keyboard);
    EXPECT_EQ(controller->count(), 1u);
    sim.plug(sim.keyboardIndex());  // back, as a new instance
    dispatcher.processPending();
    ASSERT_EQ(controller->count(), 2u);
    EXPECT_NE(instance(1), gone);
    EXPECT_EQ(events, (Strings{"removal " + nameless, "removal " + gone, "change",
                               "arrival " + instance(1), "change"}));
}

TEST_F(ControllerTest, ReleasePutsAFreshObjectInPlaceAndClaimsOutliveTheController) {
    start();
    HidDevice* keyboard = claimAt(1);
    keyboard->SetOnData(kIgnoreData);
    keyboard->SetThreadSleepTime(250);
    const std::string identity = keyboard->PnPInfo().DeviceInstance();

    giveBack(keyboard);
    ASSERT_EQ(controller->count(), 3u);
    HidDevice* fresh = controller->device(1);
    EXPECT_EQ(fresh->PnPInfo().DeviceInstance(), identity);
    EXPECT_FALSE(fresh->IsClaimed());
    EXPECT_FALSE(fresh->IsReading());  // unclaimed objects never read
    EXPECT_TRUE(fresh->OnData() == kIgnoreData);
    EXPECT_EQ(fresh->ThreadSleepTime(), 250u);

    // One that can be queried but not written keeps its entry, without read/write access.
    keyboard = claimAt(1);
    sim.setOpenErrors(sim.keyboardIndex(), HidPlatformSim::kErrorAccessDenied, 0);
    giveBack(keyboard);
    ASSERT_EQ(controller->count(), 3u);
    EXPECT_FALSE(controller->device(1)->HasReadWriteAccess());

    // A device that cannot be opened again loses its entry.
    keyboard = claimAt(1);
    sim.setOpenErrors(sim.keyboardIndex(), HidPlatformSim::kErrorAccessDenied,
                      HidPlatformSim::kErrorAccessDenied);
    giveBack(keyboard);
    ASSERT_EQ(controller->count(), 2u);
    EXPECT_NE(instance(0), instance(1));

    keyboard = claimAt(0);
    int unplugCalls = 0;
    keyboard->SetOnUnplug([&](HidDevice&) { ++unplugCalls; });
    sim.unplug(sim.keyboardIndex() +
               1);  // its notification is still queued when the controller goes
    const std::size_t seen = events.size();
    controller.reset();
    EXPECT_EQ(unplugCalls, 1);
    EXPECT_EQ(keyboard->Controller(), nullptr);
    EXPECT_FALSE(keyboard->IsReading());
    dispatcher.processPending();
    EXPECT_EQ(events.size(), seen);
}

TEST_F(ControllerTest, NewHandlersReachOnlyDevicesStillUsingTheOldOnes) {
    start();
    const HidPlugEvent own([](HidDevice&) {});
    controller->device(0)->SetOnUnplug(own);
    // The reader's pause stays within 10 ms to 10 s; outside it, 100 ms, or the last value.
    HidDevice* d = controller->device(1);
    for (const auto& [asked, expected] :
         {std::pair{9u, 100u}, {10u, 10u}, {10001u, 10u}, {10000u, 10000u}, {0u, 10000u}}) {
        d->SetThreadSleepTime(asked);
        EXPECT_EQ(d->ThreadSleepTime(), expected) << asked;
    }
    d->SetThreadSleepTime(300);

    const HidPlugEvent unplug([](HidDevice&) {});
    controller->SetOnDeviceUnplug(unplug);
    controller->SetOnDeviceData(kIgnoreData);
    controller->SetDevThreadSleepTime(50);
    EXPECT_TRUE(controller->device(0)->OnUnplug() == own);
    EXPECT_TRUE(controller->device(1)->OnUnplug() == unplug);
    EXPECT_TRUE(controller->device(2)->OnData() == kIgnoreData);
    EXPECT_EQ(controller->device(0)->ThreadSleepTime(), 50u);
    EXPECT_EQ(controller->device(1)->ThreadSleepTime(), 300u);

    // Newly found devices take the controller's handlers, but start at 100 ms.
    sim.addDevice(HidPlatformSim::namelessConfig());
    dispatcher.processPending();
    EXPECT_TRUE(controller->device(3)->OnData() == kIgnoreData);
    EXPECT_EQ(controller->device(3)->ThreadSleepTime(), 100u);
}

TEST_F(ControllerTest, ChangeDuringAPassIsHandledAfterIt) {
    bool added = false;
    controller->SetOnArrival([&](HidDevice&) {
        if (!std::exchange(added, true)) {
            sim.addDevice(HidPlatformSim::namelessConfig());
            dispatcher.processPending();  // a handler that processes events
        }
    });
    dispatcher.processPending();
    EXPECT_EQ(controller->count(), 4u);
    EXPECT_EQ(events, (Strings{"change", "change"}));
}

TEST_F(ControllerTest, ReaderDeliversReportsOnTheDispatcherThread) {
    start();
    HidDevice* keyboard = claimAt(1);
    std::vector<std::vector<std::uint8_t>> seen;
    const auto uiThread = std::this_thread::get_id();
    keyboard->SetOnData(
        [&](HidDevice& d, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
            EXPECT_EQ(&d, keyboard);
            EXPECT_EQ(std::this_thread::get_id(), uiThread);
            std::vector<std::uint8_t> report{id};
            report.insert(report.end(), data, data + size);
            seen.push_back(report);
        });
    ASSERT_TRUE(keyboard->IsReading());

    const std::vector<std::uint8_t> press{0, 0x02, 0, 0x04, 0, 0, 0, 0, 0}, zeros(9, 0);
    sim.pushInputReport(sim.keyboardIndex(), press);
    sim.pushInputReport(sim.keyboardIndex(), zeros);
    while (seen.size() < 2) {
        ASSERT_TRUE(dispatcher.waitForPending(kReaderGuard));
        dispatcher.processPending();
    }
    // Stopping a reader that has handed a report over and waits for its handler runs the
    // handler there rather than deadlock; the queued copy does not run it twice.
    sim.pushInputReport(sim.keyboardIndex(), press);
    ASSERT_TRUE(dispatcher.waitForPending(kReaderGuard));
    keyboard->SetOnData({});
    EXPECT_FALSE(keyboard->IsReading());
    EXPECT_EQ(seen.size(), 3u);
    dispatcher.processPending();
    EXPECT_EQ(seen, (std::vector{press, zeros, press}));
}

}  // namespace
}  // namespace qk750
