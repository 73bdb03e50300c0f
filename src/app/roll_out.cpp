#include "app/roll_out.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <system_error>

#include "app/command_line.h"
#include "app/error_file.h"
#include "usb/hid_platform_sim.h"

namespace qk750 {

namespace {

// Device changes are handled whenever events are processed; this is how often the wait
// for the next keyboard, or for the last one to go, looks at the device list.
constexpr int kDevicePollMs = 20;

#ifdef _WIN32
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kLineEnd = "\n";
#endif

std::string systemErrorText(int error) {
    return std::generic_category().message(error);
}

// Each keyboard's run: no box, no sound, no status note and no outcome file of its own;
// the roll-out reports it.
ProgrammingHooks keyboardRunHooks(const ProgrammingHooks& hooks) {
    ProgrammingHooks run;
    run.collectMcrSettings = hooks.collectMcrSettings;
    run.completed = [] {};
    return run;
}

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local;
}

}  // namespace

bool KeyboardOutcome::ok() const {
    return code == kOutcomeOk;
}

std::string RollOutLogLine(const std::tm& localTime, const KeyboardOutcome& outcome) {
    char time[32];
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S", &localTime);
    std::string detail = outcome.detail;
    for (char& c : detail) {
        if (c == '\t' || c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", outcome.seconds);
    return std::string(time) + '\t' + std::to_string(outcome.number) + '\t' + outcome.code + '\t' +
           detail + '\t' + seconds;
}

std::string RollOutLogPath(const std::string& setupFileName) {
    return joinPath(directoryPart(setupFileName), kRollOutLogName);
}

std::string OneLine(std::string_view message) {
    std::string line;
    bool blank = false;
    for (const char c : message) {
        if (c == '\r' || c == '\n' || c == ' ') {
            blank = !line.empty();
            continue;
        }
        if (blank) {
            line += ' ';
            blank = false;
        }
        line += c;
    }
    return line;
}

RollOutLog::~RollOutLog() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

bool RollOutLog::open(const std::string& path, std::string& error) {
    m_file = std::fopen(path.c_str(), "ab");
    if (m_file == nullptr) {
        error = path + ": " + systemErrorText(errno);
        return false;
    }
    return true;
}

bool RollOutLog::append(const std::string& line, std::string& error) {
    const std::string text = line + kLineEnd;
    errno = 0;
    bool written =
        std::fwrite(text.data(), 1, text.size(), m_file) == text.size() && std::fflush(m_file) == 0;
    // Past the program's buffers is not yet on the disk.
#ifdef _WIN32
    written = written && _commit(_fileno(m_file)) == 0;
#else
    written = written && fsync(fileno(m_file)) == 0;
#endif
    if (!written) {
        error = systemErrorText(errno != 0 ? errno : EIO);
    }
    return written;
}

RollOutEvents combine(RollOutEvents first, RollOutEvents second) {
    const auto both = [](auto a, auto b) -> decltype(a) {
        if (!a || !b) {
            return a ? a : b;
        }
        return [a, b](const auto&... arguments) {
            a(arguments...);
            b(arguments...);
        };
    };
    return {both(first.nextKeyboard, second.nextKeyboard),
            both(first.waitingForKeyboard, second.waitingForKeyboard),
            both(first.programming, second.programming), both(first.reported, second.reported),
            both(first.unplugKeyboard, second.unplugKeyboard)};
}

SimulatedStation::SimulatedStation(HidPlatformSim& simulation, std::string memoryFile,
                                   std::function<void(const std::string& error)> writeFailed)
    : m_simulation(simulation),
      m_memoryFile(std::move(memoryFile)),
      m_writeFailed(std::move(writeFailed)),
      m_memoryBefore(simulation.firmware().memory()),
      m_planBefore(simulation.firmware().faultPlan()) {}

SimulatedStation::~SimulatedStation() {
    m_simulation.firmware().setMemory(m_memoryBefore);
    m_simulation.firmware().setFaultPlan(m_planBefore);
    m_simulation.plug(m_simulation.keyboardIndex());
}

RollOutEvents SimulatedStation::events() {
    RollOutEvents events;
    events.nextKeyboard = [this](int number) { m_simulation.plugNewKeyboard(number); };
    events.reported = [this](const KeyboardOutcome& outcome, bool) {
        std::string error;
        if (!m_memoryFile.empty() &&
            !m_simulation.saveMemoryFile(m_memoryFile + "." + std::to_string(outcome.number),
                                         &error) &&
            m_writeFailed) {
            m_writeFailed(error);
        }
    };
    events.unplugKeyboard = [this](int) { m_simulation.unplug(m_simulation.keyboardIndex()); };
    return events;
}

int RollOutResult::exitCode() const {
    return programmed > 0 && failed == 0 && !setupFailed && logError.empty() ? 0 : 1;
}

RollOut::RollOut(ProgramState& state, DeviceList& devices, ProtocolWaits& waits,
                 ProtocolReporter& setupReporter, ProtocolReporter& progress,
                 ProgrammingHooks hooks, RollOutEvents events, Clock clock)
    : m_state(state),
      m_devices(devices),
      m_waits(waits),
      m_setupReporter(setupReporter),
      m_progress(progress),
      m_hooks(std::move(hooks)),
      m_events(std::move(events)),
      m_clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })),
      m_protocol(state, devices, *this, waits),
      m_run(state, m_protocol, *this, keyboardRunHooks(m_hooks)) {}

void RollOut::failure(std::string_view code, std::string_view detail, std::string_view message) {
    if (!m_failure) {
        m_failure =
            KeyboardOutcome{0, std::string(code), std::string(detail), std::string(message), 0};
    }
}

bool RollOut::askToConnect(std::string_view) {
    // The keyboard was there a moment ago: it went before its programming began.
    failure(kErrUsbKbdNotConnected, m_state.SetupFileName, "USB QK750 not found.");
    return false;
}

std::string RollOut::keyboardListed() const {
    for (int i = 0; i < m_devices.count(); ++i) {
        HidDevice* device = m_devices.device(i);
        if (device != nullptr && device->IsPluggedIn() && LooksLikeKeyboard(*device)) {
            return device->PnPInfo().DeviceInstance();
        }
    }
    return {};
}

bool RollOut::listed(const std::string& instance) const {
    for (int i = 0; i < m_devices.count(); ++i) {
        HidDevice* device = m_devices.device(i);
        if (device != nullptr && device->IsPluggedIn() &&
            device->PnPInfo().DeviceInstance() == instance) {
            return true;
        }
    }
    return false;
}

bool RollOut::waitUntil(const std::function<bool()>& done) {
    for (;;) {
        if (m_state.Globals.StopWaiting) {
            return false;
        }
        if (done()) {
            return true;
        }
        m_waits.pumpedWait(kDevicePollMs, &m_state.Globals.StopWaiting);
    }
}

KeyboardOutcome RollOut::programKeyboard(int number) {
    const auto arrived = m_clock();
    if (m_events.programming) {
        m_events.programming(number);
    }
    m_failure.reset();
    m_run.StartProgramming();
    KeyboardOutcome outcome;
    if (m_state.ProgrammingOk) {
        outcome = {0, std::string(kOutcomeOk), m_state.SetupFileName, {}, 0};
    } else if (m_failure) {
        outcome = *m_failure;
    } else {
        // Every failing run reports itself; should one not, it is still no success.
        outcome = {0, std::string(kErrUserAbort), m_state.SetupFileName,
                   std::string(kUserAbortText), 0};
    }
    outcome.number = number;
    outcome.seconds = std::chrono::duration<double>(m_clock() - arrived).count();
    return outcome;
}

bool RollOut::setupCompiles() {
    DeviceImage image{};
    int setupSize = 0;
    ProgrammingHooks hooks = m_hooks;
    hooks.statusText = nullptr;
    return ProgrammingRun(m_state, m_protocol, m_setupReporter, hooks).buildImage(image, setupSize);
}

RollOutResult RollOut::run(int count) {
    RollOutResult result;
    // Checked before any keyboard is touched, and reported as a single run reports it.
    if (!setupCompiles()) {
        result.setupFailed = true;
        return result;
    }
    RollOutLog log;
    if (!log.open(RollOutLogPath(m_state.SetupFileName), result.logError)) {
        return result;
    }
    for (int number = 1; count == 0 || number <= count; ++number) {
        if (m_events.nextKeyboard) {
            m_events.nextKeyboard(number);
        }
        std::string instance = keyboardListed();
        if (instance.empty() && m_events.waitingForKeyboard) {
            m_events.waitingForKeyboard(number);
        }
        if (!waitUntil([&] { return !(instance = keyboardListed()).empty(); })) {
            break;
        }
        const KeyboardOutcome outcome = programKeyboard(number);
        ++(outcome.ok() ? result.programmed : result.failed);
        std::string error;
        if (!log.append(RollOutLogLine(localNow(), outcome), error)) {
            result.logError = RollOutLogPath(m_state.SetupFileName) + ": " + error;
        }
        const bool last = !result.logError.empty() || m_state.Globals.StopWaiting ||
                          (count != 0 && number == count);
        if (m_events.reported) {
            m_events.reported(outcome, last);
        }
        if (last) {
            break;
        }
        if (m_events.unplugKeyboard) {
            m_events.unplugKeyboard(number);
        }
        if (!waitUntil([&] { return !listed(instance); })) {
            break;
        }
    }
    return result;
}

}  // namespace qk750
