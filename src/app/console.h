#pragma once

#include <string>
#include <vector>

namespace qk750 {

// On Windows the program is a GUI application, so started from a console it has no
// standard output or error and what --help, --list-devices or batch mode print would
// vanish. This attaches such a process to its parent's console (handles that were
// redirected stay as they are). Elsewhere there is nothing to do.
void attachParentConsole();

// The process arguments without the program name. On Windows they are read from the
// UTF-16 command line and given in UTF-8 (argv holds them in the ANSI code page, where a
// name outside it has become "?"); elsewhere they are argv as it is.
std::vector<std::string> commandLineArguments(int argc, char* argv[]);

}  // namespace qk750
