#pragma once

#include <iosfwd>
#include <string>

namespace qk750 {

// `qk750setup --list-devices`: prints the HID devices the program sees, the keyboard
// marked, and the interfaces it could not open. With `simulate` the simulated computer
// is listed instead (its memory from `memoryFile` when given, written back at the end).
// Returns the exit code: 0, also when nothing is found; 2 when the simulated computer
// cannot be set up.
int runListDevices(bool simulate, const std::string& memoryFile, bool trace, std::ostream& out,
                   std::ostream& err);

}  // namespace qk750
