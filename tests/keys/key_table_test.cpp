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
        EXPECT_TRUE(KeyTable[row].Name.size() == 1 || !KeyTable[row].Shifted);  // named: bare
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

// Names are case-sensitive and whole; a modifier name at the front counts as a prefix.
TEST(KeyTable, NameAndModifierLookups) {
    const struct {
        std::string_view text;
        bool known;
        int modifierRow;  // FindModifierPrefix: Shift 1, Ctrl 2, Alt 3
    } cases[] = {
        {"Shift", true, 1},  {"Ctrl", true, 2},  {"AltF4", false, 3},  {"ShiftAlt", false, 1},
        {"shift", false, 0}, {"Shif", false, 0}, {" Shift", false, 0}, {"", false, 0},
        {"Pgup", true, 0},   {"pgup", false, 0}, {"Enter ", false, 0}, {"Pad Enter", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + std::string(c.text) + "\"");
        EXPECT_EQ(FindKeyByName(c.text) != 0, c.known);
        EXPECT_EQ(FindModifierPrefix(c.text), c.modifierRow);
    }
}

}  // namespace
}  // namespace qk750
