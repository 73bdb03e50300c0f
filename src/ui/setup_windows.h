#pragma once

#include <memory>

#include "ui/ZQ_setup_u.h"

namespace qk750 {

struct CliOptions;
class TFixedMcrSetupForm;
class TMCRCustomForm;
class TStatusForm;
class TformTestKeys;
class TfrmAbout;

// Every window of the program, created in start-up order (main window, About, key test,
// progress, custom MCR, built-in MCR) and wired together; all live until the end of the run.
class SetupWindows {
public:
    explicit SetupWindows(MainWindowServices services);
    ~SetupWindows();
    SetupWindows(const SetupWindows&) = delete;
    SetupWindows& operator=(const SetupWindows&) = delete;

    TfrmSettings& main() const { return *m_main; }
    TfrmAbout& about() const { return *m_about; }
    TformTestKeys& testKeys() const { return *m_testKeys; }
    TStatusForm& status() const { return *m_status; }
    TMCRCustomForm& customMcr() const { return *m_customMcr; }
    TFixedMcrSetupForm& builtInMcr() const { return *m_builtInMcr; }

private:
    std::unique_ptr<TfrmSettings> m_main;
    std::unique_ptr<TfrmAbout> m_about;
    std::unique_ptr<TformTestKeys> m_testKeys;
    std::unique_ptr<TStatusForm> m_status;
    std::unique_ptr<TMCRCustomForm> m_customMcr;
    std::unique_ptr<TFixedMcrSetupForm> m_builtInMcr;
};

// The interactive run: the application object, the windows, the message loop. The
// command line has been read into state. Returns the exit code.
int runWindows(ProgramState& state, const CliOptions& options);

}  // namespace qk750
