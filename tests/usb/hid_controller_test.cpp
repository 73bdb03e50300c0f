#include "usb/hid_controller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "usb/hid_platform_sim.h"

namespace qk750 {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

// Long enough never to be reached by a working reader; only a broken one waits it out.
constexpr auto kReaderGuard = 10s;

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

    // The start-up pass, then a fresh event record.
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

    // Gives a claimed device back through the controller.
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
    EXPECT_FALSE(controller->device(1)->IsClaimed() || controller->device(1)->IsAccessible());
    events.clear();
    HidDevice* first = controller->device(0);
    HidDevice* keyboard = claimAt(1);
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
    std::uint8_t buffer[7] = {};
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

TEST_F(ControllerTest, ReleasePutsAFreshUnclaimedObjectInPlace) {
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

    // A device that cannot be opened again loses its entry.
    keyboard = claimAt(1);
    sim.setOpenErrors(sim.keyboardIndex(), HidPlatformSim::kErrorAccessDenied,
                      HidPlatformSim::kErrorAccessDenied);
    giveBack(keyboard);
    ASSERT_EQ(controller->count(), 2u);
    EXPECT_NE(instance(0), instance(1));
}

TEST_F(ControllerTest, OnlyClaimedObjectsTouchTheDeviceAndEachIsClaimedOnce) {
    start();
    HidDevice* keyboard = controller->device(1);
    const int opens = sim.openCount();
    std::uint8_t buffer[7] = {};
    EXPECT_FALSE(keyboard->GetFeature(buffer, sizeof buffer) ||
                 keyboard->SetFeature(buffer, sizeof buffer));
    EXPECT_TRUE(keyboard->ProductName().empty());  // never read while inaccessible
    EXPECT_EQ(sim.openCount(), opens);
    EXPECT_EQ(sim.featureTransfers(), 0);
    HidDevice* d = claimAt(0);
    EXPECT_FALSE(controller->ClaimDeviceAt(d, 0));
    EXPECT_EQ(d, nullptr);
    EXPECT_FALSE(controller->ClaimDeviceAt(d, 3));
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

    const std::vector<std::uint8_t> press{0, 0x02, 0, 0x04, 0, 0, 0, 0, 0};
    sim.pushInputReport(sim.keyboardIndex(), press);
    sim.pushInputReport(sim.keyboardIndex(), std::vector<std::uint8_t>(9, 0));
    while (seen.size() < 2) {
        ASSERT_TRUE(dispatcher.waitForPending(kReaderGuard));
        dispatcher.processPending();
    }
    EXPECT_EQ(seen[0], press);
    EXPECT_EQ(seen[1].size(), 9u);
}

TEST_F(ControllerTest, StoppingAReaderThatWaitsForItsHandlerDoesNotDeadlock) {
    start();
    HidDevice* keyboard = claimAt(1);
    int delivered = 0;
    keyboard->SetOnData(
        [&](HidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t) { ++delivered; });
    sim.pushInputReport(sim.keyboardIndex(), {0, 1, 2, 3, 4, 5, 6, 7, 8});
    // The reader has handed the report over and now waits for the handler to run.
    ASSERT_TRUE(dispatcher.waitForPending(kReaderGuard));
    keyboard->SetOnData({});  // the stop runs the handler the reader waits for
    EXPECT_FALSE(keyboard->IsReading());
    EXPECT_EQ(delivered, 1);
    dispatcher.processPending();  // the queued copy does not run it twice
    EXPECT_EQ(delivered, 1);
}

TEST_F(ControllerTest, ClaimedObjectsOutliveTheControllerAndItsPostedNotifications) {
    start();
    HidDevice* keyboard = claimAt(1);
    int unplugCalls = 0;
    keyboard->SetOnUnplug([&](HidDevice&) { ++unplugCalls; });
    keyboard->SetOnData(kIgnoreData);
    sim.unplug(0);  // its notification is still queued when the controller goes
    controller.reset();
    EXPECT_EQ(unplugCalls, 1);
    EXPECT_EQ(keyboard->Controller(), nullptr);
    EXPECT_FALSE(keyboard->IsReading());
    dispatcher.processPending();
    EXPECT_TRUE(events.empty());
    std::erase(claimed, keyboard);
    keyboard->release();
}

}  // namespace
}  // namespace qk750
