#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/programming_run.h"
#include "setup/program_state.h"
#include "usb/device_list.h"
#include "usb/programming_protocol.h"
#include "usb/protocol_ports.h"
#include "usb/sim_firmware.h"

namespace qk750 {

inline constexpr std::string_view kRollOutLogName = "QK750.LOG";

// One keyboard of a roll-out: its number (from 1), the outcome file's two lines for it,
// the failure's text as a box would show it (empty when OK), and the seconds from its
// arrival to its report.
struct KeyboardOutcome {
    int number = 0;
    std::string code;
    std::string detail;
    std::string message;
    double seconds = 0;
    bool ok() const;
};

// The log's line for a keyboard, without its line end: local time, number, code, detail
// and seconds with two decimals, separated by tabs. A tab or line end inside the detail
// would break the columns and becomes a blank.
std::string RollOutLogLine(const std::tm& localTime, const KeyboardOutcome& outcome);

// QK750.LOG in the setup file's folder (the current folder for a bare file name).
std::string RollOutLogPath(const std::string& setupFileName);

// A message box's text on one line: its carriage returns and the blanks around them
// become one blank.
std::string OneLine(std::string_view message);

// The roll-out's log: appended to, never rewritten, and every line is on the disk before
// the next keyboard is programmed, so a power cut loses at most the keyboard in progress.
class RollOutLog {
public:
    RollOutLog() = default;
    ~RollOutLog();
    RollOutLog(const RollOutLog&) = delete;
    RollOutLog& operator=(const RollOutLog&) = delete;

    // False with the system's reason in error.
    bool open(const std::string& path, std::string& error);
    bool append(const std::string& line, std::string& error);

private:
    std::FILE* m_file = nullptr;
};

// What happens around the keyboards, for the person at the station (or the simulated
// keyboard, which stands in for both the keyboards and that person).
struct RollOutEvents {
    // Keyboard k is awaited; the simulation plugs a new one in.
    std::function<void(int k)> nextKeyboard;
    // None is there: "Plug in the next keyboard".
    std::function<void(int k)> waitingForKeyboard;
    // Keyboard k arrived and is being programmed.
    std::function<void(int k)> programming;
    // Keyboard k's outcome, once it is in the log; last: no keyboard follows it.
    std::function<void(const KeyboardOutcome& outcome, bool last)> reported;
    // Keyboard k is to be unplugged: "Unplug the keyboard"; the simulation unplugs it.
    std::function<void(int k)> unplugKeyboard;
};

// Both sets of events, the first's before the second's.
RollOutEvents combine(RollOutEvents first, RollOutEvents second);

class HidPlatformSim;

// The simulated keyboard at a roll-out station, standing in for each new keyboard and for
// the person who plugs them in and out: keyboard k is a new one (memory erased, its own
// fault plan), and with a memory file its memory is written to MEMORY_FILE.k once it is
// reported. The keyboard that was plugged in before comes back afterwards, as it was.
class SimulatedStation {
public:
    SimulatedStation(HidPlatformSim& simulation, std::string memoryFile,
                     std::function<void(const std::string& error)> writeFailed);
    ~SimulatedStation();
    SimulatedStation(const SimulatedStation&) = delete;
    SimulatedStation& operator=(const SimulatedStation&) = delete;

    RollOutEvents events();

private:
    HidPlatformSim& m_simulation;
    std::string m_memoryFile;
    std::function<void(const std::string&)> m_writeFailed;
    std::array<std::uint8_t, SimFirmware::kMemorySize> m_memoryBefore{};
    SimFaultPlan m_planBefore;
};

struct RollOutResult {
    int programmed = 0;
    int failed = 0;
    // The setup did not compile: reported as a programming run reports it, no keyboard
    // touched.
    bool setupFailed = false;
    // Why the log could not be written; the roll-out stopped there.
    std::string logError;

    // 0 only when at least one keyboard was programmed and every one was OK.
    int exitCode() const;
};

// Programs every QK750 plugged in, one after another: waits for one to arrive (one
// already there counts), programs and verifies it exactly as a single run does, logs and
// reports it, and waits until it is unplugged before accepting the next. StopWaiting
// (Ctrl+C, Stop, closing the window) ends it; a keyboard in progress then ends as a run
// ends on a close, with "ERR_USER_ABORT".
class RollOut : private ProtocolReporter {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // setupReporter reports a setup that does not compile, as a programming run would;
    // progress shows each keyboard's progress (only its progress calls are used).
    RollOut(ProgramState& state, DeviceList& devices, ProtocolWaits& waits,
            ProtocolReporter& setupReporter, ProtocolReporter& progress, ProgrammingHooks hooks,
            RollOutEvents events, Clock clock = {});

    // Whether the setup compiles; when not, setupReporter has said why. run() checks it
    // first too.
    bool setupCompiles();
    // Ends after `count` keyboards (0: when stopped), or when stopped.
    RollOutResult run(int count);

private:
    // ProtocolReporter: a keyboard's first failure is kept for its report; progress is
    // passed on.
    void failure(std::string_view code, std::string_view detail, std::string_view message) override;
    bool askToConnect(std::string_view message) override;
    void progressStart(int maximum) override { m_progress.progressStart(maximum); }
    void progressStep(int position, int maximum) override {
        m_progress.progressStep(position, maximum);
    }
    void progressHide() override { m_progress.progressHide(); }

    // The instance of the first keyboard listed, "" when none is.
    std::string keyboardListed() const;
    bool listed(const std::string& instance) const;
    // Processes events until done() holds (true) or StopWaiting is set (false).
    bool waitUntil(const std::function<bool()>& done);
    KeyboardOutcome programKeyboard(int number);

    ProgramState& m_state;
    DeviceList& m_devices;
    ProtocolWaits& m_waits;
    ProtocolReporter& m_setupReporter;
    ProtocolReporter& m_progress;
    ProgrammingHooks m_hooks;
    RollOutEvents m_events;
    Clock m_clock;
    ProgrammingProtocol m_protocol;
    ProgrammingRun m_run;
    std::optional<KeyboardOutcome> m_failure;
};

}  // namespace qk750
