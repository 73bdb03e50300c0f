#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qk750 {

using Bytes = std::vector<std::uint8_t>;

// End mark of a compiled key string and first byte of a modified group (0xF3, bits, code).
inline constexpr std::uint8_t kEndMark = 0xFF;
inline constexpr std::uint8_t kModifiedGroup = 0xF3;

// A compiled string stops reading its source after this many modifier tags.
inline constexpr int kMaxModifierTags = 25;

// Cuts the next token off the front of `source` and returns it: ">" for ">>", "<" for
// "<<", a whole tag "<...>" up to the first ">", or a single character (a "<" with no ">"
// after it is a single character too). Returns "" when `source` is empty.
std::string NextToken(std::string& source);

// Compiles a key string into device bytes: plain codes and modified groups, then the end
// mark; empty when nothing in the text names a key. Never fails: what names no key is
// dropped.
Bytes CompileKeyString(std::string_view source);

// Removes leading and trailing bytes <= 0x20 (blanks and control characters).
std::string TrimKeyString(std::string_view s);

}  // namespace qk750
