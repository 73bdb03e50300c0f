#include "keys/key_string.h"

#include <gtest/gtest.h>

#include <string>

#include "keys/key_table.h"

namespace qk750 {
namespace {

std::string repeat(std::string_view piece, int count) {
    std::string s;
    while (count-- > 0)
        s += piece;
    return s;
}

// `count` copies of `item`, then `tail`.
Bytes run(const Bytes& item, int count, const Bytes& tail) {
    Bytes b;
    while (count-- > 0)
        b.insert(b.end(), item.begin(), item.end());
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

// Names are case-sensitive; a shifted symbol after a modifier adds Shift. At most 25
// modifier tags are read, known or not, counted afresh in every string; other tags and
// characters do not count.
TEST(CompileKeyString, GivesTheDeviceBytes) {
    // clang-format off
    const struct {
        std::string source;
        Bytes expected;
    } cases[] = {
        {"", {}}, {"   ", {}}, {"abc", {0x04, 0x05, 0x06, 0xFF}}, {"A", {0xF3, 0x02, 0x04, 0xFF}},
        {"a b", {0x04, 0x05, 0xFF}}, {"a\tb\r\n", {0x04, 0x05, 0xFF}},
        {"a\xE9\xFF" "b", {0x04, 0x05, 0xFF}}, {"<Enter>", {0x28, 0xFF}},
        {"<Pad Enter>", {0x58, 0xFF}}, {"<ShiftEsc>", {0xF3, 0x02, 0x29, 0xFF}},
        {"<Shift>", {0xE1, 0xFF}}, {"<shift><caps><Caps Lock>", {}},
        {"<<a", {0xF3, 0x02, 0x36, 0x04, 0xFF}}, {">>", {0xF3, 0x02, 0x37, 0xFF}},
        {">", {0xF3, 0x02, 0x37, 0xFF}}, {"<a", {0xF3, 0x02, 0x36, 0x04, 0xFF}},
        {"<Ctrl>>", {0xE0, 0xF3, 0x02, 0x37, 0xFF}}, {"<CtrlX>", {0xF3, 0x01, 0x1B, 0xFF}},
        {"<Ctrlx>", {0xF3, 0x01, 0x1B, 0xFF}}, {"<Ctrl!>", {0xF3, 0x03, 0x1E, 0xFF}},
        {"<Alt?>", {0xF3, 0x06, 0x38, 0xFF}}, {"<ShiftTab>", {0xF3, 0x02, 0x2B, 0xFF}},
        {"<CtrlAB>", {}}, {"<ShiftCtrlX>", {}}, {"<>", {}}, {"a<Bogus>b", {0x04, 0x05, 0xFF}},
        {"<a<Enter>b", {0x05, 0xFF}}, {"<Enter>>a", {0x28, 0xF3, 0x02, 0x37, 0x04, 0xFF}},
        {"-_=+", {0x2D, 0xF3, 0x02, 0x2D, 0x2E, 0xF3, 0x02, 0x2E, 0xFF}},
        {"Enter", {0xF3, 0x02, 0x08, 0x11, 0x17, 0x08, 0x15, 0xFF}},
        {repeat("<Shift>", 26), run({0xE1}, 25, {0xFF})},
        {repeat("<Shift>", 25) + "a", run({0xE1}, 25, {0xFF})},
        {repeat("<Shift>", 24) + "a", run({0xE1}, 24, {0x04, 0xFF})},
        {repeat("<ShiftBogus>", 25) + "a", {}}, {repeat("<CtrlBogus>", 24) + "a", {0x04, 0xFF}},
        {repeat("<Enter>", 30), run({0x28}, 30, {0xFF})},
        {repeat("A", 30), run({0xF3, 0x02, 0x04}, 30, {0xFF})},
        {repeat("<CtrlC>x<Nope>", 25) + "<Enter>",
         run({0xF3, 0x01, 0x06, 0x1B}, 24, {0xF3, 0x01, 0x06, 0xFF})},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(CompileKeyString(c.source), c.expected) << '"' << c.source << '"';
    }
}

// Bytes above 0x7F are text, not blanks.
TEST(TrimKeyString, RemovesBlanksAndControlCharactersAtTheEnds) {
    // clang-format off
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"", ""}, {" \t\r\n<Enter>\x01 \x1F", "<Enter>"}, {"  a  b  ", "a  b"},
        {"\xA0x\xE9", "\xA0x\xE9"}, {"\x7F", "\x7F"}, {std::string("\0a\0", 3), "a"},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(TrimKeyString(c.in), c.out) << '"' << c.in << '"';
    }
}

}  // namespace
}  // namespace qk750
