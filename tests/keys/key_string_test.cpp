#include "keys/key_string.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "keys/key_table.h"

namespace qk750 {
namespace {

std::string repeat(std::string_view piece, int count) {
    std::string s;
    for (int i = 0; i < count; ++i) {
        s += piece;
    }
    return s;
}

struct CompileCase {
    std::string name;
    std::string source;
    Bytes expected;
};

void PrintTo(const CompileCase& c, std::ostream* os) {
    *os << '"' << c.source << '"';
}

class CompileKeyStringTest : public testing::TestWithParam<CompileCase> {};

TEST_P(CompileKeyStringTest, GivesTheDeviceBytes) {
    EXPECT_EQ(CompileKeyString(GetParam().source), GetParam().expected);
}

const CompileCase kCompileCases[] = {
    {"Empty", "", {}},
    {"BlanksOnly", "   ", {}},
    {"PlainLetters", "abc", {0x04, 0x05, 0x06, 0xFF}},
    {"CapitalIsShifted", "A", {0xF3, 0x02, 0x04, 0xFF}},
    {"BlankBetweenLetters", "a b", {0x04, 0x05, 0xFF}},
    {"ControlCharactersDrop", "a\tb\r\n", {0x04, 0x05, 0xFF}},
    {"HighBytesDrop",
     "a\xE9\xFF"
     "b",
     {0x04, 0x05, 0xFF}},
    {"Enter", "<Enter>", {0x28, 0xFF}},
    {"Delay", "<delay>", {0x66, 0xFF}},
    {"Func2Toggle", "<FUNC2_TOGGLE>", {0x6A, 0xFF}},
    {"InnerBlank", "<Pad Enter>", {0x58, 0xFF}},
    {"ShiftEsc", "<ShiftEsc>", {0xF3, 0x02, 0x29, 0xFF}},
    {"AltF4", "<AltF4>", {0xF3, 0x04, 0x3D, 0xFF}},
    {"BareShift", "<Shift>", {0xE1, 0xFF}},
    {"BareCtrl", "<Ctrl>", {0xE0, 0xFF}},
    {"BareAlt", "<Alt>", {0xE2, 0xFF}},
    {"NamesAreCaseSensitive", "<shift><caps><Caps Lock>", {}},
    {"Caps", "<Caps>", {0x39, 0xFF}},
    {"DoubledLess", "<<a", {0xF3, 0x02, 0x36, 0x04, 0xFF}},
    {"DoubledGreater", ">>", {0xF3, 0x02, 0x37, 0xFF}},
    {"LoneGreater", ">", {0xF3, 0x02, 0x37, 0xFF}},
    {"UnclosedLess", "<a", {0xF3, 0x02, 0x36, 0x04, 0xFF}},
    {"BareTagThenGreater", "<Ctrl>>", {0xE0, 0xF3, 0x02, 0x37, 0xFF}},
    {"CapitalAfterModifierIsTheLetter", "<CtrlX>", {0xF3, 0x01, 0x1B, 0xFF}},
    {"LowerAfterModifier", "<Ctrlx>", {0xF3, 0x01, 0x1B, 0xFF}},
    {"ShiftedSymbolAddsShift", "<Ctrl!>", {0xF3, 0x03, 0x1E, 0xFF}},
    {"AltShiftedSymbol", "<Alt?>", {0xF3, 0x06, 0x38, 0xFF}},
    {"ShiftWithCapital", "<ShiftA>", {0xF3, 0x02, 0x04, 0xFF}},
    {"ModifierDigit", "<Ctrl1>", {0xF3, 0x01, 0x1E, 0xFF}},
    {"ModifierNamedKey", "<ShiftTab>", {0xF3, 0x02, 0x2B, 0xFF}},
    {"TwoCapitalsAfterModifier", "<CtrlAB>", {}},
    {"TwoModifiers", "<ShiftCtrlX>", {}},
    {"EmptyTag", "<>", {}},
    {"UnknownTagDropsAlone", "a<Bogus>b", {0x04, 0x05, 0xFF}},
    {"LessInsideTag", "<a<Enter>b", {0x05, 0xFF}},
    {"TagUpToFirstGreater", "<Enter>>a", {0x28, 0xF3, 0x02, 0x37, 0x04, 0xFF}},
    {"LeftModifierKeysAreKeys", "<LShift><WINKey><RAlt>", {0xE1, 0xE3, 0xE6, 0xFF}},
    {"DeviceCodes", "<HEB><ENG><FUNC2_SHIFT>", {0x68, 0x69, 0x6B, 0xFF}},
    {"LiteralSymbols", "-_=+", {0x2D, 0xF3, 0x02, 0x2D, 0x2E, 0xF3, 0x02, 0x2E, 0xFF}},
    {"TagNamesAreNotLiterals", "Enter", {0xF3, 0x02, 0x08, 0x11, 0x17, 0x08, 0x15, 0xFF}},
};

INSTANTIATE_TEST_SUITE_P(Examples, CompileKeyStringTest, testing::ValuesIn(kCompileCases),
                         [](const auto& info) { return info.param.name; });

Bytes expectedRun(std::initializer_list<std::uint8_t> item, int count, bool endMark = true) {
    Bytes b;
    for (int i = 0; i < count; ++i) {
        b.insert(b.end(), item);
    }
    if (endMark && !b.empty()) {
        b.push_back(0xFF);
    }
    return b;
}

// A key string reads at most 25 modifier tags, known or not; other tags and literal
// characters do not count.
TEST(CompileKeyString, StopsAfterTwentyFiveModifierTags) {
    const struct {
        const char* what;
        std::string source;
        Bytes expected;
    } cases[] = {
        {"26 bare Shift", repeat("<Shift>", 26), expectedRun({0xE1}, 25)},
        {"25 then a letter", repeat("<Shift>", 25) + "a", expectedRun({0xE1}, 25)},
        {"24 then a letter", repeat("<Shift>", 24) + "a",
         [] {
             Bytes b = expectedRun({0xE1}, 24, false);
             b.insert(b.end(), {0x04, 0xFF});
             return b;
         }()},
        {"unknown modifier tags count", repeat("<ShiftBogus>", 25) + "a", {}},
        {"unknown modifier tags below the limit", repeat("<CtrlBogus>", 24) + "a", {0x04, 0xFF}},
        {"plain tags do not count", repeat("<Enter>", 30), expectedRun({0x28}, 30)},
        {"literals do not count", repeat("A", 30), expectedRun({0xF3, 0x02, 0x04}, 30)},
        {"mixed", repeat("<CtrlC>x<Nope>", 25) + "<Enter>",
         [] {
             Bytes b;
             for (int i = 0; i < 24; ++i) {
                 b.insert(b.end(), {0xF3, 0x01, 0x06, 0x1B});
             }
             b.insert(b.end(), {0xF3, 0x01, 0x06, 0xFF});
             return b;
         }()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompileKeyString(c.source), c.expected) << c.what;
    }
}

TEST(CompileKeyString, CountStartsAfreshForEveryString) {
    const std::string source = repeat("<Alt>", 20);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(CompileKeyString(source), expectedRun({0xE2}, 20));
    }
}

TEST(NextToken, CutsTokensOffTheFront) {
    const struct {
        std::string source;
        std::vector<std::string> tokens;
    } cases[] = {
        {"", {}},
        {"ab", {"a", "b"}},
        {">>>", {">", ">"}},
        {"<<<", {"<", "<"}},
        {"<<<a>", {"<", "<a>"}},
        {"<Enter>x", {"<Enter>", "x"}},
        {"<Pad Enter>", {"<Pad Enter>"}},
        {"<a", {"<", "a"}},
        {"<a<b>c>", {"<a<b>", "c", ">"}},
        {"<>", {"<>"}},
        {"><", {">", "<"}},
        {" <Shift> ", {" ", "<Shift>", " "}},
    };
    for (const auto& c : cases) {
        std::string source = c.source;
        std::vector<std::string> tokens;
        for (std::string t = NextToken(source); !t.empty(); t = NextToken(source)) {
            tokens.push_back(t);
        }
        EXPECT_EQ(tokens, c.tokens) << '"' << c.source << '"';
        EXPECT_TRUE(source.empty());
        EXPECT_EQ(NextToken(source), "");
    }
}

// The compiler tokenizes without copying the text; it must cut exactly the tokens that
// NextToken cuts. Each token compiles alone to the same items it gives inside a text.
TEST(CompileKeyString, AgreesWithNextTokenOnArbitraryText) {
    const std::string_view pieces[] = {"<", ">", "a", "A", "Enter", "Shift", "Ctrl", " ", "!", "x"};
    std::mt19937 random(750);
    for (int round = 0; round < 2000; ++round) {
        std::string source;
        const int count = static_cast<int>(random() % 16);
        for (int i = 0; i < count; ++i) {
            source += pieces[random() % std::size(pieces)];
        }
        Bytes expected;
        std::string rest = source;
        for (std::string t = NextToken(rest); !t.empty(); t = NextToken(rest)) {
            Bytes item = CompileKeyString(t);
            if (!item.empty()) {
                expected.insert(expected.end(), item.begin(), item.end() - 1);
            }
        }
        if (!expected.empty()) {
            expected.push_back(0xFF);
        }
        ASSERT_EQ(CompileKeyString(source), expected) << '"' << source << '"';
    }
}

TEST(TrimKeyString, RemovesBlanksAndControlCharactersAtTheEnds) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"", ""},
        {"   ", ""},
        {" \t\r\n<Enter>\x01 \x1F", "<Enter>"},
        {"a b", "a b"},
        {"  a  b  ", "a  b"},
        {"\xA0x\xE9", "\xA0x\xE9"},  // bytes above 0x7F are text
        {"\x7F", "\x7F"},
        {std::string("\0a\0", 3), "a"},
        {"!", "!"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TrimKeyString(c.in), c.out) << '"' << c.in << '"';
    }
}

}  // namespace
}  // namespace qk750
