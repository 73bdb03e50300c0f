#pragma once

#include <cstdint>
#include <string>

#include "setup/setup_record.h"

namespace qk750 {

// Where text inserted by the on-screen keyboard and the special-key list goes.
enum : std::uint8_t {
    kEditKeyLines = 1,
    kEditPreamble = 2,
    kEditPostamble = 3,
};

// Outcome of the last request to the keyboard.
enum : std::uint8_t {
    kUsbAnswered = 0,
    kUsbCrcError = 1,
    kUsbVerifyError = 2,
    kUsbNoAnswer = 3,
    kUsbAborted = 4,
    kUsbSendFailed = 5,
};

// What the windows, the protocol and its waits share while the program runs.
struct GlobalVars {
    std::uint8_t EditTarget = kEditKeyLines;
    bool StopWaiting = false;
    std::uint8_t UsbStatus = kUsbAnswered;
};

// Everything program-wide: the one setup and the values around it. Owned by the
// application and passed by reference, so that every test can build its own.
struct ProgramState {
    SetupRecord Setup;
    std::string SetupFileName;
    std::string DatImportPath;
    std::string ErrorFilePath = "QK750.ERR";
    bool BatchMode = false;
    bool ProgrammingOk = false;
    GlobalVars Globals;
};

}  // namespace qk750
