#include "app/console.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <cstdio>

#include "setup/native_path.h"
#endif

namespace qk750 {

void attachParentConsole() {
#ifdef _WIN32
    const auto missing = [](DWORD which) {
        const HANDLE handle = ::GetStdHandle(which);
        return handle == nullptr || handle == INVALID_HANDLE_VALUE;
    };
    const bool noOutput = missing(STD_OUTPUT_HANDLE);
    const bool noError = missing(STD_ERROR_HANDLE);
    if (!(noOutput || noError) || !::AttachConsole(ATTACH_PARENT_PROCESS)) {
        return;  // redirected, or started from Explorer: no console to write to
    }
    if (noOutput) {
        (void)std::freopen("CONOUT$", "w", stdout);
    }
    if (noError) {
        (void)std::freopen("CONOUT$", "w", stderr);
    }
#endif
}

std::vector<std::string> commandLineArguments(int argc, char* argv[]) {
#ifdef _WIN32
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide != nullptr) {
        std::vector<std::string> arguments;
        for (int i = 1; i < count; ++i) {
            arguments.push_back(utf8Text(wide[i]));
        }
        ::LocalFree(wide);
        return arguments;
    }
#endif
    return argc > 0 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

}  // namespace qk750
