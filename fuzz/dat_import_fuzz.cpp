// DAT key lists of arbitrary bytes: the import touches only the key strings.

#include <cstddef>
#include <cstdint>

#include "fuzz_files.h"
#include "setup/legacy_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qk750;
    const std::string path = fuzz::scratchPath("keys.DAT");
    fuzz::writeBytes(path, data, size);

    SetupRecord setup;
    setup.Mcr.PreambleString = "<Enter>";
    setup.Mcr.LockedSetup = true;
    setup.Mcr.McrDelay = 300;
    const SetupRecType mcr = setup.Mcr;
    ImportDatFile(setup, path);
    if (!(setup.Mcr == mcr)) {
        fuzz::broken("the DAT import changed the MCR part");
    }
    if (!setup.KeyStrings[0].empty() || !setup.Func2Strings[0].empty()) {
        fuzz::broken("the DAT import wrote key 0");
    }
    return 0;
}
