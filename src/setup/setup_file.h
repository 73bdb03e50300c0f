#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "setup/file_io.h"
#include "setup/legacy_import.h"
#include "setup/program_state.h"
#include "setup/setup_record.h"

namespace qk750 {

struct SaveResult {
    bool ok = true;
    std::string error;  // the system's text for the failure
};

// Why a file holding a NUL byte is no setup (Invalid).
inline constexpr std::string_view kNotASetupText = "Not a setup file: it holds a NUL byte";

// Writes the whole setup into the INI file at path, keeping every section, key and line
// of an existing file that the setup does not own. The file is replaced atomically: on
// failure the old file stays as it was. A file that exists but cannot be read, or holds a
// NUL byte, is not replaced, since its unknown content would be lost. [Legends] holds only
// the legends a person set and sizes other than the defaults.
SaveResult SaveSetupIni(const SetupRecord& setup, const std::string& path);

// ClearSetup, then reads every field from the INI file at path; a missing key or a value
// that is not an integer takes its default (McrSetupMode 1, McrDelay 5, flags false,
// strings empty; an insert size that is not a number in its range, the default size). A
// missing file, one that cannot be read, or one holding a NUL byte (Invalid) gives those
// defaults; the result tells which. Never creates or writes the file.
FileReadResult LoadSetupIni(SetupRecord& setup, const std::string& path);

// A file that a load could not read, and the reason.
struct UnreadFile {
    std::string path;
    std::string reason;
    bool invalid = false;  // read, but not a file of its kind
};

struct LoadResult {
    bool kbdImport = false;  // the extension chose the KBD import
    KbdImportStatus kbdStatus = KbdImportStatus::Ok;
    SaveResult save;  // the immediate save of a successful KBD import
    // The setup file exists but could not be read or is not a setup (or is a DAT file that
    // does not exist): what is loaded is not what it holds.
    std::optional<UnreadFile> unreadable;
    // The DAT file named with "/I=" could not be read or holds no key line; the key
    // strings are as they were.
    std::optional<UnreadFile> datFailure;
    // The INI twin whose name a KBD or DAT setup takes existed before the load.
    bool twinExisted = false;
};

// What a KBD import does with an INI twin that exists already: batch mode replaces it at
// once; the windows keep it until the operator has said at a save that it may go.
enum class ExistingTwin { Replace, Keep };

// Loads state.SetupFileName by its extension, in any letter case: ".KBD" is imported
// and, on success, saved at once as its ".INI" twin (unless the twin exists and is to be
// kept), which becomes SetupFileName; ".DAT" becomes DatImportPath, is imported into the
// key strings and SetupFileName gets ".INI" without a save; anything else is read as an
// INI file.
LoadResult LoadSetupFile(ProgramState& state, ExistingTwin existingTwin = ExistingTwin::Replace);

}  // namespace qk750
