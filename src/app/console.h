#pragma once

namespace qk750 {

// On Windows the program is a GUI application, so started from a console it has no
// standard output or error and what --help, --list-devices or batch mode print would
// vanish. This attaches such a process to its parent's console (handles that were
// redirected stay as they are). Elsewhere there is nothing to do.
void attachParentConsole();

}  // namespace qk750
