#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qk750 {

// One key the firmware knows: the name written in a tag (or the character as typed),
// its code, and whether the character is typed with Shift held.
struct KeyRec {
    std::string_view Name;
    std::uint8_t Code;
    std::uint8_t Shifted;
};

inline constexpr int kKeyTableRows = 160;  // row 160 is the terminator

// Indexed 1..160; element 0 is unused. Rows 1-3 are Shift, Ctrl, Alt; the terminator
// (empty name, code 0) is last and is the only row with code 0.
extern const std::array<KeyRec, kKeyTableRows + 1> KeyTable;

// Modifier bits of a compiled modified group.
inline constexpr std::uint8_t kModCtrl = 0x01;
inline constexpr std::uint8_t kModShift = 0x02;
inline constexpr std::uint8_t kModAlt = 0x04;

// Row (1..159) of the first key named exactly `text`, or 0.
int FindKeyByName(std::string_view text);

// 1 when `text` begins with "Shift", 2 with "Ctrl", 3 with "Alt" (tested in that order), else 0.
int FindModifierPrefix(std::string_view text);

}  // namespace qk750
