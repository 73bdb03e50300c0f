#include "keys/key_insight.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace qk750 {
namespace {

// A string of n lower-case letters compiles to n + 1 bytes.
std::string letters(int n) {
    return std::string(static_cast<std::size_t>(n), 'a');
}

// Fills first-layer keys from key 1 on with strings taking `bytes` string-area bytes in
// all (48 per key; never a remainder of 1 or 2 bytes, which would not be stored).
void fillKeys(SetupRecord& setup, int bytes) {
    for (int k = 1, n; bytes > 0; ++k, bytes -= n) {
        n = bytes == 49 || bytes == 50 ? 45 : std::min(bytes, 48);
        setup.KeyStrings[k] = letters(n - 1);
    }
}

// The meter must say what the build says: the same result and, on success, the same size.
// Each case fills first-layer keys with `fill` bytes, then sets one string: 'k' a key, 'f'
// a Func2 string, 'q' the postamble, 'p' the preamble, '*' every key in both layers.
TEST(MemoryUse, AgreesWithTheBuild) {
    using L = MemoryLevel;
    const struct {
        int fill;
        char where;
        int key;
        std::string text;
        int used;
        MemoryLevel level;
        int failedKey, layer;
        const char* failure;
    } cases[] = {
        {0, 0, 0, "", 0, L::Ok, 0, 0, ""},
        {1524, 0, 0, "", 1524, L::Ok, 0, 0, ""},
        {1525, 0, 0, "", 1525, L::Warning, 0, 0, ""},
        // A full string area still takes one-code keys.
        {1694, 'k', 37, "a", 1694, L::Warning, 0, 0, ""},
        {1695, 0, 0, "", 1695, L::Error, 36, 1, "memory full at key 36"},
        {1680, 'f', 40, letters(14), 1695, L::Error, 40, 2, "memory full at key 40 (Func2)"},
        // A one-code postamble is stored as three bytes.
        {1692, 'q', 0, "<F8>", 1695, L::Error, 86, 1, "memory full at the postamble"},
        {1692, 'p', 0, "ab", 1695, L::Error, 85, 1, "memory full at the preamble"},
        {1690, 'f', 84, letters(4), 1695, L::Error, 84, 2, "memory full at key 84 (Func2)"},
        // Counted to the end, past the failure.
        {0, '*', 0, letters(19), 168 * 20, L::Error, 1, 2, "memory full at key 1 (Func2)"},
        {0, 'f', 12, letters(48), 49, L::Error, 12, 2, "Key 12 is too long (Func2)"},
        {0, 'p', 0, letters(48), 49, L::Error, 85, 1, "MCR preamble is too long"},
        {0, 'k', 7, letters(48), 49, L::Error, 7, 1, "Key 7 is too long"},
        {0, 'q', 0, letters(48), 49, L::Error, 86, 1, "MCR postamble is too long"},
        {0, 'q', 0, letters(47), 48, L::Ok, 0, 0, ""},
        // The build makes this a lone Func2 key before it measures anything.
        {0, 'k', 3, "<FUNC2_TOGGLE>" + letters(60), 0, L::Ok, 0, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.used);
        SetupRecord setup;
        setup.Mcr.McrDelay = 5;
        fillKeys(setup, c.fill);
        std::map<char, std::string*> target{{'k', &setup.KeyStrings[c.key]},
                                            {'f', &setup.Func2Strings[c.key]},
                                            {'p', &setup.Mcr.PreambleString},
                                            {'q', &setup.Mcr.PostambleString}};
        for (int k = 1; c.where == '*' && k <= kKeyCount; ++k) {
            setup.KeyStrings[k] = setup.Func2Strings[k] = c.text;
        }
        if (target.contains(c.where)) {
            *target[c.where] = c.text;
        }
        const SetupRecord before = setup;
        const MemoryUse use = computeMemoryUse(setup);
        EXPECT_EQ(setup, before);  // insight never changes the setup
        EXPECT_EQ(memoryMeterText(use), std::to_string(c.used) + " / 1694 bytes");
        EXPECT_EQ(use.level, c.level);
        EXPECT_EQ(use.result.key * 10 + use.result.layer, c.failedKey * 10 + c.layer);
        EXPECT_EQ(imageFailureText(use.result), c.failure);
    }
    // Both layers' lengths, in the key's own check and in the one for the whole grid.
    SetupRecord setup;
    setup.KeyStrings[5] = "ab";
    setup.Func2Strings[5] = "<Enter>";
    for (const KeyLengths& lengths : {compiledLengths(setup, 5), allCompiledLengths(setup)[5]}) {
        EXPECT_EQ(keyLengthsTooltip(lengths), "Key 5: 3 / 48 bytes, Func2: 2 / 48");
    }
}

// The texts are checked where they are the operator's only guide.
TEST(UnknownNames, NameTheNearestRealTag) {
    using K = NameHintKind;
    // clang-format off
    const struct {
        const char* line;
        NameHintKind kind;
        const char* token;
        int position;
        const char* suggestion;
        const char* text;
    } cases[] = {
        {"<shift>", K::CaseMismatch, "<shift>", 0, "<Shift>",
         "<shift> is not a key name; names are case-sensitive: <Shift>"},
        {"<SHIFTTab>", K::CaseMismatch, "<SHIFTTab>", 0, "<ShiftTab>", ""},
        {"<ctrla>", K::CaseMismatch, "<ctrla>", 0, "<CtrlA>", ""},
        {"<Caps Lock>", K::Misspelt, "<Caps Lock>", 0, "<Caps>", "<Caps Lock>: did you mean <Caps>?"},
        {"<ShiftPage Down>", K::Misspelt, "<ShiftPage Down>", 0, "<ShiftPgDn>", ""},
        {"<Xyzzy>", K::UnknownName, "<Xyzzy>", 0, "", ""},
        {"<AltShiftTab>", K::TwoModifiers, "<AltShiftTab>", 0, "", ""},
        {"a<b<Enter>", K::BracketInsideTag, "<b<Enter>", 1, "", ""}, {"a<>", K::EmptyTag, "<>", 1, "", ""},
        {" 12 50 ", K::Blank, " ", 3, "<Space>", "a blank types nothing; write <Space>"},
        {"x\xE9y", K::NoKeyCharacter, "\xE9", 1, "", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto hints = unknownNames(c.line);
        ASSERT_EQ(hints.size(), 1u);
        EXPECT_EQ(hints[0].kind, c.kind);
        EXPECT_EQ(hints[0].token, c.token);
        EXPECT_EQ(hints[0].position, c.position);
        EXPECT_EQ(hints[0].suggestion, c.suggestion);
        EXPECT_EQ(*c.text ? hints[0].text : std::string(), c.text);
        EXPECT_FALSE(hints[0].text.empty());
    }
}

TEST(UnknownNames, NothingForWhatTypesSomethingEachTokenOnce) {
    for (const char* line : {"", "   ", "  ab  ", "<Ctrlx>", "<<Enter>>", "a>b", "<a",
                             "<ShiftShift>", "<CtrlP>12.50<Tab><ShiftF3>Total"}) {
        EXPECT_TRUE(unknownNames(line).empty()) << line;
    }
    const auto hints = unknownNames("<caps>x<shift> <caps>");
    ASSERT_EQ(hints.size(), 3u);
    EXPECT_EQ(hints[1].token + std::to_string(hints[1].position), "<shift>7");
}

}  // namespace
}  // namespace qk750
