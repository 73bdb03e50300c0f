#include "keys/device_image.h"
#include "keys/key_insight.h"
#include "keys/key_legend.h"
#include "keys/key_string.h"
#include "keys/key_table.h"

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace qk750 {
namespace {

// A name found earlier in the table wins, so a later duplicate must mean the same key.
TEST(KeyTable, NoRowClashesWithTheCompiledStringMarksAndEveryNameFindsItsKey) {
    EXPECT_TRUE(KeyTable[kKeyTableRows].Name.empty() && KeyTable[kKeyTableRows].Code == 0);
    for (int row = 1; row < kKeyTableRows; ++row) {
        const KeyRec& key = KeyTable[row];
        SCOPED_TRACE(key.Name);
        // 0 ends the table; 0xF3 and 0xFF mark modified groups and the end of a string.
        EXPECT_TRUE(key.Code != 0 && key.Code != 0xF3 && key.Code != 0xFF) << key.Code;
        EXPECT_LE(key.Shifted, 1);
        EXPECT_TRUE(key.Name.size() == 1 || !key.Shifted);  // named: bare
        const int found = FindKeyByName(key.Name);
        ASSERT_TRUE(found != 0 && found <= row);
        EXPECT_EQ(KeyTable[found].Code, key.Code);
        EXPECT_EQ(KeyTable[found].Shifted, key.Shifted);
    }
}

TEST(KeyTable, EveryPrintableCharacterButSpaceHasARowAndNothingElseDoes) {
    for (int byte = 0; byte < 256; ++byte) {
        const bool printable = byte >= 0x21 && byte <= 0x7E;
        EXPECT_EQ(FindKeyByName(std::string(1, static_cast<char>(byte))) != 0, printable) << byte;
    }
}

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
        {repeat("<CtrlC>x<Nope>", 25) + "<Enter>",
         run({0xF3, 0x01, 0x06, 0x1B}, 24, {0xF3, 0x01, 0x06, 0xFF})},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(CompileKeyString(c.source), c.expected) << '"' << c.source << '"';
    }
}

int entryWord(const DeviceImage& image, int entry, int layer) {
    const int address = EntryAddress(entry, layer);
    return image[address] << 8 | image[address + 1];
}

void expectBytes(const DeviceImage& image, int address, const std::vector<int>& bytes) {
    EXPECT_EQ(std::vector<int>(image.begin() + address, image.begin() + address + bytes.size()),
              bytes)
        << "at " << address;
}

// Only a built-in setup sends its mode; checksum flags are bits 0 and 1, the delay one byte.
TEST(DeviceImage, ClearedLayoutAndHeader) {
    for (const auto& [mcr, header] :
         {std::pair{SetupRecType{false, true, false, false, 11, "", "", 300}, 0x00012C},
          {SetupRecType{true, false, true, false, 11, "", "", -1}, 0x0B02FF}}) {
        SetupRecord setup;
        setup.Mcr = mcr;
        DeviceImage image;
        image.fill(0x42);
        const ImageResult result = BuildDeviceImage(setup, image);
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result.setupSize, 1);
        expectBytes(image, 0,
                    {0x00, 0x5A, 0x00, header >> 16, header >> 8 & 0xFF, header & 0xFF, 0, 0});
        for (int k = 1; k <= 86; ++k) {
            EXPECT_EQ(entryWord(image, k, 1), 0xFFFF) << k;
            EXPECT_EQ(entryWord(image, k, 2), k <= 84 ? 0xFFFF : 0xFF00) << k;
        }
        for (int a = 0x160; a < kImageSize; ++a) {
            ASSERT_EQ(image[a], 0xFF) << a;
        }
    }
}

// One-code strings live in the entry itself (a one-code preamble or postamble gets a second
// end mark); longer ones go to the string area in storage order: first-layer keys,
// preamble, postamble, then Func2 strings.
TEST(DeviceImage, StringsAndEntriesFollowTheStorageOrder) {
    SetupRecord setup;
    setup.Func2Strings[1] = "ab";  // stored last
    setup.Mcr.PostambleString = "cd";
    setup.Mcr.PreambleString = "<Enter>";
    setup.KeyStrings[84] = "gh";
    setup.KeyStrings[1] = "abc";  // stored first
    setup.KeyStrings[2] = "a";
    setup.KeyStrings[3] = " \t<Enter>\r\n";
    setup.Func2Strings[4] = " <F8> ";  // blanks compile to nothing
    DeviceImage image;
    const ImageResult result = BuildDeviceImage(setup, image);
    ASSERT_TRUE(result.ok());
    expectBytes(image, 0x160, {0x04, 0x05, 0x06, 0xFF, 0x0A, 0x0B, 0xFF, 0x28, 0xFF, 0xFF});
    // clang-format off
    for (const auto& [entry, layer, word] : {std::tuple{1, 1, 0x1160}, {2, 1, 0x0004},
             {3, 1, 0x0028}, {84, 1, 0x1164}, {85, 1, 0x0167}, {86, 1, 0x016A}, {1, 2, 0x116D},
             {4, 2, 0x0041}, {85, 2, 0xFF00}}) {
        // clang-format on
        EXPECT_EQ(entryWord(image, entry, layer), word) << entry << "/" << layer;
    }
    EXPECT_EQ(result.setupSize, 17);
}

TEST(StoreKeyEntry, NeverWritesPastTheImage) {
    DeviceImage image;
    ClearImage(image);
    int setupSize = 1694;
    EXPECT_FALSE(StoreKeyEntry(image, 1, {0x04, 0x05, 0xFF}, 1, setupSize));
    EXPECT_EQ(setupSize, 1696);
    expectBytes(image, 0x7FD, {0x04, 0x05, 0xFF});
    // A counter left past the end by a failure is refused without writing.
    for (int spent : {1696, 5000}) {
        EXPECT_FALSE(StoreKeyEntry(image, 2, {0x06, 0x07, 0xFF}, 1, spent));
    }
    EXPECT_EQ(image[0x7FF], 0xFF);
    int ok = 1, negative = 0;
    for (const auto& [entry, layer] : {std::pair{0, 1}, {87, 1}, {86, 3}, {1, 0}}) {
        EXPECT_THROW(StoreKeyEntry(image, entry, {0x04, 0xFF}, layer, ok), std::out_of_range);
    }
    EXPECT_THROW(StoreKeyEntry(image, 1, {0x04, 0x05, 0xFF}, 1, negative), std::out_of_range);
}

// Through the build, so the build is shown to normalise before it compiles. The first
// layer decides before the Func2 string is read.
TEST(NormalizeFunc2Keys, Func2KeysTakeOverBothLayers) {
    const struct {
        std::string key, func2, wantKey, wantFunc2;
    } cases[] = {
        {"<ShiftTab><FUNC2_TOGGLE>", "", "<FUNC2_TOGGLE>", "<FUNC2_TOGGLE>"},
        {"<FUNC2_TOGGLE><FUNC2_SHIFT>", "x", "<FUNC2_SHIFT>", "<FUNC2_SHIFT>"},
        {"<FUNC2_SHIFT><FUNC2_TOGGLE>", "x", "<FUNC2_SHIFT>", "<FUNC2_SHIFT>"},
        {"<FUNC2_TOGGLE>", "<FUNC2_SHIFT>", "<FUNC2_TOGGLE>", "<FUNC2_TOGGLE>"},
        {"abc", "x<FUNC2_SHIFT>", "<FUNC2_SHIFT>", "<FUNC2_SHIFT>"},
        {"abc", "FUNC2_TOGGLE", "<FUNC2_TOGGLE>", "<FUNC2_TOGGLE>"},
        {"<func2_toggle>", "<Func2_Shift>", "<func2_toggle>", "<Func2_Shift>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key + " / " + c.func2);
        SetupRecord setup;
        setup.KeyStrings[40] = c.key;
        setup.Func2Strings[40] = c.func2;
        setup.KeyStrings[41] = "untouched";
        DeviceImage image;
        ASSERT_TRUE(BuildDeviceImage(setup, image).ok());
        EXPECT_EQ(setup.KeyStrings[40] + "|" + setup.Func2Strings[40],
                  c.wantKey + "|" + c.wantFunc2);
        EXPECT_EQ(setup.KeyStrings[41], "untouched");
        if (c.wantKey == c.wantFunc2) {
            EXPECT_EQ(entryWord(image, 40, 1), entryWord(image, 40, 2));
        }
    }
}

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
        {"<aTb>", K::Misspelt, "<aTb>", 0, "<Tab>", ""},
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
        const NameHint& h = hints[0];
        EXPECT_EQ(std::tuple(h.kind, h.token, h.position, h.suggestion, *c.text ? h.text : ""),
                  std::tuple(c.kind, c.token, c.position, c.suggestion, c.text));
        EXPECT_FALSE(h.text.empty());
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

// Text keeps its words, tags only part them; a key of tags names them, read as the compiler
// reads them; what types nothing shows nothing.
TEST(DeriveLegend, ShowsWhatTheKeyTypes) {
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"Coffee<Enter>", "Coffee"}, {"Hot<Tab>Tea<Enter>", "Hot Tea"}, {"<<b>><CtrlC>", "<b>"},
        {" Large<Space>Coffee  x <Enter>", "Large Coffee x"}, {"<F1>", "F1"}, {"<Pad +>", "Pad +"},
        {"<ShiftF5>", "Shift F5"}, {"<Ctrla><AltZ>", "Ctrl A Alt Z"}, {"<Ctrl1><Shift>", "Ctrl 1 Shift"},
        {"<delay><Enter>", "Delay Enter"}, {"<HEB><ENG>", "Hebrew English"}, {"<Space>", "Space"},
        {"<FUNC2_SHIFT>", "Func2 Shift"}, {"<shift><F13><Ctrlbogus><>F", "F"}, {"", ""}, {"   ", ""},
        {"<shift><CtrlShiftA>", ""}, {"\x01<Tab>\x7f", "\x7f"},
    };
    // clang-format on
    for (const auto& [keyString, legend] : cases) {
        EXPECT_EQ(DeriveLegend(keyString), legend) << keyString;
    }
}

// A Func2 key is that key in both layers, whatever else its strings held; a corner legend
// that repeats the key's own is left out; a legend of one's own wins, blanks collapsed.
TEST(DeriveLegend, InsertsFollowTheProgrammedKeysAndOwnLegends) {
    SetupRecord setup;
    setup.KeyStrings[1] = "a<FUNC2_TOGGLE>";
    setup.Func2Strings[1] = "b";
    setup.KeyStrings[2] = "x";
    setup.Func2Strings[2] = "x<Enter>";
    setup.KeyStrings[3] = "Tea";
    setup.Func2Strings[3] = "<FUNC2_SHIFT>";
    setup.Legends.Key[3] = "  Green   Tea ";
    setup.Legends.Func2[4] = "Own";
    setup.Legends.Key[5] = " \t";
    const auto inserts = InsertLegendsOf(setup);
    const auto shown = [&inserts](int key) {
        const InsertLegends& i = inserts[key];
        return i.key.text + "|" + i.key.derived + (i.key.own ? "*|" : "|") + i.func2.text + "|" +
               i.func2.derived + (i.func2.own ? "*" : "");
    };
    EXPECT_EQ(shown(1), "Func2 Toggle|Func2 Toggle||");
    EXPECT_EQ(shown(2), "x|x||");
    EXPECT_EQ(shown(3), "Green Tea|Func2 Shift*||");
    EXPECT_EQ(shown(4), "||Own|*");
    EXPECT_EQ(shown(5), "|||");
}

}  // namespace
}  // namespace qk750
