#include "app/initial_load.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace qk750 {
namespace {

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
    dir.write("shop.ini",
              "[Keys]\r\nKey1=abc\r\nKey2=xyz\r\nKey2_2=<F1>\r\n"
              "[Mcr]\r\nMcrSetupMode=3\r\nTransmitChecksum=1\r\nMcrDelay=0\r\n"
              "PreambleString=<F8>\r\n");
    dir.write("keys.dat", "1,1,1,q\r\n7,12,2,[Spc]\r\n");
    state.SetupFileName = dir.path("shop.ini");
    state.DatImportPath = dir.path("keys.dat");

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
    EXPECT_EQ(state.SetupFileName, dir.path("shop.ini"));
    expectProgramStateReset();
}

TEST_F(InitialLoadTest, DatSetupFileKeepsTheMcrDefaults) {
    dir.write("keys.dat", "2,1,1,xy\n");
    state.SetupFileName = dir.path("keys.dat");
    state.DatImportPath = dir.path("ignored.dat");

    const LoadResult result = InitialLoad(state);

    EXPECT_FALSE(result.kbdImport);
    EXPECT_EQ(state.Setup.KeyStrings[13], "xy");
    EXPECT_EQ(state.SetupFileName, dir.path("keys.INI"));
    EXPECT_FALSE(std::filesystem::exists(dir.path("keys.INI")));
    SetupRecType expected;
    expected.McrDelay = 5;
    EXPECT_EQ(state.Setup.Mcr, expected);
}

TEST_F(InitialLoadTest, MissingIniGivesTheReaderDefaults) {
    state.SetupFileName = dir.path("QK750.INI");

    InitialLoad(state);

    // The reader's default mode 1 is a built-in mode once shown.
    EXPECT_EQ(state.Setup.Mcr.McrSetupMode, 1);
    EXPECT_TRUE(state.Setup.Mcr.BuiltIn_Setup);
    EXPECT_EQ(state.Setup.Mcr.McrDelay, 5);
    EXPECT_FALSE(std::filesystem::exists(dir.path("QK750.INI")));
    expectProgramStateReset();
}

}  // namespace
}  // namespace qk750
