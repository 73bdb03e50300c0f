#pragma once

#include <string>

#include "setup/legacy_import.h"
#include "setup/program_state.h"
#include "setup/setup_record.h"

namespace qk750 {

struct SaveResult {
    bool ok = true;
    std::string error;  // the system's text for the failure
};

// Writes the whole setup into the INI file at path, keeping every section, key and line
// of an existing file that the setup does not own. The file is replaced atomically: on
// failure the old file stays as it was. A file that exists but cannot be read is not
// replaced, since its unknown content would be lost.
SaveResult SaveSetupIni(const SetupRecord& setup, const std::string& path);

// ClearSetup, then reads every field from the INI file at path; a missing key or a value
// that is not an integer takes its default (McrSetupMode 1, McrDelay 5, flags false,
// strings empty). A missing file gives those defaults. Never creates or writes the file.
void LoadSetupIni(SetupRecord& setup, const std::string& path);

struct LoadResult {
    bool kbdImport = false;  // the extension chose the KBD import
    KbdImportStatus kbdStatus = KbdImportStatus::Ok;
    SaveResult save;  // the immediate save of a successful KBD import
};

// Loads state.SetupFileName by its extension, in any letter case: ".KBD" is imported
// and, on success, saved at once as its ".INI" twin, which becomes SetupFileName; ".DAT"
// becomes DatImportPath, is imported into the key strings and SetupFileName gets ".INI"
// without a save; anything else is read as an INI file.
LoadResult LoadSetupFile(ProgramState& state);

}  // namespace qk750
