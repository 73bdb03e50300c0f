#pragma once

#include <string>
#include <string_view>

namespace qk750 {

// Outcome codes of a batch run, line 1 of the outcome file.
inline constexpr std::string_view kOutcomeOk = "OK";
inline constexpr std::string_view kErrSetupFileNotFound = "ERR_SETUP_FILE_NOT_FOUND";
inline constexpr std::string_view kErrSetupFileInvalid = "ERR_SETUP_FILE_INVALID";

// Writes the two-line outcome file (code, detail, each ended by CR LF), replacing whatever
// the file held. Returns "" when written, else the system's text for why not.
std::string WriteErrorFile(const std::string& path, std::string_view code, std::string_view detail);

}  // namespace qk750
