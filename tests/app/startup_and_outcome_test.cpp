#include "app/batch.h"
#include "app/cli.h"
#include "app/error_file.h"
#include "app/image_errors.h"
#include "app/initial_load.h"
#include "app/mcr_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "common/temp_dir.h"

namespace qk750 {
namespace {

// The outcome file is two CR LF lines over whatever was there, or quietly nothing where no
// file can be.
TEST(BatchReporterTest, FailureGoesToTheOutcomeFileAndStandardError) {
    test::TempDir dir;
    ProgramState state;
    state.ErrorFilePath = dir.write(
        "QK750.ERR", "ERR_SETUP_FILE_NOT_FOUND\r\n/a/path/longer/than/the/new/detail.ini\r\n");
    std::ostringstream err;
    BatchReporter reporter(state, err, true);
    reporter.progressStep(370, 1000);
    reporter.failure("ERR_WRITE_VERIFY", "Memory 0010 Written41 Read=FF",
                     "Verify error in data write to USB QK750\r\rMemory 0010 Written41 Read=FF");
    EXPECT_EQ(test::TempDir::read(dir.path("QK750.ERR")),
              "ERR_WRITE_VERIFY\r\nMemory 0010 Written41 Read=FF\r\n");
    // The progress line is ended first, and the message's carriage returns become line ends.
    EXPECT_EQ(err.str(),
              "\r37% ZQ QK750 USB\nERR_WRITE_VERIFY: Verify error in data write to USB "
              "QK750\n\nMemory 0010 Written41 Read=FF\n");
    EXPECT_FALSE(reporter.askToConnect("Make sure USB QK750 is connected"));
    EXPECT_FALSE(WriteErrorFile(dir.path("missing/QK750.ERR"), "OK", "x"));
    EXPECT_FALSE(std::filesystem::exists(dir.path("missing")));
    EXPECT_FALSE(WriteErrorFile(dir.path(), "OK", "x"));
}

TEST(ParseCliOptions, SeparatesOurOptionsFromTheParameters) {
    CliParseResult r = parseCliOptions(
        {"/B", "--trace", "--simulate=mem.bin", "shop.ini", "--image=out.bin", "/I=k.dat"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.options.parameters, (std::vector<std::string>{"/B", "shop.ini", "/I=k.dat"}));
    EXPECT_TRUE(r.options.trace && r.options.simulate && r.options.image);
    EXPECT_FALSE(r.options.listDevices || r.options.help);
    EXPECT_EQ(r.options.simulateFile + "|" + r.options.imageFile, "mem.bin|out.bin");

    r = parseCliOptions({"--simulate", "--list-devices"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(r.options.simulate && r.options.listDevices && r.options.parameters.empty());
    EXPECT_EQ(r.options.simulateFile, "");

    // A "--" parameter is never a file name, so none of these may reach ParseCommandLine.
    for (const char* bad : {"--", "--bogus", "--image", "--image=", "--simulate=", "--help=x",
                            "--IMAGE=x.bin", "--trace=1"}) {
        EXPECT_FALSE(parseCliOptions({"shop.ini", bad}).ok()) << bad;
    }
}

// The texts are what operators and scripts reading the outcome file see; the detail line
// names the key only for a key that is too long, whatever entry a memory-full error hit.
TEST(DescribeImageFailure, GivesTextCodeAndDetail) {
    const std::string file = "/srv/setups/shop.ini";
    const std::pair<ImageResult, std::string> cases[] = {
        {{ImageError::KeyTooLong, 12, 2, 40},
         "Key 12 is too long !! Reduce length of key...|ERR_KEY_LEN|Key 12"},
        {{ImageError::PreambleTooLong, 85, 1, 1},
         "MCR Preamble is too long !! Reduce length of preamble...|ERR_MCR_PREAMBLE_LEN|" + file},
        {{ImageError::PostambleTooLong, 86, 1, 1},
         "MCR Postamble is too long !! Reduce length of postamble...|ERR_MCR_POSTAMBLE_LEN|" +
             file},
        {{ImageError::MemoryFull, 40, 2, 1695},
         "QK750 Memory full!! Reduce length of keys...|ERR_MEMORY_FULL|" + file},
    };
    for (const auto& [result, expected] : cases) {
        const ImageFailureReport r = describeImageFailure(result, file);
        EXPECT_EQ(r.message + "|" + r.code + "|" + r.detail, expected);
    }
    EXPECT_TRUE(describeImageFailure(ImageResult{}, file).code.empty());
}

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

SetupRecType mcr(bool builtIn, bool checksum, bool bf, std::int32_t mode, std::int32_t delay) {
    return SetupRecType{builtIn, checksum, bf, false, mode, "", "", delay};
}

// A built-in mode (1-11) wins over the file's BuiltIn_Setup, and checking the built-in box
// clears both checksum boxes. Outside the list the box is checked (checksums cleared) but
// no entry is selected; 0 and 255 mean no built-in mode and leave the checksums as loaded.
// Only a delay of 0 is replaced. What is gathered comes through a second round unchanged.
TEST(McrRoundTrip, GathersWhatTheDialogsShow) {
    const struct {
        SetupRecType loaded;
        SetupRecType gathered;
    } cases[] = {
        {mcr(false, true, true, 3, 7), mcr(true, false, false, 3, 7)},
        {mcr(false, false, true, 1, 5), mcr(true, false, false, 1, 5)},
        {mcr(true, true, false, 11, 9), mcr(true, false, false, 11, 9)},
        {mcr(true, true, true, 12, 5), mcr(false, false, false, 0, 5)},
        {mcr(true, true, true, -1, 5), mcr(false, false, false, 0, 5)},
        {mcr(false, true, true, 1000, 5), mcr(false, false, false, 0, 5)},
        {mcr(true, true, true, 255, 5), mcr(false, true, true, 0, 5)},
        {mcr(true, true, false, 0, 5), mcr(false, true, false, 0, 5)},
        {mcr(false, false, false, 0, 0), mcr(false, false, false, 0, 5)},
        {mcr(false, false, false, 0, -3), mcr(false, false, false, 0, -3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mcrAsShownAndGathered(c.loaded), c.gathered)
            << "mode " << c.loaded.McrSetupMode << " delay " << c.loaded.McrDelay;
        EXPECT_EQ(mcrAsShownAndGathered(c.gathered), c.gathered);
    }
}

}  // namespace
}  // namespace qk750
