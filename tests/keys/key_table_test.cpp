#include "keys/key_table.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace qk750 {
namespace {

TEST(KeyTable, NoRowClashesWithTheCompiledStringMarks) {
    EXPECT_TRUE(KeyTable[kKeyTableRows].Name.empty());
    EXPECT_EQ(KeyTable[kKeyTableRows].Code, 0);
    for (int row = 1; row < kKeyTableRows; ++row) {
        SCOPED_TRACE(row);
        EXPECT_FALSE(KeyTable[row].Name.empty());
        // 0 ends the table; 0xF3 and 0xFF mark modified groups and the end of a string.
        EXPECT_NE(KeyTable[row].Code, 0);
        EXPECT_NE(KeyTable[row].Code, 0xF3);
        EXPECT_NE(KeyTable[row].Code, 0xFF);
        EXPECT_LE(KeyTable[row].Shifted, 1);
    }
}

TEST(KeyTable, EveryPrintableCharacterButSpaceHasARowAndNothingElseDoes) {
    for (int byte = 0; byte < 256; ++byte) {
        const bool printable = byte >= 0x21 && byte <= 0x7E;
        EXPECT_EQ(FindKeyByName(std::string(1, static_cast<char>(byte))) != 0, printable) << byte;
    }
}

// A name found earlier in the table wins, so a later duplicate must mean the same key.
TEST(KeyTable, EveryNameFindsARowWithTheSameKey) {
    for (int row = 1; row < kKeyTableRows; ++row) {
        const int found = FindKeyByName(KeyTable[row].Name);
        ASSERT_NE(found, 0) << row;
        EXPECT_LE(found, row);
        EXPECT_EQ(KeyTable[found].Code, KeyTable[row].Code) << KeyTable[row].Name;
        EXPECT_EQ(KeyTable[found].Shifted, KeyTable[row].Shifted) << KeyTable[row].Name;
    }
}

TEST(KeyTable, NameAndModifierLookups) {
    const struct {
        std::string_view text;
        int keyRow;       // FindKeyByName: first exact, case-sensitive match
        int modifierRow;  // FindModifierPrefix: Shift 1, Ctrl 2, Alt 3 at the front
    } cases[] = {
        {"Shift", 1, 1},    {"Ctrl", 2, 2},   {"Alt", 3, 3},      {"ShiftEsc", 0, 1},
        {"CtrlC", 0, 2},    {"AltF4", 0, 3},  {"AltShift", 0, 3}, {"ShiftAlt", 0, 1},
        {"shiftEsc", 0, 0}, {"shift", 0, 0},  {"Shif", 0, 0},     {"LShift", 78, 0},
        {" Shift", 0, 0},   {"", 0, 0},       {"Esc", 7, 0},      {"PgUp", 63, 0},
        {"Pgup", 10, 0},    {"pgup", 0, 0},   {"a", 88, 0},       {"A", 114, 0},
        {" ", 0, 0},        {"caps", 0, 0},   {"Caps", 34, 0},    {"Pad Enter", 76, 0},
        {"Enter ", 0, 0},   {" Enter", 0, 0}, {"Right", 17, 0},   {"FUNC2_SHIFT", 87, 0},
        {"0", 149, 0},      {")", 159, 0},    {"\\", 27, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + std::string(c.text) + "\"");
        EXPECT_EQ(FindKeyByName(c.text), c.keyRow);
        EXPECT_EQ(FindModifierPrefix(c.text), c.modifierRow);
    }
}

}  // namespace
}  // namespace qk750
