#include "keys/key_table.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>

namespace qk750 {
namespace {

TEST(KeyTable, TerminatorIsLastAndTheOnlyRowWithCodeZero) {
    const KeyRec& last = KeyTable[kKeyTableRows];
    EXPECT_TRUE(last.Name.empty());
    EXPECT_EQ(last.Code, 0);
    EXPECT_EQ(last.Shifted, 0);
    for (int row = 1; row < kKeyTableRows; ++row) {
        SCOPED_TRACE(row);
        EXPECT_FALSE(KeyTable[row].Name.empty());
        EXPECT_NE(KeyTable[row].Code, 0);
        // 0xF3 and 0xFF mark modified groups and the end of a compiled string.
        EXPECT_NE(KeyTable[row].Code, 0xF3);
        EXPECT_NE(KeyTable[row].Code, 0xFF);
        EXPECT_LE(KeyTable[row].Shifted, 1);
    }
}

TEST(KeyTable, ModifierRowsComeFirst) {
    const KeyRec expected[] = {{"Shift", 0xE1, 0}, {"Ctrl", 0xE0, 0}, {"Alt", 0xE2, 0}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(KeyTable[i + 1].Name, expected[i].Name);
        EXPECT_EQ(KeyTable[i + 1].Code, expected[i].Code);
        EXPECT_EQ(KeyTable[i + 1].Shifted, 0);
    }
}

struct CharRun {
    int firstRow;
    std::string_view chars;
    std::uint8_t firstCode;
    std::uint8_t shifted;
};

TEST(KeyTable, CharacterRunsAreContiguousAndAscending) {
    const CharRun runs[] = {
        {88, "abcdefghijklmnopqrstuvwxyz", 0x04, 0},
        {114, "ABCDEFGHIJKLMNOPQRSTUVWXYZ", 0x04, 1},
        {140, "1234567890", 0x1E, 0},
        {150, "!@#$%^&*()", 0x1E, 1},
    };
    for (const CharRun& run : runs) {
        for (std::size_t i = 0; i < run.chars.size(); ++i) {
            const KeyRec& rec = KeyTable[run.firstRow + static_cast<int>(i)];
            SCOPED_TRACE(std::string(1, run.chars[i]));
            EXPECT_EQ(rec.Name, run.chars.substr(i, 1));
            EXPECT_EQ(rec.Code, run.firstCode + i);
            EXPECT_EQ(rec.Shifted, run.shifted);
        }
    }
}

TEST(KeyTable, EveryPrintableCharacterButSpaceHasARowAndNothingElseDoes) {
    for (int byte = 0; byte < 256; ++byte) {
        const std::string text(1, static_cast<char>(byte));
        const bool printable = byte >= 0x21 && byte <= 0x7E;
        EXPECT_EQ(FindKeyByName(text) != 0, printable) << "byte " << byte;
    }
}

TEST(KeyTable, DuplicateNamesCarryTheSameCode) {
    std::map<std::string_view, int> first;
    int duplicates = 0;
    for (int row = 1; row < kKeyTableRows; ++row) {
        const auto [it, inserted] = first.emplace(KeyTable[row].Name, row);
        if (!inserted) {
            ++duplicates;
            EXPECT_EQ(KeyTable[row].Code, KeyTable[it->second].Code) << KeyTable[row].Name;
            EXPECT_EQ(KeyTable[row].Shifted, KeyTable[it->second].Shifted);
        }
    }
    // Esc, Back, Tab, Ins, Home, Del, End, PgDn, Up, Left, Down, Right.
    EXPECT_EQ(duplicates, 12);
}

TEST(KeyTable, EveryRowIsReachableByName) {
    for (int row = 1; row < kKeyTableRows; ++row) {
        const int found = FindKeyByName(KeyTable[row].Name);
        ASSERT_NE(found, 0) << row;
        EXPECT_LE(found, row);
        EXPECT_EQ(KeyTable[found].Name, KeyTable[row].Name);
    }
}

TEST(FindKeyByName, ReturnsTheFirstExactMatch) {
    const struct {
        std::string_view text;
        int row;
    } cases[] = {
        {"Esc", 7},    {"PgUp", 63},  {"Pgup", 10},  {"pgup", 0},
        {"a", 88},     {"A", 114},    {" ", 0},      {"shift", 0},
        {"caps", 0},   {"Caps", 34},  {"", 0},       {"Pad Enter", 76},
        {"Enter ", 0}, {" Enter", 0}, {"Right", 17}, {"FUNC2_SHIFT", 87},
        {"0", 149},    {")", 159},    {"\\", 27},    {"Shift", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindKeyByName(c.text), c.row) << '"' << c.text << '"';
    }
    EXPECT_EQ(KeyTable[76].Code, 0x58);
}

TEST(FindModifierPrefix, TestsShiftCtrlAltAsPrefixes) {
    const struct {
        std::string_view text;
        int row;
    } cases[] = {
        {"ShiftEsc", 1}, {"CtrlC", 2},    {"AltF4", 3},    {"Shift", 1},  {"Ctrl", 2},
        {"Alt", 3},      {"shiftEsc", 0}, {"Esc", 0},      {"", 0},       {"Shif", 0},
        {"LShift", 0},   {"AltShift", 3}, {"ShiftAlt", 1}, {" Shift", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindModifierPrefix(c.text), c.row) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace qk750
