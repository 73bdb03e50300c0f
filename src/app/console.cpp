#include "app/console.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdio>
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

}  // namespace qk750
