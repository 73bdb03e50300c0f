// Any text compiles to a well-formed byte string, and tokenizing always ends.

#include <cstddef>
#include <cstdint>
#include <string>

#include "compiled_string.h"
#include "fuzz_files.h"
#include "keys/key_string.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qk750;
    const std::string text(reinterpret_cast<const char*>(data), size);

    if (!fuzz::wellFormedCompiled(CompileKeyString(text))) {
        fuzz::broken("CompileKeyString gave a malformed string");
    }
    if (!fuzz::wellFormedCompiled(CompileKeyString(TrimKeyString(text)))) {
        fuzz::broken("CompileKeyString of the trimmed text gave a malformed string");
    }

    std::string source = text;
    std::size_t consumed = 0;
    while (!source.empty()) {
        const std::size_t before = source.size();
        const std::string token = NextToken(source);
        if (token.empty() || source.size() >= before) {
            fuzz::broken("NextToken did not cut a token off a non-empty text");
        }
        consumed += before - source.size();
    }
    if (consumed != size) {
        fuzz::broken("NextToken lost or invented characters");
    }
    return 0;
}
