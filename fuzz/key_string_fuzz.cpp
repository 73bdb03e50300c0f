// Any text compiles to a well-formed byte string, and tokenizing always ends.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_files.h"
#include "keys/key_string.h"

namespace {

// Empty, or plain codes and modified groups (0xF3, modifier bits 1-7, code) followed by
// exactly one end mark; 0xF3 and 0xFF appear nowhere else.
bool wellFormed(const qk750::Bytes& b) {
    using namespace qk750;
    if (b.empty()) {
        return true;
    }
    std::size_t i = 0;
    while (i + 1 < b.size() && b[i] != kEndMark) {
        if (b[i] != kModifiedGroup) {
            ++i;
        } else if (i + 3 < b.size() && b[i + 1] >= 1 && b[i + 1] <= 7 &&
                   b[i + 2] != kModifiedGroup && b[i + 2] != kEndMark) {
            i += 3;
        } else {
            return false;
        }
    }
    return i + 1 == b.size() && b[i] == kEndMark;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qk750;
    const std::string text(reinterpret_cast<const char*>(data), size);

    if (!wellFormed(CompileKeyString(text))) {
        fuzz::broken("CompileKeyString gave a malformed string");
    }
    if (!wellFormed(CompileKeyString(TrimKeyString(text)))) {
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
