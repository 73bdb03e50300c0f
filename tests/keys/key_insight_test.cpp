#include "keys/key_insight.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "keys/key_string.h"
#include "keys/key_table.h"

namespace qk750 {
namespace {

// `count` lower-case letters compile to count + 1 bytes.
std::string letters(int count) {
    return std::string(static_cast<std::size_t>(count), 'a');
}

// Fills first-layer keys from key 1 on with strings taking `bytes` string-area bytes in
// all (48 per key; never a remainder of 1 or 2 bytes, which would not be stored).
void fillKeys(SetupRecord& setup, int bytes) {
    for (int k = 1; bytes > 0; ++k) {
        int n = std::min(bytes, 48);
        if (bytes - n == 1 || bytes - n == 2) {
            n -= 3;
        }
        setup.KeyStrings[k] = letters(n - 1);
        bytes -= n;
    }
}

// The meter must say what the build says: the same result and, on success, the same size.
TEST(MemoryUse, AgreesWithTheBuild) {
    const struct {
        const char* name;
        std::function<void(SetupRecord&)> fill;
        int used;
        MemoryLevel level;
        int key, layer;
        const char* failure;
    } cases[] = {
        {"empty", [](SetupRecord&) {}, 0, MemoryLevel::Ok, 0, 0, ""},
        {"below the warning", [](SetupRecord& s) { fillKeys(s, 1524); }, 1524, MemoryLevel::Ok, 0,
         0, ""},
        {"at the warning", [](SetupRecord& s) { fillKeys(s, 1525); }, 1525, MemoryLevel::Warning, 0,
         0, ""},
        {"exactly full", [](SetupRecord& s) { fillKeys(s, 1694); }, 1694, MemoryLevel::Warning, 0,
         0, ""},
        {"one byte over", [](SetupRecord& s) { fillKeys(s, 1695); }, 1695, MemoryLevel::Error, 36,
         1, "memory full at key 36"},
        {"full in Func2",
         [](SetupRecord& s) {
             fillKeys(s, 1680);
             s.Func2Strings[40] = letters(14);
         },
         1695, MemoryLevel::Error, 40, 2, "memory full at key 40 (Func2)"},
        {"full at the postamble",
         [](SetupRecord& s) {
             fillKeys(s, 1692);
             s.Mcr.PostambleString = "<F8>";  // one code, stored as three bytes
         },
         1695, MemoryLevel::Error, 86, 1, "memory full at the postamble"},
        {"far over, counted to the end",
         [](SetupRecord& s) {
             for (int k = 1; k <= kKeyCount; ++k) {
                 s.KeyStrings[k] = s.Func2Strings[k] = letters(19);
             }
         },
         168 * 20, MemoryLevel::Error, 1, 2, "memory full at key 1 (Func2)"},
        {"key of 49 bytes", [](SetupRecord& s) { s.Func2Strings[12] = letters(48); }, 49,
         MemoryLevel::Error, 12, 2, "Key 12 is too long (Func2)"},
        {"preamble of 49 bytes", [](SetupRecord& s) { s.Mcr.PreambleString = letters(48); }, 49,
         MemoryLevel::Error, 85, 1, "MCR preamble is too long"},
        // The build makes this a lone Func2 key before it measures anything.
        {"Func2 key with a long string",
         [](SetupRecord& s) { s.KeyStrings[3] = "<FUNC2_TOGGLE>" + letters(60); }, 0,
         MemoryLevel::Ok, 0, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetupRecord setup;
        setup.Mcr.McrDelay = 5;
        c.fill(setup);
        const SetupRecord before = setup;
        const MemoryUse use = computeMemoryUse(setup);
        EXPECT_EQ(setup, before);  // insight never changes the setup
        EXPECT_EQ(memoryMeterText(use), std::to_string(c.used) + " / 1694 bytes");
        EXPECT_EQ(use.level, c.level);
        EXPECT_EQ(use.result.key * 10 + use.result.layer, c.key * 10 + c.layer);
        EXPECT_EQ(imageFailureText(use.result), c.failure);
        DeviceImage image;
        const ImageResult built = BuildDeviceImage(setup, image);
        EXPECT_EQ(built.error, use.result.error);
        EXPECT_EQ(built.setupSize, use.result.setupSize);
    }
}

TEST(KeyLengths, CountBothLayersAsTheLimitDoes) {
    SetupRecord setup;
    setup.KeyStrings[7] = "  Coffee<Enter> ";  // C is a modified group of 3 bytes
    setup.Func2Strings[8] = letters(48);
    setup.KeyStrings[9] = letters(47);
    setup.KeyStrings[10] = letters(60) + "<FUNC2_SHIFT>";
    setup.Func2Strings[10] = letters(60);
    EXPECT_EQ(keyLengthsTooltip(compiledLengths(setup, 7)), "Key 7: 10 / 48 bytes, Func2: 0 / 48");
    EXPECT_TRUE(compiledLengths(setup, 8).tooLong());
    EXPECT_FALSE(compiledLengths(setup, 9).tooLong());
    // A Func2 key is cut down to its one code in both layers by the next run.
    EXPECT_EQ(keyLengthsTooltip(allCompiledLengths(setup)[10]),
              "Key 10: 2 / 48 bytes, Func2: 2 / 48");
    EXPECT_EQ(compiledLengths(setup, 10).keyString, 2);
    EXPECT_THROW(compiledLengths(setup, 0), std::out_of_range);
    EXPECT_THROW(compiledLengths(setup, 85), std::out_of_range);
}

TEST(UnknownNames, NameTheNearestRealTag) {
    using K = NameHintKind;
    // clang-format off
    const struct {
        const char* line;
        NameHintKind kind;
        const char* token;
        int position;
        const char* suggestion;
    } cases[] = {
        {"<shift>", K::CaseMismatch, "<shift>", 0, "<Shift>"},
        {"<SHIFTTab>", K::CaseMismatch, "<SHIFTTab>", 0, "<ShiftTab>"},
        {"<Caps Lock>", K::Misspelt, "<Caps Lock>", 0, "<Caps>"},
        {"x<Esc >", K::Misspelt, "<Esc >", 1, "<Esc>"},
        {"<ShiftPage Down>", K::Misspelt, "<ShiftPage Down>", 0, "<ShiftPgDn>"},
        {"<Entr>", K::Misspelt, "<Entr>", 0, "<Enter>"},
        {"<Xyzzy>", K::UnknownName, "<Xyzzy>", 0, ""},
        {"<AltShiftTab>", K::TwoModifiers, "<AltShiftTab>", 0, ""},
        {"a<b<Enter>", K::BracketInsideTag, "<b<Enter>", 1, ""}, {"a<>", K::EmptyTag, "<>", 1, ""},
        {" 12 50 ", K::Blank, " ", 3, "<Space>"}, {"x\xE9y", K::NoKeyCharacter, "\xE9", 1, ""},
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
        EXPECT_FALSE(hints[0].text.empty());
    }
}

TEST(UnknownNames, TextsInTheOperatorsWords) {
    EXPECT_EQ(unknownNames("<shift>")[0].text,
              "<shift> is not a key name; names are case-sensitive: <Shift>");
    EXPECT_EQ(unknownNames("<Caps Lock>")[0].text, "<Caps Lock>: did you mean <Caps>?");
    EXPECT_EQ(unknownNames("a b")[0].text, "a blank types nothing; write <Space>");
}

TEST(UnknownNames, NothingForWhatTypesSomething) {
    for (const char* line :
         {"", "   ", "  ab  ", "<Ctrlx>", "<<Enter>>", "a>b", "<a", "<Pgup><PgUp>", "<ShiftShift>",
          "<Pad Enter><delay>", "<CtrlP>12.50<Tab><ShiftF3>Total"}) {
        EXPECT_TRUE(unknownNames(line).empty()) << line;
    }
}

TEST(UnknownNames, EachTokenOnceInLineOrder) {
    const auto hints = unknownNames("<caps>x<shift> <caps>");
    ASSERT_EQ(hints.size(), 3u);
    EXPECT_EQ(hints[1].token + std::to_string(hints[1].position), "<shift>7");
    EXPECT_EQ(hints[2].kind, NameHintKind::Blank);
}

TEST(UnknownNames, ModifierLimitCutsTheLine) {
    std::string line;
    for (int i = 0; i < 25; ++i) {
        line += i % 2 ? "<Shift>" : "<Ctrlnope>";  // unknown modifier tags count too
    }
    auto hints = unknownNames(line);
    ASSERT_EQ(hints.size(), 1u);  // "<Ctrlnope>" once, and nothing is cut off yet
    const int cut = static_cast<int>(line.size());
    line += "<shift>a";
    hints = unknownNames(line);
    ASSERT_EQ(hints.size(), 2u);
    EXPECT_EQ(hints[1].kind, NameHintKind::ModifierLimit);
    EXPECT_EQ(hints[1].position, cut);
    EXPECT_EQ(hints[1].token, "<shift>");
}

// Any name of the table written all in lower or all in upper case is traced back to a tag
// that types the same keys.
TEST(UnknownNames, WrongCaseOfEveryNameLeadsBack) {
    for (int row = 1; row < kKeyTableRows; ++row) {
        const std::string name(KeyTable[row].Name);
        if (name.size() < 2) {
            continue;
        }
        for (const bool upper : {false, true}) {
            std::string variant = name;
            for (char& ch : variant) {
                ch = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(ch))
                                             : std::tolower(static_cast<unsigned char>(ch)));
            }
            if (FindKeyByName(variant) != 0) {
                continue;
            }
            const auto hints = unknownNames("<" + variant + ">");
            ASSERT_EQ(hints.size(), 1u) << variant;
            EXPECT_EQ(hints[0].kind, NameHintKind::CaseMismatch) << variant;
            EXPECT_EQ(CompileKeyString(hints[0].suggestion), CompileKeyString("<" + name + ">"))
                << variant;
        }
    }
}

}  // namespace
}  // namespace qk750
