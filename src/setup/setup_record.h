#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qk750 {

// Keys are numbered 1-84: key n sits in row (n - 1) / 12 and column (n - 1) % 12 of the
// 7 x 12 grid, counted from 0 at the top left.
inline constexpr int kKeyCount = 84;
inline constexpr int kGridRows = 7;
inline constexpr int kGridColumns = 12;

inline constexpr int keyRow(int key) {
    return (key - 1) / kGridColumns;
}
inline constexpr int keyColumn(int key) {
    return (key - 1) % kGridColumns;
}
inline constexpr int keyAt(int row, int column) {
    return row * kGridColumns + column + 1;
}

// The card-reader (MCR) and lock part of a setup.
struct SetupRecType {
    bool BuiltIn_Setup = false;
    bool TransmitChecksum = false;
    bool BF_Checksum = false;
    bool LockedSetup = false;
    std::int32_t McrSetupMode = 0;
    std::string PreambleString;
    std::string PostambleString;
    std::int32_t McrDelay = 0;

    bool operator==(const SetupRecType&) const = default;
};

// The printed keycap inserts, in millimetres: 14 mm inserts 5.05 mm apart sit at the
// keyboard's 19.05 mm key pitch.
inline constexpr double kDefaultInsertWidth = 14.0;
inline constexpr double kDefaultInsertHeight = 14.0;
inline constexpr double kDefaultInsertGap = 5.05;
inline constexpr double kMinInsertSize = 5.0;
inline constexpr double kMaxInsertSize = 30.0;
inline constexpr double kMaxInsertGap = 10.0;

// The legends printed on the keycap inserts, as a person set them, and the inserts' size.
// The device never sees any of it.
struct LegendRec {
    // Indexed by key number 1-84; empty: the legend comes from the key string.
    std::array<std::string, kKeyCount + 1> Key;
    std::array<std::string, kKeyCount + 1> Func2;
    double InsertWidth = kDefaultInsertWidth;
    double InsertHeight = kDefaultInsertHeight;
    double InsertGap = kDefaultInsertGap;

    bool operator==(const LegendRec&) const = default;
};

// The whole setup. Key strings are 8-bit text held in std::string as bytes.
struct SetupRecord {
    // Indexed by key number 1-84; element 0 is never used.
    std::array<std::string, kKeyCount + 1> KeyStrings;
    std::array<std::string, kKeyCount + 1> Func2Strings;
    SetupRecType Mcr;
    LegendRec Legends;

    bool operator==(const SetupRecord&) const = default;
};

// Empties the record but keeps McrDelay.
void ClearSetup(SetupRecord& setup);

// A key string, a Func2 string, the preamble or the postamble holds text.
bool HoldsText(const SetupRecord& setup);

}  // namespace qk750
