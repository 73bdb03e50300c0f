#pragma once

#include <string_view>

#include "setup/program_state.h"
#include "setup/setup_file.h"

namespace qk750 {

// Shown (or printed) when a ".KBD" setup file does not have the size of one.
inline constexpr std::string_view kInvalidKbdFileSizeText = "Invalid KBD File size";

// The initial load without windows: loads SetupFileName by its extension, imports the DAT
// file named with "/I=", and leaves the MCR part as showing and gathering it in the
// dialogs would. Returns what the caller must report: the KBD import status, the result
// of the immediate save of a KBD file's INI twin, and any file that could not be read.
// existingTwin: as for LoadSetupFile.
LoadResult InitialLoad(ProgramState& state, ExistingTwin existingTwin = ExistingTwin::Replace);

}  // namespace qk750
