#include "setup/file_io.h"
#include "setup/file_names.h"
#include "setup/ini_document.h"
#include "setup/legacy_import.h"
#include "setup/setup_file.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace qk750 {
namespace {

TEST(FileNames, SplitPathAndExtension) {
    const struct {
        const char* path;
        const char* extension;
        const char* withIni;
        const char* directory;
    } cases[] = {
        {"/srv/pos/SHOP.DAT", ".DAT", "/srv/pos/SHOP.INI", "/srv/pos"},
        // An ".ini" in any case is kept; every other extension becomes ".INI".
        {"/srv/pos/shop.ini", ".ini", "/srv/pos/shop.ini", "/srv/pos"},
        {"shop.Ini", ".Ini", "shop.Ini", ""},
        {"shop.ini.bak", ".bak", "shop.ini.INI", ""},
        {"shop.inix", ".inix", "shop.INI", ""},
        // A dot in a folder name is not an extension.
        {"/home/op.d/shop", "", "/home/op.d/shop.INI", "/home/op.d"},
        {"shop.", ".", "shop.INI", ""},
        {"", "", ".INI", ""},  // the unnamed setup
        {"/shop.ini", ".ini", "/shop.ini", "/"},
        {"a//b.dat", ".dat", "a//b.INI", "a"},
#ifdef _WIN32
        {"C:\\OLD\\SHOP.KBD", ".KBD", "C:\\OLD\\SHOP.INI", "C:\\OLD"},
        {"C:\\SHOP.KBD", ".KBD", "C:\\SHOP.INI", "C:\\"},
        {"C:shop", "", "C:shop.INI", "C:"},
#else
        // A backslash is part of a name here, not a separator.
        {"C:\\OLD\\SHOP.KBD", ".KBD", "C:\\OLD\\SHOP.INI", ""},
        {"dir/a.b\\c", ".b\\c", "dir/a.INI", "dir"},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(
            FileExtension(c.path) + "|" + WithIniExtension(c.path) + "|" + DirectoryOf(c.path),
            std::string(c.extension) + "|" + c.withIni + "|" + c.directory);
    }
}

// Lines before any section belong to none.
constexpr std::string_view kSample =
    "Key1=top\r\n; written by hand\r\n[Version]\r\nFileVer=1.00\r\n\r\n"
    "[Keys]\r\nKey1=abc\r\n  Key2 = a=b \r\n; Key3=commented out\r\nstray line\r\nKey4=\r\n\r\n"
    "[ Custom ]\r\nOther=x\r\n";

// A changed key keeps its spelling and place; a new key follows its section's last line
// (before blank lines), a new section comes last; the first of repeated names wins.
TEST(IniDocumentTest, SetValueKeepsEverythingElseInPlace) {
    IniDocument ini = IniDocument::parse(kSample);
    EXPECT_EQ(ini.serialize(), kSample);
    ini.setValue("KEYS", "key2", "new");
    ini.setValue("Keys", "Key5", "five");
    ini.setValue("Version", "Extra", "e");
    ini.setValue("Mcr", "McrDelay", "5");
    ini.setValue("Mcr", "BF_Checksum", "0");
    std::string expected(kSample);
    for (const auto& [from, to] : {std::pair{"1.00\r\n", "1.00\r\nExtra=e\r\n"},
                                   {"Key2 = a=b ", "Key2 =new"},
                                   {"Key4=\r\n", "Key4=\r\nKey5=five\r\n"}}) {
        expected.replace(expected.find(from), std::string_view(from).size(), to);
    }
    EXPECT_EQ(ini.serialize(), expected + "[Mcr]\r\nMcrDelay=5\r\nBF_Checksum=0\r\n");

    ini = IniDocument::parse("[A]\r\nk=1\r\nk=2\r\n[B]\r\n[a]\r\nk=3\r\n");
    EXPECT_EQ(ini.value("A", "k"), "1");
    ini.setValue("a", "K", "9");
    EXPECT_EQ(ini.serialize(), "[A]\r\nk=9\r\nk=2\r\n[B]\r\n[a]\r\nk=3\r\n");
    EXPECT_EQ(IniDocument::parse("[A]\nk=v\nlast").serialize(), "[A]\r\nk=v\r\nlast\r\n");
}

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
    }, datCases[] = {  // DAT text: an arrow does not close its token, it joins the next one
        {"AB[Enter]", "AB<Enter>"}, {"[Shft]a", "<Shift>a"}, {"[^C]", "<CtrlC>"}, {"^", "<Ctrl>"},
        {"[Pad 7]", "7"}, {"[Pad -]", "<Pad ->"}, {"[Func2]", ""}, {"x[Spc]y", "x<Space>y"},
        {"a b", "a b"}, {"a\tb\x01", "ab"}, {"a\x19", "a<Down>"}, {"\x18x", "<Upx>"}, {"[]", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(TokensToKeyString(c.tokens), c.keyString) << c.tokens;
    }
    for (const auto& c : datCases) {
        EXPECT_EQ(TokensToKeyString(DatTextToTokens(c.tokens)), c.keyString) << c.tokens;
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
    // A first string of 200 bytes ends at offset 210 ("n" at 211 is not read); a second one
    // is cut at the record end (the next record's "C" bytes are not read).
    kbd.raw(20, 10, "\xC8" + kMark + "k" + std::string(197, '\xF9') + "m" + "n");
    kbd.raw(21, 71, "\xC8" + kMark + "A" + std::string(138, '\xF9') + "B");
    kbd.raw(22, 0, std::string(10, 'C'));
    kbd.raw(23, 10, "\x02" + kMark + "ab");  // only the bytes it counts
    SetupRecord setup = filledSetup();
    ASSERT_EQ(ImportKbdFile(setup, m_dir.write("shop.kbd", kbd.bytes)), KbdImportStatus::Ok);

    SetupRecord expected = SetupRecord{} | 9;  // the delay survives the clear
    expected.KeyStrings[1] = "A<Back>";
    expected.Func2Strings[1] = "<FUNC2_TOGGLE>";
    expected.KeyStrings[13] = "<FUNC2_TOGGLE>";
    expected.KeyStrings[84] = "z";
    expected.Func2Strings[84] = "<Space>";
    expected.KeyStrings[20] = "km";
    expected.Func2Strings[21] = "AB";
    expected.KeyStrings[23] = "a";
    expected.Func2Strings[20] = setup.Func2Strings[20];  // lies inside the long first string
    expected.Mcr.PreambleString = "<CtrlB>";
    expected.Mcr.PostambleString = "<Enter>";
    EXPECT_EQ(setup, expected);
}

// Any other size, no file or a folder: refused, and the old setup cleared all the same.
TEST_F(KbdImportTest, RefusesWhatIsNotAKbdFile) {
    for (const std::size_t size : {std::size_t{0}, kKbdFileSize + 1}) {
        SetupRecord setup = filledSetup();
        EXPECT_EQ(ImportKbdFile(setup, m_dir.write("bad.kbd", std::string(size, 'x'))),
                  KbdImportStatus::InvalidSize);
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
        setup.KeyStrings[50] = setup.KeyStrings[84] = "before";
        setup.Func2Strings[50] = "before";
        setup.Mcr.PreambleString = "pre";
        setup.Mcr.McrSetupMode = 3;
        setup.Mcr.LockedSetup = true;
        const SetupRecType mcr = setup.Mcr;
        ImportDatFile(setup, m_dir.write("keys.dat", content));
        EXPECT_EQ(setup.Mcr, mcr);
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
    EXPECT_EQ(k[13] + "|" + k[1] + "|" + k[2] + "|" + k[3] + "|" + k[4] + "|" + k[5] + "|" + k[50] +
                  k[84],
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

// So does a file whose first key line is already rejected: it is no key list.
TEST_F(DatImportTest, UnreadableFileKeepsTheKeysAndBlankPathDoesNothing) {
    SetupRecord setup;
    setup.KeyStrings[1] = "a";
    EXPECT_EQ(ImportDatFile(setup, m_dir.path("none.dat")).status, ReadStatus::Missing);
    EXPECT_EQ(ImportDatFile(setup, m_dir.path("")).status, ReadStatus::Failed);  // a folder
    EXPECT_EQ(ImportDatFile(setup, m_dir.write("bad.dat", "\r\nnot a dat\r\n1,2,1,x")).status,
              ReadStatus::Invalid);
    EXPECT_EQ(ImportDatFile(setup, "  ").status, ReadStatus::Ok);
    EXPECT_EQ(setup.KeyStrings[1], "a");
}

// Every field set, with the bytes an INI line could stumble over.
SetupRecord fullSetup() {
    SetupRecord setup;
    for (int key = 1; key <= kKeyCount; ++key) {
        setup.KeyStrings[key] = "k" + std::to_string(key) + "<Enter>";
        setup.Func2Strings[key] = "<CtrlC>f" + std::to_string(key);
    }
    setup.KeyStrings[2] = " a=b ";
    setup.KeyStrings[3] = "[Keys]";
    setup.KeyStrings[4] = ";not a comment";
    setup.KeyStrings[5] = "\xE9\xF9\x01\x7F";
    setup.KeyStrings[8] = "a\r\nKey9=x\rb";  // line breaks from an import must not split lines
    setup.Func2Strings[6].clear();
    setup.Mcr = {true, false, true, false, 11, " %B ", "?<Enter>", -20};
    setup.Legends.Key[1] = " a=b ";
    setup.Legends.Func2[84] = "Own";
    setup.Legends.InsertGap = 4.5;
    return setup;
}

class SetupFileTest : public testing::Test {
protected:
    test::TempDir m_dir;
};

// A new file holds the sections and keys in this order, McrDelay third in [Mcr].
TEST_F(SetupFileTest, SaveAndLoadReproduceEveryField) {
    const std::string path = m_dir.path("shop.INI");
    ASSERT_TRUE(SaveSetupIni(fullSetup(), path).ok);
    const std::string text = test::TempDir::read(path);
    EXPECT_TRUE(
        text.starts_with("[Version]\r\nFileVer=1.00\r\n[Setup]\r\nLockedSetup=0\r\n"
                         "[Keys]\r\nKey1=k1<Enter>\r\nKey1_2=<CtrlC>f1\r\nKey2= a=b \r\n"))
        << text;
    EXPECT_TRUE(
        text.ends_with("Key84_2=<CtrlC>f84\r\n[Mcr]\r\nBuiltIn_Setup=1\r\n"
                       "McrSetupMode=11\r\nMcrDelay=-20\r\nTransmitChecksum=0\r\n"
                       "BF_Checksum=1\r\nPreambleString= %B \r\nPostambleString=?<Enter>\r\n"
                       "[Legends]\r\nLegend1= a=b \r\nLegend84_2=Own\r\nInsertGap=4.5\r\n"))
        << text;
    SetupRecord loaded;
    loaded.KeyStrings[7] = "stale";
    LoadSetupIni(loaded, path);
    SetupRecord expected = fullSetup();
    expected.KeyStrings[8] = "aKey9=xb";
    EXPECT_EQ(loaded, expected);
    EXPECT_EQ(m_dir.entries(), std::set<std::string>{"shop.INI"});
}

SetupRecType defaults() {
    return SetupRecType{false, false, false, false, 1, "", "", 5};
}

// Values are read from LF-only files too, with keys and sections in any letter case;
// flags and numbers that do not parse fall back to their defaults.
TEST_F(SetupFileTest, LoadReadsValuesWithDefaults) {
    using M = SetupRecType;
    // clang-format off
    const struct {
        std::string mcrLines;  // after "[keys]\nKEY5=abc\n"
        SetupRecType expected;
    } cases[] = {
        {"", defaults()},
        {"[Setup]\nLockedSetup=2\n[Mcr]\nBuiltIn_Setup=-1\nTransmitChecksum= 1 \nBF_Checksum=0\n",
         M{true, true, false, true, 1, "", "", 5}},
        {"[Setup]\nLockedSetup=true\n[Mcr]\nBuiltIn_Setup=1x\nTransmitChecksum=\nBF_Checksum=0x1\n"
         "McrSetupMode=3 4\nMcrDelay=2147483648\n", defaults()},
        {"[Mcr]\nMcrSetupMode=+11\nMcrDelay=\t-12 \n",
         M{false, false, false, false, 11, "", "", -12}},
        {"[Mcr]\nMcrSetupMode=\nMcrDelay=-\n", defaults()},
        {"[Mcr]\nMcrSetupMode=-2147483648\nMcrDelay=2147483647\n",
         M{false, false, false, false, INT32_MIN, "", "", INT32_MAX}},
        {"[Mcr]\nPreambleString= <Tab> \nPostambleString==\n",
         M{false, false, false, false, 1, " <Tab> ", "=", 5}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mcrLines);
        const std::string text = "[keys]\nKEY5=abc\n" + c.mcrLines;
        const std::string path = m_dir.write("in.ini", text);
        SetupRecord setup = fullSetup();
        LoadSetupIni(setup, path);
        SetupRecord expected;
        expected.KeyStrings[5] = "abc";
        expected.Mcr = c.expected;
        EXPECT_EQ(setup, expected);
        EXPECT_EQ(test::TempDir::read(path), text);
        EXPECT_EQ(m_dir.entries(), std::set<std::string>{"in.ini"});
    }
}

// A save keeps in [Legends] only what differs from what would print anyway, and what the
// program does not know; sizes that are not numbers in their range read as the defaults.
TEST_F(SetupFileTest, LegendsHoldOnlyOwnLegendsAndOtherSizes) {
    const std::string path =
        m_dir.write("shop.ini",
                    "[Legends]\r\nLegend2=old\r\nNote=kept\r\nLegend2_2=x\r\nlegend2=dup\r\n"
                    "InsertWidth= 12.5 \r\nInsertHeight=30.01\r\nInsertGap=0\r\n");
    SetupRecord setup;
    LoadSetupIni(setup, path);
    EXPECT_EQ(setup.Legends.Key[2] + setup.Legends.Func2[2], "oldx");
    EXPECT_EQ(setup.Legends.InsertWidth, 12.5);
    EXPECT_EQ(setup.Legends.InsertHeight, kDefaultInsertHeight);
    EXPECT_EQ(setup.Legends.InsertGap, 0);
    for (const char* bad : {"4.99", "1e", "-1", "5,5", "nan", ""}) {
        m_dir.write("sizes.ini", std::string("[Legends]\r\nInsertWidth=") + bad + "\r\n");
        LoadSetupIni(setup, m_dir.path("sizes.ini"));
        EXPECT_EQ(setup.Legends.InsertWidth, kDefaultInsertWidth) << bad;
    }
    LoadSetupIni(setup, path);
    setup.Legends.Key[2] = " ";
    setup.Legends.Func2[2].clear();
    setup.Legends.Key[3] = "new";
    setup.Legends.InsertWidth = kDefaultInsertWidth;
    ASSERT_TRUE(SaveSetupIni(setup, path).ok);
    EXPECT_TRUE(test::TempDir::read(path).starts_with(
        "[Legends]\r\nNote=kept\r\nInsertGap=0\r\nLegend3=new\r\n[Version]"));
    ASSERT_TRUE(SaveSetupIni(SetupRecord{}, m_dir.path("new.ini")).ok);
    EXPECT_EQ(test::TempDir::read(m_dir.path("new.ini")).find("Legends"), std::string::npos);
}

TEST_F(SetupFileTest, FailedSaveReportsTheSystemTextAndLeavesNoTrace) {
    const SaveResult noFolder = SaveSetupIni(fullSetup(), m_dir.path("no/such/folder.INI"));
    EXPECT_FALSE(noFolder.ok);
#ifndef _WIN32
    EXPECT_EQ(noFolder.error, std::generic_category().message(ENOENT));
#endif
    EXPECT_TRUE(m_dir.entries().empty());

    // The target is a folder that holds a file: it must come through unchanged.
    std::filesystem::create_directory(m_dir.path("shop.INI"));
    m_dir.write("shop.INI/inside", "data");
    const SaveResult onFolder = SaveSetupIni(fullSetup(), m_dir.path("shop.INI"));
    EXPECT_FALSE(onFolder.ok);
    EXPECT_FALSE(onFolder.error.empty());
    EXPECT_EQ(m_dir.entries(), std::set<std::string>{"shop.INI"});
    EXPECT_EQ(test::TempDir::read(m_dir.path("shop.INI/inside")), "data");

    // A binary file named like a setup is no setup: not written over.
    const std::string binary(
        "\x7F"
        "ELF\0[Keys]\r\n",
        13);
    EXPECT_EQ(SaveSetupIni(fullSetup(), m_dir.write("bin.ini", binary)).error,
              "Not a setup file: it holds a NUL byte");
    EXPECT_EQ(test::TempDir::read(m_dir.path("bin.ini")), binary);
}

SetupRecord setupWithText(const std::string& text) {
    SetupRecord setup;
    for (int key = 1; key <= kKeyCount; ++key) {
        setup.KeyStrings[key] = text + std::to_string(key);
    }
    return setup;
}

// A save that fails at any step - after any byte count, on flush, close or rename - leaves
// the old file whole (or none, when there was none) and nothing else in the folder; a
// fault just past the last byte lets the save through.
TEST_F(SetupFileTest, EveryFailingSaveStepKeepsTheOldFile) {
    const std::string path = m_dir.path("shop.ini");
    ASSERT_TRUE(SaveSetupIni(setupWithText("n"), path).ok);
    const std::string newBytes = test::TempDir::read(path);
    std::vector<WriteFaults> plans{{.failFlush = true}, {.failClose = true}, {.failRename = true}};
    for (std::size_t bytes = 0; bytes <= newBytes.size(); ++bytes) {
        plans.push_back(WriteFaults{.failAfterBytes = bytes});
    }
    for (const bool hadFile : {true, false}) {
        std::filesystem::remove(path);
        // Same keys, other values: the two files differ whatever the byte count.
        ASSERT_TRUE(!hadFile || SaveSetupIni(setupWithText("o"), path).ok);
        const std::string oldBytes = test::TempDir::read(path);
        for (const WriteFaults& faults : plans) {
            SCOPED_TRACE(testing::Message()
                         << hadFile << " " << faults.failAfterBytes << " " << faults.failFlush
                         << faults.failClose << faults.failRename);
            setWriteFaultsForTesting(&faults);
            const SaveResult result = SaveSetupIni(setupWithText("n"), path);
            setWriteFaultsForTesting(nullptr);
            const bool passes = faults.failAfterBytes == newBytes.size();
            ASSERT_EQ(result.ok, passes);
            EXPECT_EQ(result.error.empty(), passes);
            EXPECT_EQ(test::TempDir::read(path), passes ? newBytes : oldBytes);
            EXPECT_EQ(m_dir.entries().size(), passes || hadFile ? 1u : 0u);
            if (passes) {  // the last plan: put the old state back for the next round
                std::filesystem::remove(path);
                ASSERT_TRUE(!hadFile || SaveSetupIni(setupWithText("o"), path).ok);
            }
        }
    }
}

// Names of no single code page save and load; a read-only file is refused and stays as it
// was, read-only; on Windows a hidden file stays hidden and keeps its name's letter case.
TEST_F(SetupFileTest, NamesAndFileAttributesSurviveASave) {
    namespace fs = std::filesystem;
    for (const char* name :
         {"\u043c\u0430\u0433\u0430\u0437\u0438\u043d.ini", "\u05e7\u05d5\u05e4\u05d4.ini"}) {
        ASSERT_TRUE(SaveSetupIni(setupWithText("n"), m_dir.path(name)).ok) << name;
        SetupRecord loaded;
        EXPECT_EQ(LoadSetupIni(loaded, m_dir.path(name)).status, ReadStatus::Ok);
        EXPECT_EQ(loaded.KeyStrings[84], "n84");
        EXPECT_EQ(m_dir.entries().count(name), 1u);
    }
    const std::string locked = m_dir.write("locked.ini", "[Keys]\r\nKey1=old\r\n");
    fs::permissions(nativePath(locked),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const SaveResult refused = SaveSetupIni(setupWithText("n"), locked);
    EXPECT_FALSE(refused.ok || refused.error.empty());
    EXPECT_EQ(test::TempDir::read(locked), "[Keys]\r\nKey1=old\r\n");
    EXPECT_EQ(fs::status(nativePath(locked)).permissions() & fs::perms::owner_write,
              fs::perms::none);
    fs::permissions(nativePath(locked), fs::perms::owner_write, fs::perm_options::add);
#ifdef _WIN32
    const std::wstring hidden = wideText(m_dir.write("hidden.ini", ""));
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
    // Saved under another letter case: the file keeps its own name.
    ASSERT_TRUE(SaveSetupIni(setupWithText("n"), m_dir.path("HIDDEN.INI")).ok);
    EXPECT_TRUE(GetFileAttributesW(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(m_dir.entries().count("hidden.ini"), 1u);
#endif
}

#ifndef _WIN32
// The link stays a link, the file it names keeps its foreign lines and its permissions
// (an execute bit no umask could give a new file).
TEST_F(SetupFileTest, SaveThroughALinkKeepsTheLinkAndThePermissions) {
    namespace fs = std::filesystem;
    fs::create_directory(m_dir.path("real"));
    const std::string target = m_dir.write("real/shop.INI", "[Extra]\r\nx=1\r\n");
    const auto perms = fs::perms::owner_all | fs::perms::group_read;
    fs::permissions(target, perms);
    fs::create_symlink("real/shop.INI", m_dir.path("link.INI"));
    ASSERT_TRUE(SaveSetupIni(fullSetup(), m_dir.path("link.INI")).ok);
    EXPECT_TRUE(fs::is_symlink(m_dir.path("link.INI")));
    EXPECT_TRUE(test::TempDir::read(target).starts_with("[Extra]\r\nx=1\r\n[Version]\r\n"));
    EXPECT_EQ(fs::status(target).permissions(), perms);
    EXPECT_EQ(m_dir.entries(), (std::set<std::string>{"real", "link.INI"}));
    // A name near the length limit saves too.
    const std::string name = std::string(251, 'n') + ".INI";
    const SaveResult result = SaveSetupIni(fullSetup(), m_dir.path("real/" + name));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(m_dir.entries("real"), (std::set<std::string>{"shop.INI", name}));
}
#endif

}  // namespace
}  // namespace qk750
