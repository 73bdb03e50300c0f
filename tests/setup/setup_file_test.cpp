#include "setup/setup_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "common/temp_dir.h"
#include "setup/kbd_file.h"

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
    setup.Func2Strings[6].clear();
    setup.Mcr = {true, true, true, true, 11, " %B ", "?<Enter>", -20};
    return setup;
}

class SetupFileTest : public testing::Test {
protected:
    test::TempDir m_dir;
};

TEST_F(SetupFileTest, SaveAndLoadReproduceEveryField) {
    SetupRecord flagsOff = fullSetup();
    flagsOff.Mcr = SetupRecType{false, false, false, false, 0, "x", "y", 0};
    for (const SetupRecord& saved : {fullSetup(), flagsOff}) {
        const std::string path = m_dir.path("shop.INI");
        ASSERT_TRUE(SaveSetupIni(saved, path).ok);
        SetupRecord loaded;
        loaded.KeyStrings[7] = "stale";
        LoadSetupIni(loaded, path);
        EXPECT_EQ(loaded, saved);
    }
    EXPECT_EQ(m_dir.entries(), std::set<std::string>{"shop.INI"});
}

TEST_F(SetupFileTest, SaveKeepsWhatItDoesNotOwn) {
    const std::string path = m_dir.write("shop.ini",
                                         "; shop 12\n"
                                         "[mcr]\n"
                                         "mcrdelay=7\n"
                                         "Vendor=keep me\n"
                                         "[Printer]\n"
                                         "Port=COM2\n"
                                         "[KEYS]\n"
                                         "KEY5=old\n"
                                         "Comment line without equals\n");
    SetupRecord setup;
    setup.KeyStrings[5] = "new";
    setup.Mcr.McrDelay = 9;
    ASSERT_TRUE(SaveSetupIni(setup, path).ok);

    const std::string text = test::TempDir::read(path);
    // Sections keep their order and their foreign lines; known keys keep their spelling;
    // new keys follow a section's last line and new sections come last.
    EXPECT_TRUE(
        text.starts_with("; shop 12\r\n"
                         "[mcr]\r\n"
                         "mcrdelay=9\r\n"
                         "Vendor=keep me\r\n"
                         "BuiltIn_Setup=0\r\n"
                         "McrSetupMode=0\r\n"
                         "TransmitChecksum=0\r\n"
                         "BF_Checksum=0\r\n"
                         "PreambleString=\r\n"
                         "PostambleString=\r\n"
                         "[Printer]\r\n"
                         "Port=COM2\r\n"
                         "[KEYS]\r\n"
                         "KEY5=new\r\n"
                         "Comment line without equals\r\n"
                         "Key1=\r\n"
                         "Key1_2=\r\n"))
        << text;
    EXPECT_TRUE(
        text.ends_with("Key84_2=\r\n[Version]\r\nFileVer=1.00\r\n[Setup]\r\nLockedSetup=0\r\n"))
        << text;
    EXPECT_EQ(text.find("Key5="), std::string::npos);

    SetupRecord loaded;
    LoadSetupIni(loaded, path);
    EXPECT_EQ(loaded, setup);
}

TEST_F(SetupFileTest, LineBreaksInImportedValuesDoNotSplitLines) {
    SetupRecord setup;
    setup.KeyStrings[1] = "a\r\nMcrDelay=1\rb";
    setup.Mcr.McrDelay = 5;
    const std::string path = m_dir.path("s.INI");
    ASSERT_TRUE(SaveSetupIni(setup, path).ok);
    SetupRecord loaded;
    LoadSetupIni(loaded, path);
    EXPECT_EQ(loaded.KeyStrings[1], "aMcrDelay=1b");
    EXPECT_EQ(loaded.Func2Strings[1], "");
    EXPECT_EQ(loaded.Mcr.McrDelay, 5);
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

#ifndef _WIN32
TEST_F(SetupFileTest, SymbolicLinkStaysALink) {
    namespace fs = std::filesystem;
    fs::create_directory(m_dir.path("real"));
    const std::string target = m_dir.write("real/shop.INI", "[Extra]\r\nx=1\r\n");
    fs::create_symlink("real/shop.INI", m_dir.path("link.INI"));
    ASSERT_TRUE(SaveSetupIni(fullSetup(), m_dir.path("link.INI")).ok);
    EXPECT_TRUE(fs::is_symlink(m_dir.path("link.INI")));
    SetupRecord loaded;
    LoadSetupIni(loaded, target);
    EXPECT_EQ(loaded, fullSetup());
    EXPECT_TRUE(test::TempDir::read(target).starts_with("[Extra]\r\nx=1\r\n"));
    EXPECT_EQ(m_dir.entries(), (std::set<std::string>{"real", "link.INI"}));
}

TEST_F(SetupFileTest, NameNearTheLengthLimitSaves) {
    const std::string name = std::string(251, 'n') + ".INI";
    const SaveResult result = SaveSetupIni(fullSetup(), m_dir.path(name));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(m_dir.entries(), std::set<std::string>{name});
}

TEST_F(SetupFileTest, ReplacedFileKeepsItsPermissions) {
    namespace fs = std::filesystem;
    const std::string path = m_dir.write("shop.INI", "[Keys]\r\nKey1=old\r\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(SaveSetupIni(fullSetup(), path).ok);
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(m_dir.entries(), std::set<std::string>{"shop.INI"});
}
#endif

constexpr const char* kNoFile = "(no file)";

TEST_F(SetupFileTest, LoadChoosesTheReaderByExtensionInAnyCase) {
    using S = std::set<std::string>;
    const struct {
        const char* fileName;   // created in the test folder
        const char* content;    // nullptr: a valid KBD file; kNoFile: not created
        const char* finalName;  // SetupFileName afterwards
        const char* datPath;    // DatImportPath afterwards, "earlier.dat" before
        bool kbdImport;
        KbdImportStatus kbdStatus;
        const char* key1;  // KeyStrings[1] afterwards
        S files;           // the folder afterwards
    } cases[] = {
        {"SHOP.KBD", nullptr, "SHOP.INI", "earlier.dat", true, KbdImportStatus::Ok, "K<Space>",
         S{"SHOP.KBD", "SHOP.INI"}},
        {"gone.KBD", kNoFile, "gone.KBD", "earlier.dat", true, KbdImportStatus::Missing, "", S{}},
        {"bad.Kbd", "short", "bad.Kbd", "earlier.dat", true, KbdImportStatus::InvalidSize, "",
         S{"bad.Kbd"}},
        {"KEYS.DAT", "1,1,1,[Tab]\r\n", "KEYS.INI", "KEYS.DAT", false, KbdImportStatus::Ok, "<Tab>",
         S{"KEYS.DAT"}},
        {"keys.dat", "1,1,1,q\n", "keys.INI", "keys.dat", false, KbdImportStatus::Ok, "q",
         S{"keys.dat"}},
        {"shop.ini", "[Keys]\nKey1=i\n", "shop.ini", "earlier.dat", false, KbdImportStatus::Ok, "i",
         S{"shop.ini"}},
        {"shop", "[Keys]\nKey1=n\n", "shop", "earlier.dat", false, KbdImportStatus::Ok, "n",
         S{"shop"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileName);
        std::filesystem::remove_all(m_dir.path());
        std::filesystem::create_directory(m_dir.path());
        if (c.content == nullptr) {
            test::KbdFile kbd;
            kbd.setString(1, 1, test::kMark + "K" + test::kMark + "Spc");
            kbd.setString(90, 1, test::kMark + "%");
            m_dir.write(c.fileName, kbd.bytes());
        } else if (c.content != kNoFile) {
            m_dir.write(c.fileName, c.content);
        }
        ProgramState state;
        state.SetupFileName = m_dir.path(c.fileName);
        state.DatImportPath = m_dir.path("earlier.dat");
        state.Setup.KeyStrings[1] = "stale";
        state.Setup.Mcr.McrSetupMode = 7;
        const LoadResult result = LoadSetupFile(state);

        EXPECT_EQ(state.SetupFileName, m_dir.path(c.finalName));
        EXPECT_EQ(state.DatImportPath, m_dir.path(c.datPath));
        EXPECT_EQ(result.kbdImport, c.kbdImport);
        EXPECT_EQ(result.kbdStatus, c.kbdStatus);
        EXPECT_TRUE(result.save.ok);
        EXPECT_EQ(state.Setup.KeyStrings[1], c.key1);
        EXPECT_EQ(m_dir.entries(), c.files);
        if (c.kbdImport && c.kbdStatus == KbdImportStatus::Ok) {
            EXPECT_EQ(state.Setup.Mcr.PreambleString, "%");
            SetupRecord saved;
            LoadSetupIni(saved, state.SetupFileName);
            EXPECT_EQ(saved, state.Setup);
        }
        if (c.datPath != std::string("earlier.dat")) {
            EXPECT_EQ(state.Setup.Mcr.McrSetupMode, 7);  // a DAT import keeps the MCR part
        }
    }
}

TEST_F(SetupFileTest, FailedSaveOfKbdTwinIsReported) {
    m_dir.write("shop.KBD", test::KbdFile().bytes());
    std::filesystem::create_directory(m_dir.path("shop.INI"));
    m_dir.write("shop.INI/inside", "");
    ProgramState state;
    state.SetupFileName = m_dir.path("shop.KBD");
    const LoadResult result = LoadSetupFile(state);
    EXPECT_EQ(result.kbdStatus, KbdImportStatus::Ok);
    EXPECT_FALSE(result.save.ok);
    EXPECT_FALSE(result.save.error.empty());
    EXPECT_EQ(state.SetupFileName, m_dir.path("shop.INI"));
}

}  // namespace
}  // namespace qk750
