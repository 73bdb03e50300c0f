#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "app/roll_out.h"
#include "setup/program_state.h"
#include "usb/protocol_ports.h"

namespace qk750 {

class HidPlatform;

// Batch mode's reporter: failures go to the outcome file (and, for a person watching,
// to standard error); progress goes to standard error as the title would read.
class BatchReporter : public ProtocolReporter {
public:
    BatchReporter(ProgramState& state, std::ostream& err, bool errIsTerminal);

    void failure(std::string_view code, std::string_view detail, std::string_view message) override;
    // Writes the outcome file; when it cannot be written, says so on standard error.
    void outcome(std::string_view code, std::string_view detail);
    bool askToConnect(std::string_view message) override;
    void progressStart(int maximum) override;
    void progressStep(int position, int maximum) override;
    void progressHide() override;

    const std::string& title() const { return m_title; }

private:
    void endProgressLine();

    ProgramState& m_state;
    std::ostream& m_err;
    bool m_terminal;
    std::string m_title;
    int m_lastPrinted = -1;
    bool m_lineOpen = false;
};

struct BatchOptions {
    bool trace = false;
    bool errIsTerminal = false;
    // --roll-out: program each keyboard plugged in, this many (0: until stopped).
    std::optional<int> rollOut;
    // What the simulated keyboard does between the roll-out's keyboards.
    RollOutEvents station;
};

// The unattended run of "/B": initial load, device selection, programming (of one
// keyboard, or a roll-out's), outcome file, close-time save. ParseCommandLine has already
// run. Needs a QCoreApplication. Returns the exit code.
int runBatch(ProgramState& state, HidPlatform& platform, const BatchOptions& options,
             std::ostream& err);

}  // namespace qk750
