// An INI setup file of arbitrary bytes: loading never fails, and saving what was loaded
// over the same file and loading again gives the same setup.

#include <cstddef>
#include <cstdint>

#include "fuzz_files.h"
#include "setup/setup_file.h"

namespace {

// The writer drops CR and LF inside values: they would split the line.
void dropLineBreaks(std::string& value) {
    std::erase_if(value, [](char c) { return c == '\r' || c == '\n'; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qk750;
    const std::string path = fuzz::scratchPath("setup.ini");
    fuzz::writeBytes(path, data, size);

    SetupRecord first;
    LoadSetupIni(first, path);
    if (!SaveSetupIni(first, path).ok) {
        fuzz::broken("saving a loaded setup failed");
    }
    SetupRecord second;
    LoadSetupIni(second, path);

    for (int key = 1; key <= kKeyCount; ++key) {
        dropLineBreaks(first.KeyStrings[key]);
        dropLineBreaks(first.Func2Strings[key]);
    }
    dropLineBreaks(first.Mcr.PreambleString);
    dropLineBreaks(first.Mcr.PostambleString);
    if (!(first == second)) {
        fuzz::broken("save and load changed the setup");
    }
    return 0;
}
