#include "app/command_line.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace qk750 {
namespace {

const std::string kPosixDefault = "/opt/qk750/QK750.INI";
const std::string kWindowsDefault = "C:\\QK750\\QK750.INI";

// Switches are tested after upper-casing; a POSIX path keeps its case and, being
// absolute, is a file unless it has the form of a switch.
TEST(ParseCommandLine, SetsFileNamesAndMode) {
    constexpr PathRules P = PathRules::Posix;
    constexpr PathRules W = PathRules::Windows;
    // clang-format off
    const struct {
        PathRules rules;
        std::vector<std::string> parameters;
        std::string setupFileName;
        std::string datImportPath;
        bool batchMode;
        std::string errorFilePath;
    } cases[] = {
        {P, {}, kPosixDefault, "", false, "QK750.ERR"},
        {P, {"/b", "/srv/Setups/Shop.ini"},
         "/srv/Setups/Shop.ini", "", true, "/srv/Setups/QK750.ERR"},
        {P, {"shop.ini", "/B"}, "shop.ini", "", true, "QK750.ERR"},
        {P, {"/BATCH"}, kPosixDefault, "", true, "/opt/qk750/QK750.ERR"},
        {P, {"/i=Old.dat", "file.ini"}, "file.ini", "Old.dat", false, "QK750.ERR"},
        {P, {"/I=/srv/keys.dat"}, kPosixDefault, "/srv/keys.dat", false, "/opt/qk750/QK750.ERR"},
        {P, {"/X", "/I", "/Ikeys"}, kPosixDefault, "", false, "/opt/qk750/QK750.ERR"},
        {P, {"/B", "/shop.ini"}, "/shop.ini", "", true, "/QK750.ERR"},
        {P, {"/x=a/b"}, kPosixDefault, "", false, "/opt/qk750/QK750.ERR"},
        {P, {"a.ini", "/I=a.dat", "/srv/b.INI", "/I=b.dat"},
         "/srv/b.INI", "b.dat", false, "/srv/QK750.ERR"},
        {P, {"/BI=x.dat", "/I=B"}, kPosixDefault, "B", true, "/opt/qk750/QK750.ERR"},
        {P, {"", "sub/shop.ini", ""}, "sub/shop.ini", "", false, "sub/QK750.ERR"},
        {P, {"//shop.ini"}, "//shop.ini", "", false, "/QK750.ERR"},
        {W, {"/b", "C:\\Setups\\Shop.ini"},
         "C:\\SETUPS\\SHOP.INI", "", true, "C:\\SETUPS\\QK750.ERR"},
        {W, {"/i=old.dat", "file.ini"}, "FILE.INI", "OLD.DAT", false, "QK750.ERR"},
        {W, {"/home/op/shop.ini"}, kWindowsDefault, "", false, "C:\\QK750\\QK750.ERR"},
        {W, {"c:\\shop.ini"}, "C:\\SHOP.INI", "", false, "C:\\QK750.ERR"},
        {W, {"c:shop.ini"}, "C:SHOP.INI", "", false, "C:\\QK750.ERR"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.parameters));
        ProgramState state;
        state.SetupFileName = c.rules == P ? kPosixDefault : kWindowsDefault;
        // Left-overs that the parse must reset.
        state.DatImportPath = "stale.dat";
        state.BatchMode = true;
        state.ErrorFilePath = "/stale/QK750.ERR";
        ParseCommandLine(state, c.parameters, c.rules);
        EXPECT_EQ(state.SetupFileName, c.setupFileName);
        EXPECT_EQ(state.DatImportPath, c.datImportPath);
        EXPECT_EQ(state.BatchMode, c.batchMode);
        EXPECT_EQ(state.ErrorFilePath, c.errorFilePath);
    }
}

// The program's folder when it can be written to, else the user's configuration folder,
// joined with the native separator.
const std::string kSep = kNativePathRules == PathRules::Windows ? "\\" : "/";

TEST(DefaultSetupFileName, ProgramDirectoryWhenWritable) {
    test::TempDir program, config;
    EXPECT_EQ(defaultSetupFileName(program.path(), config.path()),
              program.path() + kSep + "QK750.INI");
    EXPECT_FALSE(std::filesystem::exists(config.path("qk750setup")));
    // Each stands for a folder the program cannot write to (tests may run as root, for whom
    // a read-only mode bit does not stop a write).
    for (const std::string& programDirectory :
         {program.path("missing"), program.write("not-a-directory", "x"), std::string()}) {
        SCOPED_TRACE(programDirectory);
        EXPECT_EQ(defaultSetupFileName(programDirectory, config.path()),
                  config.path() + kSep + "qk750setup" + kSep + "QK750.INI");
        EXPECT_TRUE(std::filesystem::is_directory(config.path("qk750setup")));
    }
}

#ifdef _WIN32
TEST(UserConfigBase, IsAppData) {
    _putenv_s("APPDATA", "C:\\Users\\op\\AppData\\Roaming");
    EXPECT_EQ(userConfigBase(), "C:\\Users\\op\\AppData\\Roaming");
    _putenv_s("APPDATA", "");  // removes it
    EXPECT_EQ(userConfigBase(), "");
}
#else
TEST(UserConfigBase, FollowsXdgOnlyWhenAbsolute) {
    setenv("HOME", "/home/op", 1);
    for (const auto& [xdg, base] :
         {std::pair<const char*, const char*>{"/srv/config", "/srv/config"},
          {"relative/config", "/home/op/.config"},
          {"", "/home/op/.config"},
          {nullptr, "/home/op/.config"}}) {
        xdg ? setenv("XDG_CONFIG_HOME", xdg, 1) : unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(userConfigBase(), base);
    }
}
#endif

}  // namespace
}  // namespace qk750
