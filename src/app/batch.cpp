#include "app/batch.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>

#include "app/error_file.h"
#include "app/initial_load.h"
#include "app/mcr_settings.h"
#include "app/programming_run.h"
#include "app/qt_event_loop.h"
#include "app/stop_requests.h"
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

// "keyboard 2: ERR_USB_CRC, 0.43 s (CRC Error in data to USB QK750! Check connection.)"
std::string keyboardLine(const KeyboardOutcome& outcome) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", outcome.seconds);
    std::string line =
        "keyboard " + std::to_string(outcome.number) + ": " + outcome.code + ", " + seconds;
    if (!outcome.ok()) {
        line += " (" + OneLine(outcome.message) + ")";
    }
    return line;
}

// The roll-out of "/B --roll-out": a line on standard error and a sound for each keyboard,
// and an outcome file that says OK only while every keyboard was OK. Returns the exit code.
int runRollOut(ProgramState& state, DeviceList& devices, QtProtocolWaits& waits,
               BatchReporter& reporter, const ProgrammingHooks& hooks, const BatchOptions& options,
               std::ostream& err) {
    QObject sounds;
    bool lastFailed = false;
    std::optional<KeyboardOutcome> firstFailure;
    RollOutEvents events;
    events.waitingForKeyboard = [&err](int number) {
        err << "keyboard " << number << ": plug it in\n";
    };
    events.reported = [&](const KeyboardOutcome& outcome, bool last) {
        if (!outcome.ok() && !firstFailure) {
            firstFailure = outcome;
        }
        reporter.outcome(firstFailure ? firstFailure->code : kOutcomeOk,
                         firstFailure ? firstFailure->detail : state.SetupFileName);
        err << keyboardLine(outcome)
            << (last ? "; unplug it\n" : "; unplug it and plug in the next\n") << std::flush;
        lastFailed = !outcome.ok();
        if (options.errIsTerminal) {
            PlayOutcomeSound(&sounds, outcome.ok(), [&err] { err << '\a' << std::flush; });
        }
    };
    RollOut rollOut(state, devices, waits, reporter, reporter, hooks,
                    combine(options.station, std::move(events)));
    const RollOutResult result = rollOut.run(*options.rollOut);
    if (result.setupFailed) {
        return 1;  // reported as a single run reports it
    }
    if (!result.logError.empty()) {
        err << "qk750setup: cannot write the log " << result.logError << '\n';
    } else if (result.programmed + result.failed == 0) {
        // Stopped before any keyboard came: nothing was programmed.
        reporter.outcome(kErrUserAbort, state.SetupFileName);
    }
    err << "roll-out ended: " << result.programmed << " programmed, " << result.failed
        << " failed; log " << RollOutLogPath(state.SetupFileName) << '\n';
    if (lastFailed) {
        waits.pumpedWait(2 * kBeepIntervalMs);  // the failure's sound, to its end
    }
    return result.exitCode();
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
    // A roll-out runs until it is stopped: Ctrl+C and SIGTERM end it as closing the window
    // ends a run, and the setup is still saved.
    bool stopRequested = false;
    std::optional<StopRequests> stopRequests;
    if (options.rollOut) {
        stopRequests.emplace([&](const std::string& what) {
            // On a terminal the request comes in the middle of a line ("^C").
            err << (options.errIsTerminal ? "\n" : "") << what << ": ending the roll-out\n";
            stopRequested = state.Globals.StopWaiting = true;
        });
    }
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
        state.Globals.StopWaiting = stopRequested;  // the load starts afresh, a stop stands
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
        std::optional<int> rollOutExitCode;
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
        } else if (fileExists(state.SetupFileName) && options.rollOut) {
            rollOutExitCode = runRollOut(state, devices, waits, reporter, hooks, options, err);
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
        exitCode = rollOutExitCode.value_or(state.ProgrammingOk ? 0 : 1);
    }
    return exitCode;
}

}  // namespace qk750
