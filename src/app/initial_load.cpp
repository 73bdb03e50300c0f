#include "app/initial_load.h"

#include "app/mcr_settings.h"
#include "setup/file_names.h"
#include "setup/legacy_import.h"

namespace qk750 {

LoadResult InitialLoad(ProgramState& state, ExistingTwin existingTwin) {
    state.ProgrammingOk = false;
    const bool setupIsDat = HasExtension(state.SetupFileName, ".DAT");
    LoadResult result = LoadSetupFile(state, existingTwin);
    // After LoadSetupFile: a ".DAT" setup file has just become the DAT to import (a second
    // time; its own failure is the setup file's).
    const FileReadResult dat = ImportDatFile(state.Setup, state.DatImportPath);
    if (dat.status != ReadStatus::Ok && !setupIsDat) {
        result.datFailure =
            UnreadFile{state.DatImportPath, dat.error, dat.status == ReadStatus::Invalid};
    }
    state.Setup.Mcr = mcrAsShownAndGathered(state.Setup.Mcr);
    state.Globals.EditTarget = kEditKeyLines;
    state.Globals.StopWaiting = false;
    return result;
}

}  // namespace qk750
