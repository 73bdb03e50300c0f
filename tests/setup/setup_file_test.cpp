#include "setup/setup_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "common/temp_dir.h"
#include "setup/file_io.h"

namespace qk750 {
namespace {

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
    setup.Mcr = {true, true, true, true, 11, " %B ", "?<Enter>", -20};
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
        text.starts_with("[Version]\r\nFileVer=1.00\r\n[Setup]\r\nLockedSetup=1\r\n"
                         "[Keys]\r\nKey1=k1<Enter>\r\nKey1_2=<CtrlC>f1\r\nKey2= a=b \r\n"))
        << text;
    EXPECT_TRUE(
        text.ends_with("Key84_2=<CtrlC>f84\r\n[Mcr]\r\nBuiltIn_Setup=1\r\n"
                       "McrSetupMode=11\r\nMcrDelay=-20\r\nTransmitChecksum=1\r\n"
                       "BF_Checksum=1\r\nPreambleString= %B \r\nPostambleString=?<Enter>\r\n"))
        << text;
    SetupRecord flagsOff = fullSetup();
    flagsOff.Mcr = SetupRecType{false, false, false, false, 0, "x", "y", 0};
    for (const SetupRecord& saved : {fullSetup(), flagsOff}) {
        ASSERT_TRUE(SaveSetupIni(saved, path).ok);
        SetupRecord loaded;
        loaded.KeyStrings[7] = "stale";
        LoadSetupIni(loaded, path);
        SetupRecord expected = saved;
        expected.KeyStrings[8] = "aKey9=xb";
        EXPECT_EQ(loaded, expected);
    }
    EXPECT_EQ(m_dir.entries(), std::set<std::string>{"shop.INI"});
}

// Sections keep their order and their foreign lines; known keys keep their spelling; new
// keys follow a section's last line and new sections come last.
TEST_F(SetupFileTest, SaveKeepsWhatItDoesNotOwn) {
    const std::string path =
        m_dir.write("shop.ini",
                    "; shop 12\n[mcr]\nmcrdelay=7\nVendor=keep me\n[Printer]\nPort=COM2\n"
                    "[KEYS]\nKEY5=old\nComment line without equals\n");
    SetupRecord setup;
    setup.KeyStrings[5] = "new";
    setup.Mcr.McrDelay = 9;
    ASSERT_TRUE(SaveSetupIni(setup, path).ok);
    const std::string text = test::TempDir::read(path);
    EXPECT_TRUE(text.starts_with(
        "; shop 12\r\n[mcr]\r\nmcrdelay=9\r\nVendor=keep me\r\nBuiltIn_Setup=0\r\n"))
        << text;
    EXPECT_NE(text.find("PostambleString=\r\n[Printer]\r\nPort=COM2\r\n[KEYS]\r\nKEY5=new\r\n"
                        "Comment line without equals\r\nKey1=\r\n"),
              std::string::npos);
    EXPECT_TRUE(
        text.ends_with("Key84_2=\r\n[Version]\r\nFileVer=1.00\r\n[Setup]\r\nLockedSetup=0\r\n"))
        << text;
    EXPECT_EQ(text.find("Key5="), std::string::npos);
    SetupRecord loaded;
    LoadSetupIni(loaded, path);
    EXPECT_EQ(loaded, setup);
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
        {"[Setup]\nLockedSetup=true\n[Mcr]\nBuiltIn_Setup=1x\nTransmitChecksum=\nBF_Checksum=0x1\n",
         defaults()},
        {"[Mcr]\nMcrSetupMode=+11\nMcrDelay=\t-12 \n",
         M{false, false, false, false, 11, "", "", -12}},
        {"[Mcr]\nMcrSetupMode=3 4\nMcrDelay=2147483648\n", defaults()},
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
        // Reading never writes.
        EXPECT_EQ(test::TempDir::read(path), text);
        EXPECT_EQ(m_dir.entries(), std::set<std::string>{"in.ini"});
    }
}

TEST_F(SetupFileTest, MissingFileGivesDefaultsWithoutCreatingIt) {
    SetupRecord setup = fullSetup();
    LoadSetupIni(setup, m_dir.path("none.ini"));
    SetupRecord expected;
    expected.Mcr = defaults();
    EXPECT_EQ(setup, expected);
    EXPECT_TRUE(m_dir.entries().empty());
}

TEST_F(SetupFileTest, FailedSaveReportsTheSystemTextAndLeavesNoTrace) {
    const SaveResult noFolder = SaveSetupIni(fullSetup(), m_dir.path("no/such/folder.INI"));
    EXPECT_FALSE(noFolder.ok);
#ifdef _WIN32
    // The system's words for ERROR_PATH_NOT_FOUND; std::system_category drops the full stop.
    EXPECT_EQ(noFolder.error.rfind(std::system_category().message(3), 0), 0u) << noFolder.error;
#else
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
    test::TempDir& dir = m_dir;
    const std::string path = dir.path("shop.ini");
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
            EXPECT_EQ(dir.entries().size(), passes || hadFile ? 1u : 0u);
            if (passes) {  // the last plan: put the old state back for the next round
                std::filesystem::remove(path);
                ASSERT_TRUE(!hadFile || SaveSetupIni(setupWithText("o"), path).ok);
            }
        }
    }
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
