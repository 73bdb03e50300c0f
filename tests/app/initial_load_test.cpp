#include "app/initial_load.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace qk750 {
namespace {

// The setup as the dialogs show and gather it, keys replaced by a DAT file named on the
// command line or as the setup itself; what a previous session left is reset.
TEST(InitialLoad, DatReplacesKeysAfterTheIniLoadAndMcrIsGathered) {
    test::TempDir dir;
    dir.write("shop.ini",
              "[Keys]\r\nKey1=abc\r\nKey2=xyz\r\nKey2_2=<F1>\r\n"
              "[Mcr]\r\nMcrSetupMode=3\r\nTransmitChecksum=1\r\nMcrDelay=0\r\n"
              "PreambleString=<F8>\r\n");
    dir.write("keys.dat", "1,1,1,q\r\n7,12,2,[Spc]\r\n");
    const struct {
        const char* setupFile;
        const char* datFile;
        const char* finalName;
        SetupRecType mcr;  // BuiltIn, TransmitChecksum, BF, Locked, mode, pre, post, delay
    } cases[] = {
        {"shop.ini", "keys.dat", "shop.ini", {true, false, false, false, 3, "<F8>", "", 5}},
        {"keys.dat", "ignored.dat", "keys.INI", {false, false, false, false, 0, "", "", 5}},
        // The reader's default mode 1 is a built-in mode once shown.
        {"QK750.INI", "", "QK750.INI", {true, false, false, false, 1, "", "", 5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setupFile);
        ProgramState state;
        state.ProgrammingOk = state.Globals.StopWaiting = true;
        state.Globals.EditTarget = kEditPostamble;
        state.SetupFileName = dir.path(c.setupFile);
        state.DatImportPath = *c.datFile ? dir.path(c.datFile) : "";
        const LoadResult result = InitialLoad(state);
        EXPECT_FALSE(result.kbdImport);
        EXPECT_EQ(state.SetupFileName, dir.path(c.finalName));
        EXPECT_EQ(state.Setup.Mcr, c.mcr);
        if (*c.datFile) {
            EXPECT_EQ(state.Setup.KeyStrings[1] + state.Setup.KeyStrings[2] +
                          state.Setup.Func2Strings[2] + state.Setup.Func2Strings[84],
                      "q<Space>");
        }
        EXPECT_FALSE(state.ProgrammingOk || state.Globals.StopWaiting);
        EXPECT_EQ(state.Globals.EditTarget, kEditKeyLines);
    }
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"keys.dat", "shop.ini"}));  // no twin yet
}

}  // namespace
}  // namespace qk750
