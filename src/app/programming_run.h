#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "keys/device_image.h"
#include "setup/program_state.h"
#include "usb/programming_protocol.h"

namespace qk750 {

// What only the windows do around a programming run; batch mode leaves most empty.
struct ProgrammingHooks {
    // Gathers the MCR controls and the lock box into the setup record.
    std::function<void()> collectMcrSettings;
    // A key is too long: moves the grid to it before the report...
    std::function<void(int key)> selectKey;
    // ...and gives the grid the focus after it.
    std::function<void()> focusGrid;
    // The status bar's text, for the size note and its removal.
    std::function<std::string()> statusText;
    std::function<void(const std::string&)> setStatusText;
    std::function<void()> beep;
    // The information box of a completed run (interactive only).
    std::function<void(std::string_view)> showInformation;
    // Batch mode: writes the outcome file.
    std::function<void(std::string_view code, std::string_view detail)> writeOutcome;
    // When given, announces a completed run instead of the outcome file or the box: a
    // roll-out keeps its own account of each keyboard.
    std::function<void()> completed;
};

inline constexpr std::string_view kProgrammingCompletedText =
    "USB QK750 programming completed ok.                          ";

// The programming command: gather, pause, compile, find the keyboard, transfer, and
// announce the outcome. Not re-entered while a run is in progress.
class ProgrammingRun {
public:
    ProgrammingRun(ProgramState& state, ProgrammingProtocol& protocol, ProtocolReporter& reporter,
                   ProgrammingHooks hooks);

    void StartProgramming();
    bool ProgrammingBusy() const { return m_busy; }
    void clearBusy() { m_busy = false; }

    // Builds the image from the setup record and reports a failure once.
    bool buildImage(DeviceImage& image, int& setupSize);

private:
    ProgramState& m_state;
    ProgrammingProtocol& m_protocol;
    ProtocolReporter& m_reporter;
    ProgrammingHooks m_hooks;
    bool m_busy = false;
};

}  // namespace qk750
