#include "app/initial_load.h"

#include "app/mcr_settings.h"
#include "setup/legacy_import.h"

namespace qk750 {

LoadResult InitialLoad(ProgramState& state) {
    state.ProgrammingOk = false;
    LoadResult result = LoadSetupFile(state);
    // After LoadSetupFile: a ".DAT" setup file has just become the DAT to import.
    ImportDatFile(state.Setup, state.DatImportPath);
    state.Setup.Mcr = mcrAsShownAndGathered(state.Setup.Mcr);
    state.Globals.EditTarget = kEditKeyLines;
    state.Globals.StopWaiting = false;
    return result;
}

}  // namespace qk750
