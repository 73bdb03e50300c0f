// KBD imports of arbitrary bytes: as given (any length), and padded or cut to the one
// valid size, so that every record's length bytes and strings are exercised. The token
// form and the DAT text conversion get the raw bytes as well.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_files.h"
#include "setup/legacy_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qk750;
    const std::string path = fuzz::scratchPath("setup.KBD");

    fuzz::writeBytes(path, data, size);
    SetupRecord setup;
    setup.KeyStrings[1] = "left over";
    const KbdImportStatus status = ImportKbdFile(setup, path);
    if (size != kKbdFileSize && status != KbdImportStatus::InvalidSize) {
        fuzz::broken("a KBD file of the wrong size was accepted");
    }
    if (status == KbdImportStatus::InvalidSize && !setup.KeyStrings[1].empty()) {
        fuzz::broken("a refused KBD file left the old setup");
    }

    std::vector<std::uint8_t> sized(data, data + std::min(size, kKbdFileSize));
    sized.resize(kKbdFileSize, 0);
    fuzz::writeBytes(path, sized.data(), sized.size());
    if (ImportKbdFile(setup, path) != KbdImportStatus::Ok) {
        fuzz::broken("a KBD file of the right size was refused");
    }

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)TokensToKeyString(text);
    (void)TokensToKeyString(DatTextToTokens(text));
    return 0;
}
