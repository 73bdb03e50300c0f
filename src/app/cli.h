#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "setup/program_state.h"

namespace qk750 {

// The program's own options, all beginning with "--"; every other parameter is left for
// ParseCommandLine ("/B", "/I=FILE", a setup file).
struct CliOptions {
    bool help = false;
    bool version = false;
    bool trace = false;
    bool listDevices = false;
    bool simulate = false;
    std::string simulateFile;  // empty: the virtual keyboard's memory is not kept
    bool image = false;
    std::string imageFile;
    bool legends = false;
    std::string legendsFile;
    // --roll-out[=COUNT]: 0 without a count.
    std::optional<int> rollOut;
    std::vector<std::string> parameters;
};

struct CliParseResult {
    CliOptions options;
    std::string error;  // empty when the arguments were understood
    bool ok() const { return error.empty(); }
};

// arguments: the process arguments without the program name.
CliParseResult parseCliOptions(const std::vector<std::string>& arguments);

std::string usageText();
std::string versionText();

// The interactive run (the windows), given the state after ParseCommandLine; returns the
// exit code. The application layer knows no window, so the caller supplies it.
using InteractiveRun = std::function<int(ProgramState& state, const CliOptions& options)>;

// Draws the legend sheet of the loaded setup into a PDF file. Returns why it could not,
// or an empty text; cut gets the keys whose legends had to be cut to fit. The application
// layer draws nothing, so the caller supplies it.
using LegendSheetWriter = std::function<std::string(
    const ProgramState& state, const std::string& pdfFile, std::vector<int>& cut)>;

// Runs the program for the given arguments and returns the exit code. Without an
// interactive run, a command line that asks for none of the window-free runs is refused.
int runCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
           const InteractiveRun& interactive = {}, const LegendSheetWriter& legends = {});

// --image=FILE: loads the setup as the initial load does, builds the device image and
// writes its 2048 bytes to imageFile. No device, no window.
int runImage(ProgramState& state, const std::string& imageFile, std::ostream& out,
             std::ostream& err);

// --legends=FILE: loads the setup as --image does and has the writer draw its legend
// sheet; a legend cut to fit is named on err, and the run still succeeds.
int runLegends(ProgramState& state, const std::string& pdfFile, const LegendSheetWriter& writer,
               std::ostream& err);

}  // namespace qk750
