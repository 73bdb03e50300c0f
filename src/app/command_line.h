#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "setup/program_state.h"

namespace qk750 {

inline constexpr std::string_view kDefaultSetupFile = "QK750.INI";
inline constexpr std::string_view kErrorFileName = "QK750.ERR";

// How a parameter is told apart from a path. Windows upper-cases every parameter and
// treats anything beginning with "/" as a switch; on a case-sensitive file system with
// "/" as separator that would lose the case of paths and mistake absolute paths for
// switches, so there only switches are recognised in upper case, and "/home/op/x.ini"
// stays a file.
enum class PathRules { Posix, Windows };

#ifdef _WIN32
inline constexpr PathRules kNativePathRules = PathRules::Windows;
#else
inline constexpr PathRules kNativePathRules = PathRules::Posix;
#endif

// Reads the plain parameters (never the "--" options) into SetupFileName, DatImportPath,
// BatchMode and ErrorFilePath. SetupFileName must already hold the default setup file.
void ParseCommandLine(ProgramState& state, const std::vector<std::string>& parameters,
                      PathRules rules = kNativePathRules);

// Directory part of a path under the given rules, without its trailing separator unless
// it is the root ("/" or "C:\"); "" when the path names no directory.
std::string directoryPart(std::string_view path, PathRules rules = kNativePathRules);

// Joins a directory and a file name with the platform's separator.
std::string joinPath(std::string_view directory, std::string_view name,
                     PathRules rules = kNativePathRules);

// The default setup file: QK750.INI in programDirectory when that directory is writable,
// else in "<configBase>/qk750setup", created when needed. configBase is the user's
// configuration directory (XDG_CONFIG_HOME or ~/.config).
std::string defaultSetupFileName(const std::string& programDirectory,
                                 const std::string& configBase);

// The same for this process: the executable's directory and the user's configuration
// directory.
std::string defaultSetupFileName();

// Directory of the running executable ("" when it cannot be found).
std::string executableDirectory();

// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config (Windows: %APPDATA%).
std::string userConfigBase();

}  // namespace qk750
