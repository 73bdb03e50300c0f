#include "setup/legacy_import.h"

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace qk750 {
namespace {

const std::string kMark = "\xF9";

// A KBD file, record by record: a length byte and the string after it at offset 10 (the
// first string) or 71 (the second); everything not set is 0.
struct KbdFile {
    std::string bytes = std::string(kKbdFileSize, '\0');
    KbdFile& raw(int record, std::size_t offset, std::string_view b) {
        bytes.replace((record - 1) * kKbdRecordSize + offset, b.size(), b);
        return *this;
    }
    KbdFile& str(int record, int which, std::string_view text) {
        return raw(record, which == 1 ? 10 : 71,
                   static_cast<char>(text.size()) + std::string(text));
    }
};

// The first byte is a delimiter whatever it is. Each renaming step works on what the steps
// before it left, so the order shows in the results: "Sh" + "BkSp" becomes a shifted Back
// by the later "Sh" rule.
TEST(LegacyImport, TokensToKeyStringBuildsKeyStrings) {
    const std::string m = kMark;
    // clang-format off
    const struct {
        std::string tokens;
        std::string keyString;
    } cases[] = {
        {m + "A" + m + "BkSp" + m, "A<Back>"}, {m + "A" + m + "Enter", "A<Enter>"},
        {m + m + "x" + m + m, "x"}, {"", ""}, {m, ""}, {"AB", "B"}, {"XEnter" + m + "c", "<Enter>c"},
        {"Func1Tgl", "<FUNC2_TOGGLE>"}, {m + "Func2" + m + "a", "a"}, {"Func1Tglx", "<unc1Tglx>"},
        {m + "Tab", "<Tab>"}, {m + "Pad 7", "7"}, {m + "Pad Enter", "<Enter>"},
        {m + "Pad *", "<Pad *>"}, {m + "Pad BkSp", "<Back>"}, {m + "\x11\xC4\xD9", "<Enter>"},
        {m + "\x11\xCD", "<Back>"}, {m + "xBkSp", "<xBack>"}, {m + "CtlBkSpXY", "<CtlBack>"},
        {m + "ShBkSp", "<ShiftBack>"}, {m + "RShft", "<RShift>"}, {m + "Shft", "<Shift>"},
        {m + "ShA", "<ShiftA>"}, {m + "Spc", "<Space>"}, {m + "Func1", "<FUNC2_SHIFT>"},
        {m + "\x18", "<Up>"}, {m + "\x11\xC4", "<Left>"}, {m + "\xC4\x10", "<Right>"},
        {m + "^C", "<CtrlC>"}, {m + "^", "<Ctrl>"}, {m + "^Spc", "<CtrlSpc>"},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(TokensToKeyString(c.tokens), c.keyString) << c.tokens;
    }
}

// An arrow does not close its token: it joins the next character.
TEST(LegacyImport, DatTextConvertsToKeyString) {
    // clang-format off
    const struct {
        std::string text;
        std::string keyString;
    } cases[] = {
        {"AB[Enter]", "AB<Enter>"}, {"[Shft]a", "<Shift>a"}, {"[^C]", "<CtrlC>"}, {"^", "<Ctrl>"},
        {"[Pad 7]", "7"}, {"[Pad -]", "<Pad ->"}, {"[Func2]", ""}, {"x[Spc]y", "x<Space>y"},
        {"a b", "a b"}, {"a\tb\x01", "ab"}, {"a\x19", "a<Down>"}, {"\x18x", "<Upx>"}, {"[]", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(TokensToKeyString(DatTextToTokens(c.text)), c.keyString) << c.text;
    }
}

// A cleared setup keeps only its delay.
SetupRecord operator|(SetupRecord setup, int delay) {
    setup.Mcr.McrDelay = delay;
    return setup;
}

class KbdImportTest : public testing::Test {
protected:
    SetupRecord filledSetup() const {
        SetupRecord setup;
        setup.KeyStrings[3] = "old";
        setup.Mcr.LockedSetup = true;
        setup.Mcr.McrSetupMode = 4;
        setup.Mcr.McrDelay = 9;
        return setup;
    }

    test::TempDir m_dir;
};

TEST_F(KbdImportTest, ReadsKeysAndMcrStrings) {
    KbdFile kbd;
    kbd.str(1, 1, kMark + "A" + kMark + "BkSp" + kMark)
        .str(1, 2, kMark + "Func1Tgl")
        .str(13, 1, "Func1Tgl")
        .str(84, 1, kMark + "z")
        .str(84, 2, kMark + "Spc" + kMark)
        .str(85, 1, kMark + "unused")
        .str(90, 1, kMark + "^B")
        .str(90, 2, kMark + "unused")
        .str(91, 1, kMark + "\x11\xC4\xD9");
    SetupRecord setup = filledSetup();
    ASSERT_EQ(ImportKbdFile(setup, m_dir.write("shop.kbd", kbd.bytes)), KbdImportStatus::Ok);

    SetupRecord expected = SetupRecord{} | 9;  // the delay survives the clear
    expected.KeyStrings[1] = "A<Back>";
    expected.Func2Strings[1] = "<FUNC2_TOGGLE>";
    expected.KeyStrings[13] = "<FUNC2_TOGGLE>";
    expected.KeyStrings[84] = "z";
    expected.Func2Strings[84] = "<Space>";
    expected.Mcr.PreambleString = "<CtrlB>";
    expected.Mcr.PostambleString = "<Enter>";
    EXPECT_EQ(setup, expected);
}

TEST_F(KbdImportTest, StringsStopAtTheirLengthAndTheRecordEnd) {
    KbdFile kbd;
    // First string: 200 bytes from offset 11 end at offset 210; "n" at 211 is not read.
    kbd.raw(1, 10, "\xC8" + kMark + "k" + std::string(197, '\xF9') + "m" + "n");
    // Second string: a length of 200 is cut at the record end (offset 212), so the next
    // record's "C" bytes are not read.
    kbd.raw(2, 71, "\xC8" + kMark + "A" + std::string(138, '\xF9') + "B");
    kbd.raw(3, 0, std::string(10, 'C'));
    // A short length reads only the bytes it counts.
    kbd.raw(4, 10, "\x02" + kMark + "ab");

    SetupRecord setup;
    ASSERT_EQ(ImportKbdFile(setup, m_dir.write("k.KBD", kbd.bytes)), KbdImportStatus::Ok);
    EXPECT_EQ(setup.KeyStrings[1], "km");
    EXPECT_EQ(setup.Func2Strings[2], "AB");
    EXPECT_EQ(setup.KeyStrings[4], "a");
}

// Any other size, no file or a folder: refused, and the old setup cleared all the same.
TEST_F(KbdImportTest, RefusesWhatIsNotAKbdFile) {
    for (const std::size_t size : {std::size_t{0}, kKbdFileSize - 1, kKbdFileSize + 1}) {
        std::string bytes = KbdFile().str(1, 1, kMark + "A").bytes;
        bytes.resize(size, 'x');
        SetupRecord setup = filledSetup();
        EXPECT_EQ(ImportKbdFile(setup, m_dir.write("bad.kbd", bytes)), KbdImportStatus::InvalidSize)
            << size;
        EXPECT_EQ(setup, SetupRecord{} | 9) << size;
    }
    SetupRecord setup = filledSetup();
    EXPECT_EQ(ImportKbdFile(setup, m_dir.path("none.kbd")), KbdImportStatus::Missing);
    EXPECT_EQ(setup, SetupRecord{} | 9);
    EXPECT_EQ(ImportKbdFile(setup, m_dir.path()), KbdImportStatus::ReadError);
}

class DatImportTest : public testing::Test {
protected:
    SetupRecord import(std::string_view content) {
        SetupRecord setup;
        setup.KeyStrings[50] = "before";
        setup.Func2Strings[50] = "before";
        setup.Mcr.PreambleString = "pre";
        setup.Mcr.McrSetupMode = 3;
        setup.Mcr.LockedSetup = true;
        ImportDatFile(setup, m_dir.write("keys.dat", content));
        EXPECT_EQ(setup.Mcr.PreambleString, "pre");
        EXPECT_EQ(setup.Mcr.McrSetupMode, 3);
        EXPECT_TRUE(setup.Mcr.LockedSetup);
        return setup;
    }

    test::TempDir m_dir;
};

TEST_F(DatImportTest, AssignsLinesToKeysAndLayers) {
    const SetupRecord setup = import(
        "2,1,1,xy\r\n"
        "7,12,2,[Spc]\n"
        "\n"
        "   \r\n"
        "1,1,1,a,b\n"
        " 1 , 2 ,1, lead and trail \n"
        "1,3,1\n"
        "1,4,1,first\n"
        "1,4,1,second\n"
        "1,,5,1,empty item\n"
        "1,6,2,[Func1]");
    // Empty items do not count as fields, but the key text still starts after the third
    // comma (key 5).
    const auto& k = setup.KeyStrings;
    EXPECT_EQ(k[13] + "|" + k[1] + "|" + k[2] + "|" + k[3] + "|" + k[4] + "|" + k[5] + "|" + k[50],
              "xy|a,b| lead and trail |1|second|1,empty item|");
    EXPECT_EQ(setup.Func2Strings[84] + setup.Func2Strings[6] + setup.Func2Strings[50],
              "<Space><FUNC2_SHIFT>");
}

TEST_F(DatImportTest, RejectedLineEndsTheImport) {
    for (const char* bad : {"8,1,1,x", "0,1,1,x", "1,13,1,x", "1,0,1,x", "1,1,3,x", "1,1,0,x",
                            "a,1,1,x", "1,1,1,", "1,1", "garbage"}) {
        const SetupRecord setup = import(std::string("1,1,1,kept\n") + bad + "\n1,2,1,lost\n");
        EXPECT_EQ(setup.KeyStrings[1], "kept") << bad;
        EXPECT_TRUE(setup.KeyStrings[2].empty()) << bad;
    }
}

TEST_F(DatImportTest, UnreadableFileKeepsTheKeysAndBlankPathDoesNothing) {
    SetupRecord setup;
    setup.KeyStrings[1] = "a";
    EXPECT_EQ(ImportDatFile(setup, m_dir.path("none.dat")).status, ReadStatus::Missing);
    EXPECT_EQ(ImportDatFile(setup, m_dir.path("")).status, ReadStatus::Failed);  // a folder
    EXPECT_EQ(ImportDatFile(setup, "  ").status, ReadStatus::Ok);
    EXPECT_EQ(setup.KeyStrings[1], "a");
}

}  // namespace
}  // namespace qk750
