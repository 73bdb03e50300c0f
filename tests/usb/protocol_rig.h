#pragma once

// The programming protocol on a virtual clock: the simulated computer, the controller and
// its device list, a reporter that records what the user would see, and waits that move
// time only when the protocol waits.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "keys/device_image.h"
#include "setup/program_state.h"
#include "usb/device_list.h"
#include "usb/hid_controller.h"
#include "usb/hid_platform_sim.h"
#include "usb/programming_protocol.h"

namespace qk750::test {

using TimePoint = std::chrono::steady_clock::time_point;
using std::chrono::milliseconds;

// Time that moves only when the protocol waits, so a whole run takes no real time and
// the waits it makes can be counted exactly.
class VirtualWaits : public ProtocolWaits {
public:
    explicit VirtualWaits(UiDispatcher& dispatcher) : m_dispatcher(dispatcher) {}

    TimePoint now() const { return m_now; }
    long long elapsedMs() const {
        return std::chrono::duration_cast<milliseconds>(m_now - TimePoint{}).count();
    }
    // Runs action once virtual time reaches `at` (from the start).
    void at(milliseconds when, std::function<void()> action) {
        m_actions.emplace(TimePoint{} + when, std::move(action));
    }

    void pumpedWait(int ms, const bool* stop) override {
        const TimePoint deadline = m_now + milliseconds(ms);
        for (;;) {
            processMessages();
            if ((stop != nullptr && *stop) || m_now >= deadline) {
                return;
            }
            TimePoint next = deadline;
            if (!m_actions.empty() && m_actions.begin()->first < next) {
                next = m_actions.begin()->first;
            }
            m_now = next;
        }
    }

    void processMessages() override {
        while (!m_actions.empty() && m_actions.begin()->first <= m_now) {
            auto action = std::move(m_actions.begin()->second);
            m_actions.erase(m_actions.begin());
            action();
        }
        m_dispatcher.processPending();
    }

private:
    UiDispatcher& m_dispatcher;
    TimePoint m_now{};
    std::multimap<TimePoint, std::function<void()>> m_actions;
};

struct Failure {
    std::string code;
    std::string detail;
    std::string message;
};

class RecordingReporter : public ProtocolReporter {
public:
    void failure(std::string_view code, std::string_view detail,
                 std::string_view message) override {
        failures.push_back({std::string(code), std::string(detail), std::string(message)});
        EXPECT_FALSE(progressVisible) << "a failure is reported behind the progress window";
    }
    bool askToConnect(std::string_view message) override {
        questions.emplace_back(message);
        if (onQuestion) {
            onQuestion();
        }
        return answerOk;
    }
    void progressStart(int maximum) override { this->maximum = maximum; }
    void progressStep(int position, int) override {
        progressVisible = true;
        lastPosition = position;
    }
    void progressHide() override { progressVisible = false; }

    std::vector<Failure> failures;
    std::vector<std::string> questions;
    std::function<void()> onQuestion;
    bool answerOk = true;
    int maximum = 0;
    int lastPosition = 0;
    bool progressVisible = false;
};

// The simulated computer, the controller and its device list, and the protocol, all on
// virtual time.
struct Rig {
    explicit Rig(SimFaultPlan faults = {})
        : platform({.otherInterfaces = true,
                    .clock = [this] { return waits.now(); },
                    .faults = std::move(faults)}),
          controller(platform, dispatcher),
          devices(controller, [this](const std::string& line) { trace.push_back(line); }),
          protocol(state, devices, reporter, waits) {
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

    QueueDispatcher dispatcher;
    VirtualWaits waits{dispatcher};
    HidPlatformSim platform;
    HidController controller;
    DeviceList devices;
    std::vector<std::string> trace;
    RecordingReporter reporter;
    ProgramState state;
    ProgrammingProtocol protocol;
};

}  // namespace qk750::test
