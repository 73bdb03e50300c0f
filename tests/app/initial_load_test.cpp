#include "app/initial_load.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace qk750 {
namespace {

// A KBD file of the right size whose record 1 holds `first` as its first string.
std::string kbdBytes(const std::string& first, std::size_t size = kKbdFileSize) {
    std::string bytes(size, '\0');
    bytes[10] = static_cast<char>(first.size());
    bytes.replace(11, first.size(), first);
    return bytes;
}

class InitialLoadTest : public testing::Test {
protected:
    InitialLoadTest() {
        // What a previous session may have left behind.
        state.ProgrammingOk = true;
        state.Globals.EditTarget = kEditPostamble;
        state.Globals.StopWaiting = true;
    }

    void expectProgramStateReset() const {
        EXPECT_FALSE(state.ProgrammingOk);
        EXPECT_EQ(state.Globals.EditTarget, kEditKeyLines);
        EXPECT_FALSE(state.Globals.StopWaiting);
    }

    test::TempDir dir;
    ProgramState state;
};

TEST_F(InitialLoadTest, DatFromCommandLineReplacesKeysAfterTheIniLoad) {
    test::writeFile(dir.file("shop.ini"),
                    "[Keys]\r\nKey1=abc\r\nKey2=xyz\r\nKey2_2=<F1>\r\n"
                    "[Mcr]\r\nMcrSetupMode=3\r\nTransmitChecksum=1\r\nMcrDelay=0\r\n"
                    "PreambleString=<F8>\r\n");
    test::writeFile(dir.file("keys.dat"), "1,1,1,q\r\n7,12,2,[Spc]\r\n");
    state.SetupFileName = dir.file("shop.ini");
    state.DatImportPath = dir.file("keys.dat");

    const LoadResult result = InitialLoad(state);

    EXPECT_FALSE(result.kbdImport);
    EXPECT_EQ(state.Setup.KeyStrings[1], "q");
    EXPECT_EQ(state.Setup.KeyStrings[2], "");
    EXPECT_EQ(state.Setup.Func2Strings[2], "");
    EXPECT_EQ(state.Setup.Func2Strings[84], "<Space>");
    // The MCR part comes from the INI file, as the dialogs show and gather it.
    EXPECT_EQ(state.Setup.Mcr.McrSetupMode, 3);
    EXPECT_TRUE(state.Setup.Mcr.BuiltIn_Setup);
    EXPECT_FALSE(state.Setup.Mcr.TransmitChecksum);
    EXPECT_EQ(state.Setup.Mcr.McrDelay, 5);
    EXPECT_EQ(state.Setup.Mcr.PreambleString, "<F8>");
    EXPECT_EQ(state.SetupFileName, dir.file("shop.ini"));
    expectProgramStateReset();
}

TEST_F(InitialLoadTest, KbdImportWritesItsIniTwin) {
    test::writeFile(dir.file("old.KBD"), kbdBytes("\xF9"
                                                  "A\xF9"
                                                  "BkSp\xF9"));
    state.SetupFileName = dir.file("old.KBD");

    const LoadResult result = InitialLoad(state);

    EXPECT_TRUE(result.kbdImport);
    EXPECT_EQ(result.kbdStatus, KbdImportStatus::Ok);
    EXPECT_TRUE(result.save.ok) << result.save.error;
    EXPECT_EQ(state.SetupFileName, dir.file("old.INI"));
    EXPECT_EQ(state.Setup.KeyStrings[1], "A<Back>");
    ASSERT_TRUE(std::filesystem::exists(dir.file("old.INI")));
    EXPECT_NE(test::readFile(dir.file("old.INI")).find("Key1=A<Back>\r\n"), std::string::npos);
    expectProgramStateReset();
}

TEST_F(InitialLoadTest, KbdOfWrongSizeIsReportedAndNothingWritten) {
    test::writeFile(dir.file("old.KBD"), kbdBytes("\xF9q", kKbdFileSize + 1));
    state.SetupFileName = dir.file("old.KBD");

    const LoadResult result = InitialLoad(state);

    EXPECT_TRUE(result.kbdImport);
    EXPECT_EQ(result.kbdStatus, KbdImportStatus::InvalidSize);
    EXPECT_EQ(state.SetupFileName, dir.file("old.KBD"));
    EXPECT_EQ(state.Setup.KeyStrings[1], "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("old.INI")));
}

TEST_F(InitialLoadTest, DatSetupFileKeepsTheMcrDefaults) {
    test::writeFile(dir.file("keys.dat"), "2,1,1,xy\n");
    state.SetupFileName = dir.file("keys.dat");
    state.DatImportPath = dir.file("ignored.dat");

    const LoadResult result = InitialLoad(state);

    EXPECT_FALSE(result.kbdImport);
    EXPECT_EQ(state.Setup.KeyStrings[13], "xy");
    EXPECT_EQ(state.SetupFileName, dir.file("keys.INI"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("keys.INI")));
    SetupRecType expected;
    expected.McrDelay = 5;
    EXPECT_EQ(state.Setup.Mcr, expected);
}

TEST_F(InitialLoadTest, MissingIniGivesTheReaderDefaults) {
    state.SetupFileName = dir.file("QK750.INI");

    InitialLoad(state);

    // The reader's default mode 1 is a built-in mode once shown.
    EXPECT_EQ(state.Setup.Mcr.McrSetupMode, 1);
    EXPECT_TRUE(state.Setup.Mcr.BuiltIn_Setup);
    EXPECT_EQ(state.Setup.Mcr.McrDelay, 5);
    EXPECT_FALSE(std::filesystem::exists(dir.file("QK750.INI")));
    expectProgramStateReset();
}

}  // namespace
}  // namespace qk750
