#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qk750 {

// Small byte-text helpers shared by the setup file readers. Text is 8-bit: every
// comparison and case fold is ASCII-only, other bytes compare as themselves.

// Drops bytes of value 32 and below at both ends, as the legacy tools trimmed.
std::string_view trimControl(std::string_view text);

bool equalsIgnoreCase(std::string_view a, std::string_view b);

// A decimal integer as INI readers accept it: optional blanks (space, tab) around it,
// an optional "+" or "-", then one or more digits and nothing else. Values outside the
// signed 32-bit range do not parse.
std::optional<std::int32_t> parseDecimal(std::string_view text);

}  // namespace qk750
