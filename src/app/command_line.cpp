#include "app/command_line.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "setup/native_path.h"

namespace qk750 {

namespace {

std::string upperAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return result;
}

bool isSeparator(char c, PathRules rules) {
    if (rules == PathRules::Windows) {
        return c == '\\' || c == '/' || c == ':';
    }
    return c == '/';
}

// A POSIX parameter beginning with "/" is a switch only when its name (up to any "=")
// holds no further "/" and no "."; otherwise it is an absolute path ("/shop.ini").
bool isSwitch(std::string_view parameter, PathRules rules) {
    if (parameter.empty() || parameter.front() != '/') {
        return false;
    }
    if (rules == PathRules::Windows) {
        return true;
    }
    const std::string_view name = parameter.substr(0, parameter.find('='));
    return name.find_first_of("/.", 1) == std::string_view::npos;
}

bool isWritableDirectory(const std::string& directory) {
    if (directory.empty()) {
        return false;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(nativePath(directory), ec)) {
        return false;
    }
#ifdef _WIN32
    return _waccess(wideText(directory).c_str(), 2) == 0;
#else
    return access(directory.c_str(), W_OK) == 0;
#endif
}

}  // namespace

std::string directoryPart(std::string_view path, PathRules rules) {
    std::size_t end = path.size();
    while (end > 0 && !isSeparator(path[end - 1], rules)) {
        --end;
    }
    if (end == 0) {
        return {};
    }
    // Drop the separator itself unless it is all that is left of a root.
    std::string_view directory = path.substr(0, end);
    const bool root = end == 1 || (rules == PathRules::Windows && end == 3 && path[1] == ':');
    if (!root && path[end - 1] != ':') {
        directory.remove_suffix(1);
    }
    return std::string(directory);
}

std::string joinPath(std::string_view directory, std::string_view name, PathRules rules) {
    std::string result(directory);
    if (!result.empty() && !isSeparator(result.back(), rules)) {
        result += rules == PathRules::Windows ? '\\' : '/';
    } else if (!result.empty() && result.back() == ':') {
        result += '\\';
    }
    result += name;
    return result;
}

void ParseCommandLine(ProgramState& state, const std::vector<std::string>& parameters,
                      PathRules rules) {
    state.ErrorFilePath = std::string(kErrorFileName);
    state.DatImportPath.clear();
    state.BatchMode = false;
    if (parameters.empty()) {
        return;
    }

    for (const std::string& parameter : parameters) {
        if (parameter.empty()) {
            continue;
        }
        const std::string upper = upperAscii(parameter);
        // Windows compares and keeps everything upper-cased; elsewhere paths keep their case.
        const std::string& kept = rules == PathRules::Windows ? upper : parameter;
        if (isSwitch(parameter, rules)) {
            if (upper.starts_with("/I=")) {
                state.DatImportPath = kept.substr(3);
            }
            if (upper.starts_with("/B")) {
                state.BatchMode = true;
            }
        } else {
            state.SetupFileName = kept;
        }
    }

    const std::string directory = directoryPart(state.SetupFileName, rules);
    if (!directory.empty()) {
        state.ErrorFilePath = joinPath(directory, kErrorFileName, rules);
    }
}

std::string defaultSetupFileName(const std::string& programDirectory,
                                 const std::string& configBase) {
    if (isWritableDirectory(programDirectory)) {
        return joinPath(programDirectory, kDefaultSetupFile);
    }
    if (configBase.empty()) {
        return std::string(kDefaultSetupFile);
    }
    const std::string directory = joinPath(configBase, "qk750setup");
    std::error_code ec;
    // A failure shows up later, when the setup is saved there.
    std::filesystem::create_directories(nativePath(directory), ec);
    return joinPath(directory, kDefaultSetupFile);
}

std::string defaultSetupFileName() {
    return defaultSetupFileName(executableDirectory(), userConfigBase());
}

std::string executableDirectory() {
#ifdef _WIN32
    std::wstring buffer(32768, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        return {};
    }
    buffer.resize(length);
    return directoryPart(utf8Text(buffer), PathRules::Windows);
#else
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    return exe.parent_path().string();
#endif
}

std::string userConfigBase() {
#ifdef _WIN32
    const wchar_t* appData = _wgetenv(L"APPDATA");
    return appData != nullptr ? utf8Text(appData) : std::string();
#else
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.config";
    }
    return {};
#endif
}

}  // namespace qk750
