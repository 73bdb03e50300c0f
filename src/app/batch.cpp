#include "app/batch.h"

#include <cstdio>
#include <filesystem>
#include <ostream>

#include "app/error_file.h"
#include "app/initial_load.h"
#include "app/mcr_settings.h"
#include "app/programming_run.h"
#include "app/qt_event_loop.h"
#include "setup/file_names.h"
#include "setup/native_path.h"
#include "usb/device_list.h"
#include "usb/hid_controller.h"
#include "usb/programming_protocol.h"

namespace qk750 {

namespace {

bool fileExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(nativePath(path), ec);
}

// Message texts use carriage returns for spacing; a terminal wants line feeds.
std::string forTerminal(std::string_view message) {
    std::string text(message);
    for (char& c : text) {
        if (c == '\r') {
            c = '\n';
        }
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) {
        text.pop_back();
    }
    return text;
}

// The outcome file of an earlier run must not stand for this one. Where it cannot be
// removed (a read-only folder), emptying it will do; where neither works, say so.
void removeStaleOutcome(const std::string& path, std::ostream& err) {
    std::error_code ec;
    std::filesystem::remove(nativePath(path), ec);
    if (!ec) {
        return;  // removed, or gone already
    }
    if (std::FILE* file = openFile(path, "wb"); file != nullptr) {
        if (std::fclose(file) == 0) {
            return;
        }
    }
    err << "cannot remove the outcome file of an earlier run " << path << ": " << ec.message()
        << '\n';
}

}  // namespace

BatchReporter::BatchReporter(ProgramState& state, std::ostream& err, bool errIsTerminal)
    : m_state(state), m_err(err), m_terminal(errIsTerminal) {}

void BatchReporter::failure(std::string_view code, std::string_view detail,
                            std::string_view message) {
    endProgressLine();
    m_err << code << ": " << forTerminal(message) << '\n';
    outcome(code, detail);
}

void BatchReporter::outcome(std::string_view code, std::string_view detail) {
    const std::string error = WriteErrorFile(m_state.ErrorFilePath, code, detail);
    if (!error.empty()) {
        endProgressLine();
        m_err << "cannot write the outcome file " << m_state.ErrorFilePath << ": " << error << '\n';
    }
}

bool BatchReporter::askToConnect(std::string_view) {
    // Nobody is there to answer.
    return false;
}

void BatchReporter::progressStart(int) {
    m_lastPrinted = -1;
}

void BatchReporter::progressStep(int position, int maximum) {
    const int percent = ProgressPercent(position, maximum);
    m_title = BatchTitle(percent);
    if (percent == m_lastPrinted) {
        return;
    }
    if (m_terminal) {
        m_err << '\r' << m_title << std::flush;
        m_lineOpen = true;
        m_lastPrinted = percent;
    } else if (percent % 5 == 0) {
        m_err << m_title << '\n';
        m_lastPrinted = percent;
    }
}

void BatchReporter::progressHide() {
    endProgressLine();
}

void BatchReporter::endProgressLine() {
    if (m_lineOpen) {
        m_err << '\n';
        m_lineOpen = false;
    }
}

int runBatch(ProgramState& state, HidPlatform& platform, const BatchOptions& options,
             std::ostream& err) {
    QtUiDispatcher dispatcher;
    QtProtocolWaits waits;
    BatchReporter reporter(state, err, options.errIsTerminal);
    int exitCode = 1;
    {
        HidController controller(platform, dispatcher);
        DeviceList devices(
            controller, MakeHistorySink(options.trace,
                                        [&err](const std::string& line) { err << line << '\n'; }));
        PlatformNotificationWatcher watcher(platform);
        ProgrammingProtocol protocol(state, devices, reporter, waits);
        ProgrammingHooks hooks;
        // Batch mode shows the setup in no window: gathering gives what showing and
        // gathering the dialogs would.
        hooks.collectMcrSettings = [&state] {
            state.Setup.Mcr = mcrAsShownAndGathered(state.Setup.Mcr);
        };
        hooks.writeOutcome = [&reporter](std::string_view code, std::string_view detail) {
            reporter.outcome(code, detail);
        };
        ProgrammingRun run(state, protocol, reporter, hooks);

        // The controller's start-up pass is the first thing the event loop runs.
        waits.processMessages();

        const bool namedFileExisted = fileExists(state.SetupFileName);
        const LoadResult load = InitialLoad(state);
        if (!load.save.ok) {
            err << state.SetupFileName << ": " << load.save.error << '\n';
        }
        devices.applySelection();

        if (fileExists(state.ErrorFilePath)) {
            removeStaleOutcome(state.ErrorFilePath, err);
        }

        // A KBD file of the wrong size leaves an empty setup; programming it would wipe
        // the keyboard and report "OK", and saving it would empty the INI twin.
        const bool invalidKbd = load.kbdImport && load.kbdStatus == KbdImportStatus::InvalidSize;
        bool saveAtClose = true;
        if (load.unreadable) {
            // What was loaded is not what the file holds: programming it would report "OK"
            // for the wrong keys, and saving it would overwrite the file.
            err << load.unreadable->path << ": " << load.unreadable->reason << '\n';
            std::error_code missing;
            const bool exists = std::filesystem::exists(nativePath(load.unreadable->path), missing);
            reporter.outcome(exists ? kErrSetupFileInvalid : kErrSetupFileNotFound,
                             load.unreadable->path);
            saveAtClose = false;
        } else if (load.datFailure) {
            const std::string_view code =
                load.datFailure->invalid ? kErrSetupFileInvalid : kErrSetupFileNotFound;
            err << code << ": " << load.datFailure->path << ": " << load.datFailure->reason << '\n';
            reporter.outcome(code, load.datFailure->path);
            saveAtClose = false;
        } else if (invalidKbd) {
            err << kInvalidKbdFileSizeText << '\n';
            reporter.outcome(kErrSetupFileInvalid, state.SetupFileName);
            saveAtClose = false;
        } else if (fileExists(state.SetupFileName)) {
            run.StartProgramming();
        } else {
            reporter.outcome(kErrSetupFileNotFound, state.SetupFileName);
            err << kErrSetupFileNotFound << ": " << state.SetupFileName << '\n';
            // Saving the empty setup under a name that named nothing would make the next
            // run program an empty keyboard and report "OK".
            saveAtClose = namedFileExisted;
        }

        // Closing the main window: every wait ends, and the setup is saved quietly.
        state.Globals.StopWaiting = true;
        if (saveAtClose) {
            hooks.collectMcrSettings();
            state.SetupFileName = WithIniExtension(state.SetupFileName);
            const SaveResult saved = SaveSetupIni(state.Setup, state.SetupFileName);
            if (!saved.ok) {
                err << state.SetupFileName << ": " << saved.error << '\n';
            }
        }
        exitCode = state.ProgrammingOk ? 0 : 1;
    }
    return exitCode;
}

}  // namespace qk750
