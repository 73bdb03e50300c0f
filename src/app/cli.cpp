#include "app/cli.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string_view>
#include <system_error>

#include "app/batch.h"
#include "app/command_line.h"
#include "app/image_errors.h"
#include "app/initial_load.h"
#include "app/list_devices.h"
#include "app/roll_out.h"
#include "keys/device_image.h"
#include "setup/native_path.h"
#include "usb/hid_platform_sim.h"
#include "usb/hid_platform_system.h"

#ifndef QK750_VERSION
#define QK750_VERSION "unknown"
#endif

namespace qk750 {

namespace {

constexpr std::string_view kProgramName = "qk750setup";

std::string systemErrorText(int error) {
    return std::generic_category().message(error);
}

// Writes the whole image, or reports why not; a partly written file is removed so that
// nobody mistakes it for an image.
bool writeImageFile(const std::string& path, const DeviceImage& image, std::string& error) {
    std::FILE* file = openFile(path, "wb");
    if (file == nullptr) {
        error = systemErrorText(errno);
        return false;
    }
    errno = 0;
    const bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
    int writeError = errno;
    errno = 0;
    const bool closed = std::fclose(file) == 0;
    if (writeError == 0) {
        writeError = errno;
    }
    if (written && closed) {
        return true;
    }
    error = systemErrorText(writeError != 0 ? writeError : EIO);
    std::error_code ec;
    if (std::filesystem::is_regular_file(nativePath(path), ec)) {
        std::filesystem::remove(nativePath(path), ec);
    }
    return false;
}

// Batch mode needs an event loop for its waits and device notifications, but no display.
int runBatchCommand(ProgramState& state, const CliOptions& options, std::ostream& err) {
    std::unique_ptr<QCoreApplication> app;
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "qk750setup";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    std::unique_ptr<HidPlatformSim> simulated;
    std::unique_ptr<HidPlatform> system;
    HidPlatform* platform = nullptr;
    // A roll-out's simulated keyboards are new ones: the memory file only names theirs.
    const std::string memoryFile = options.rollOut ? std::string() : options.simulateFile;
    if (options.simulate) {
        std::string error;
        simulated = CreateSimulatedHidPlatform(memoryFile, &error);
        if (!simulated) {
            err << kProgramName << ": " << error << "\n";
            return 2;
        }
        platform = simulated.get();
    } else {
        system = CreateSystemHidPlatform();
        platform = system.get();
    }
    BatchOptions batch;
    batch.trace = options.trace;
    batch.rollOut = options.rollOut;
    std::optional<SimulatedStation> station;
    if (simulated && options.rollOut) {
        station.emplace(*simulated, options.simulateFile, [&err](const std::string& error) {
            err << kProgramName << ": " << error << "\n";
        });
        batch.station = station->events();
    }
#ifdef _WIN32
    batch.errIsTerminal = _isatty(_fileno(stderr)) != 0;
#else
    batch.errIsTerminal = isatty(STDERR_FILENO) != 0;
#endif
    const int code = runBatch(state, *platform, batch, err);
    if (simulated && !memoryFile.empty()) {
        std::string error;
        if (!simulated->saveMemoryFile(&error)) {
            err << kProgramName << ": " << error << "\n";
            return 2;
        }
    }
    return code;
}

}  // namespace

CliParseResult parseCliOptions(const std::vector<std::string>& arguments) {
    CliParseResult result;
    CliOptions& options = result.options;
    for (const std::string& argument : arguments) {
        // Where "/" starts switches, "/?" is how one asks for the help.
        if (argument == "/?") {
            options.help = true;
            continue;
        }
        if (!argument.starts_with("--")) {
            options.parameters.push_back(argument);
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const bool hasValue = equals != std::string::npos;
        const std::string value = hasValue ? argument.substr(equals + 1) : std::string();

        if (name == "--image" || name == "--legends") {
            if (value.empty()) {
                result.error = name + " needs a file name: " + name + "=FILE";
                return result;
            }
            const bool image = name == "--image";
            (image ? options.image : options.legends) = true;
            (image ? options.imageFile : options.legendsFile) = value;
        } else if (name == "--simulate") {
            if (hasValue && value.empty()) {
                result.error = "--simulate= needs a file name: --simulate=MEMORY_FILE";
                return result;
            }
            options.simulate = true;
            options.simulateFile = value;
        } else if (name == "--roll-out") {
            const bool digits = !value.empty() && value.size() <= 6 &&
                                value.find_first_not_of("0123456789") == std::string::npos;
            if (hasValue && (!digits || std::stoi(value) == 0)) {
                result.error = "--roll-out= needs a count of keyboards from 1: --roll-out=COUNT";
                return result;
            }
            options.rollOut = hasValue ? std::stoi(value) : 0;
        } else if (hasValue) {
            result.error = "unknown option: " + argument;
            return result;
        } else if (name == "--help") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else if (name == "--trace") {
            options.trace = true;
        } else if (name == "--list-devices") {
            options.listDevices = true;
        } else {
            result.error = "unknown option: " + argument;
            return result;
        }
    }
    return result;
}

std::string usageText() {
    return "Usage: qk750setup [OPTION]... [/B] [/I=DATFILE] [SETUP]\n"
           "Edits QK750 keyboard setups and programs the keyboard over USB.\n"
           "\n"
           "  SETUP                     setup file: an .INI file, or a legacy .KBD or .DAT\n"
           "                            file (default: QK750.INI beside the program)\n"
           "  /B                        batch mode: program the keyboard from SETUP without\n"
           "                            any dialog, write the outcome to QK750.ERR beside\n"
           "                            SETUP and exit with 1 when programming did not complete\n"
           "  /I=DATFILE                import the key strings of a .DAT key file after\n"
           "                            loading SETUP\n"
           "\n"
           "  --image=FILE              build the keyboard's 2048-byte memory image of SETUP\n"
           "                            into FILE and print the setup size; no device needed\n"
           "  --legends=FILE.pdf        write the keycap legend sheet of SETUP as a PDF file;\n"
           "                            no device and no display needed\n"
           "  --simulate[=MEMORY_FILE]  use the simulated keyboard instead of USB devices;\n"
           "                            its memory starts from MEMORY_FILE and is written back\n"
           "  --roll-out[=COUNT]        with /B: program each QK750 plugged in, one after\n"
           "                            another, COUNT of them or until Ctrl+C; one line per\n"
           "                            keyboard in QK750.LOG beside SETUP\n"
           "  --list-devices            list the HID devices of this computer\n"
           "  --trace                   print the diagnostic trace on standard error\n"
           "  --help, /?                show this help and exit\n"
           "  --version                 show the version and exit\n";
}

std::string versionText() {
    return std::string(kProgramName) + " " + QK750_VERSION + "\n";
}

namespace {

// Loads the setup for a window-free run as the initial load does; false, with the reason
// on err, when what was loaded is not the setup that was named.
bool loadForOutput(ProgramState& state, std::ostream& err) {
    std::error_code ec;
    // Loading a missing INI file would quietly give an empty setup: refuse it here.
    if (!std::filesystem::exists(nativePath(state.SetupFileName), ec)) {
        err << kProgramName << ": setup file not found: " << state.SetupFileName << "\n";
        return false;
    }
    if (std::filesystem::is_directory(nativePath(state.SetupFileName), ec)) {
        err << kProgramName << ": not a setup file: " << state.SetupFileName << " is a directory\n";
        return false;
    }

    const std::string loadedName = state.SetupFileName;
    const LoadResult load = InitialLoad(state);
    if (load.kbdImport) {
        switch (load.kbdStatus) {
            case KbdImportStatus::Ok:
                if (!load.save.ok) {
                    // The output is still made; only the INI twin is missing.
                    err << kProgramName << ": cannot save " << state.SetupFileName << ": "
                        << load.save.error << "\n";
                }
                break;
            case KbdImportStatus::InvalidSize:
                err << kInvalidKbdFileSizeText << "\n";
                return false;
            case KbdImportStatus::Missing:
                err << kProgramName << ": setup file not found: " << loadedName << "\n";
                return false;
            case KbdImportStatus::ReadError:
                break;  // reported below with the system's reason
        }
    }
    if (load.unreadable) {
        err << kProgramName << ": cannot read " << load.unreadable->path << ": "
            << load.unreadable->reason << "\n";
        return false;
    }
    if (load.datFailure) {
        err << kProgramName << ": cannot read DAT file " << load.datFailure->path << ": "
            << load.datFailure->reason << "\n";
        return false;
    }
    return true;
}

}  // namespace

int runImage(ProgramState& state, const std::string& imageFile, std::ostream& out,
             std::ostream& err) {
    if (!loadForOutput(state, err)) {
        return 1;
    }
    DeviceImage image{};
    const ImageResult built = BuildDeviceImage(state.Setup, image);
    if (!built.ok()) {
        err << describeImageFailure(built, state.SetupFileName).message << "\n";
        return 1;
    }

    std::string error;
    if (!writeImageFile(imageFile, image, error)) {
        err << kProgramName << ": cannot write " << imageFile << ": " << error << "\n";
        return 1;
    }
    out << "KBD Setup Size=" << built.setupSize << "\n";
    return 0;
}

int runLegends(ProgramState& state, const std::string& pdfFile, const LegendSheetWriter& writer,
               std::ostream& err) {
    if (!writer) {
        err << kProgramName << ": this program cannot draw legend sheets\n";
        return 2;
    }
    if (!loadForOutput(state, err)) {
        return 1;
    }
    std::vector<int> cut;
    const std::string error = writer(state, pdfFile, cut);
    if (!error.empty()) {
        err << kProgramName << ": " << error << "\n";
        return 1;
    }
    for (const int key : cut) {
        err << kProgramName << ": key " << key
            << ": the legend does not fit its insert and is cut\n";
    }
    return 0;
}

int runCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
           const InteractiveRun& interactive, const LegendSheetWriter& legends) {
    const CliParseResult parsed = parseCliOptions(arguments);
    if (!parsed.ok()) {
        err << kProgramName << ": " << parsed.error << "\n" << usageText();
        return 2;
    }
    const CliOptions& options = parsed.options;
    if (options.help) {
        out << usageText();
        return 0;
    }
    if (options.version) {
        out << versionText();
        return 0;
    }

    ProgramState state;
    state.SetupFileName = defaultSetupFileName();
    ParseCommandLine(state, options.parameters);

    if (options.image || options.legends) {
        if (state.BatchMode || (options.image && options.legends)) {
            err << kProgramName << ": " << (options.image ? "--image" : "--legends") << " and "
                << (state.BatchMode ? "/B" : "--legends") << " cannot be combined\n"
                << usageText();
            return 2;
        }
        return options.image ? runImage(state, options.imageFile, out, err)
                             : runLegends(state, options.legendsFile, legends, err);
    }

    if (options.listDevices) {
        return runListDevices(options.simulate, options.simulateFile, options.trace, out, err);
    }
    if (options.rollOut && !state.BatchMode) {
        err << kProgramName << ": --roll-out needs /B: /B --roll-out[=COUNT] SETUP\n";
        return 2;
    }
    if (state.BatchMode) {
        return runBatchCommand(state, options, err);
    }
    if (interactive) {
        return interactive(state, options);
    }

    err << usageText();
    return 2;
}

}  // namespace qk750
