#pragma once

#include <memory>

#include "ui/main_window.h"

namespace qk750 {

struct CliOptions;
class McrBuiltInDialog;
class McrCustomDialog;
class ProgressWindow;
class KeyTestWindow;
class AboutWindow;
class LegendWindow;
class RollOutWindow;

// Every window of the program, created in start-up order (main window, About, key test,
// progress, custom MCR, built-in MCR, key legends, then the roll-out window) and wired
// together; all live until the end of the run.
class SetupWindows {
public:
    explicit SetupWindows(MainWindowServices services);
    ~SetupWindows();
    SetupWindows(const SetupWindows&) = delete;
    SetupWindows& operator=(const SetupWindows&) = delete;

    MainWindow& main() const { return *m_main; }
    AboutWindow& about() const { return *m_about; }
    KeyTestWindow& keyTest() const { return *m_keyTest; }
    ProgressWindow& progress() const { return *m_progress; }
    McrCustomDialog& customMcr() const { return *m_customMcr; }
    McrBuiltInDialog& builtInMcr() const { return *m_builtInMcr; }
    LegendWindow& legends() const { return *m_legends; }
    RollOutWindow& rollOut() const { return *m_rollOut; }

private:
    std::unique_ptr<MainWindow> m_main;
    std::unique_ptr<AboutWindow> m_about;
    std::unique_ptr<KeyTestWindow> m_keyTest;
    std::unique_ptr<ProgressWindow> m_progress;
    std::unique_ptr<McrCustomDialog> m_customMcr;
    std::unique_ptr<McrBuiltInDialog> m_builtInMcr;
    std::unique_ptr<LegendWindow> m_legends;
    std::unique_ptr<RollOutWindow> m_rollOut;
};

// The interactive run: the application object, the windows, the message loop. The
// command line has been read into state. Returns the exit code.
int runWindows(ProgramState& state, const CliOptions& options);

}  // namespace qk750
