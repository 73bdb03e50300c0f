#include "app/command_line.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace qk750 {
namespace {

struct CommandLineCase {
    const char* name;
    PathRules rules;
    std::vector<std::string> parameters;
    std::string setupFileName;
    std::string datImportPath;
    bool batchMode;
    std::string errorFilePath;
};

const std::string kPosixDefault = "/opt/qk750/QK750.INI";
const std::string kWindowsDefault = "C:\\QK750\\QK750.INI";

class ParseCommandLineTest : public testing::TestWithParam<CommandLineCase> {};

TEST_P(ParseCommandLineTest, SetsFileNamesAndMode) {
    const CommandLineCase& c = GetParam();
    ProgramState state;
    state.SetupFileName = c.rules == PathRules::Posix ? kPosixDefault : kWindowsDefault;
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

INSTANTIATE_TEST_SUITE_P(
    Posix, ParseCommandLineTest,
    testing::Values(
        CommandLineCase{
            "NoParameters", PathRules::Posix, {}, kPosixDefault, "", false, "QK750.ERR"},
        CommandLineCase{"LowerCaseBatchAndAbsoluteFile",
                        PathRules::Posix,
                        {"/b", "/srv/Setups/Shop.ini"},
                        "/srv/Setups/Shop.ini",
                        "",
                        true,
                        "/srv/Setups/QK750.ERR"},
        CommandLineCase{"BareFileStaysRelative",
                        PathRules::Posix,
                        {"shop.ini", "/B"},
                        "shop.ini",
                        "",
                        true,
                        "QK750.ERR"},
        CommandLineCase{"BatchIsAPrefixTest",
                        PathRules::Posix,
                        {"/BATCH"},
                        kPosixDefault,
                        "",
                        true,
                        "/opt/qk750/QK750.ERR"},
        CommandLineCase{"DatPathKeepsCase",
                        PathRules::Posix,
                        {"/i=Old.dat", "file.ini"},
                        "file.ini",
                        "Old.dat",
                        false,
                        "QK750.ERR"},
        CommandLineCase{"AbsoluteDatPathIsASwitch",
                        PathRules::Posix,
                        {"/I=/srv/keys.dat"},
                        kPosixDefault,
                        "/srv/keys.dat",
                        false,
                        "/opt/qk750/QK750.ERR"},
        CommandLineCase{"UnknownSwitchesIgnored",
                        PathRules::Posix,
                        {"/X", "/I", "/Ikeys.dat"},
                        kPosixDefault,
                        "",
                        false,
                        "/opt/qk750/QK750.ERR"},
        CommandLineCase{"AbsolutePathIsAFile",
                        PathRules::Posix,
                        {"/home/op/shop.ini"},
                        "/home/op/shop.ini",
                        "",
                        false,
                        "/home/op/QK750.ERR"},
        CommandLineCase{"SlashOnlyInValueIsASwitch",
                        PathRules::Posix,
                        {"/x=a/b"},
                        kPosixDefault,
                        "",
                        false,
                        "/opt/qk750/QK750.ERR"},
        CommandLineCase{"LastFileAndLastDatWin",
                        PathRules::Posix,
                        {"a.ini", "/I=a.dat", "/srv/b.INI", "/I=b.dat"},
                        "/srv/b.INI",
                        "b.dat",
                        false,
                        "/srv/QK750.ERR"},
        CommandLineCase{"BatchAndDatTestedIndependently",
                        PathRules::Posix,
                        {"/BI=x.dat", "/I=B"},
                        kPosixDefault,
                        "B",
                        true,
                        "/opt/qk750/QK750.ERR"},
        CommandLineCase{"EmptyParameterSkipped",
                        PathRules::Posix,
                        {"", "sub/shop.ini", ""},
                        "sub/shop.ini",
                        "",
                        false,
                        "sub/QK750.ERR"},
        CommandLineCase{"ParentDirectoryPathIsAFile",
                        PathRules::Posix,
                        {"/srv/../shop.ini", "/B"},
                        "/srv/../shop.ini",
                        "",
                        true,
                        "/srv/../QK750.ERR"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Windows, ParseCommandLineTest,
    testing::Values(
        CommandLineCase{
            "NoParameters", PathRules::Windows, {}, kWindowsDefault, "", false, "QK750.ERR"},
        CommandLineCase{"BatchWithFullPath",
                        PathRules::Windows,
                        {"/b", "C:\\Setups\\Shop.ini"},
                        "C:\\SETUPS\\SHOP.INI",
                        "",
                        true,
                        "C:\\SETUPS\\QK750.ERR"},
        CommandLineCase{"BareFileUpperCased",
                        PathRules::Windows,
                        {"shop.ini", "/B"},
                        "SHOP.INI",
                        "",
                        true,
                        "QK750.ERR"},
        CommandLineCase{"DatPathUpperCased",
                        PathRules::Windows,
                        {"/i=old.dat", "file.ini"},
                        "FILE.INI",
                        "OLD.DAT",
                        false,
                        "QK750.ERR"},
        CommandLineCase{"EverySlashParameterIsASwitch",
                        PathRules::Windows,
                        {"/home/op/shop.ini"},
                        kWindowsDefault,
                        "",
                        false,
                        "C:\\QK750\\QK750.ERR"},
        CommandLineCase{"FileInDriveRoot",
                        PathRules::Windows,
                        {"c:\\shop.ini"},
                        "C:\\SHOP.INI",
                        "",
                        false,
                        "C:\\QK750.ERR"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DefaultSetupFileName, ProgramDirectoryWhenWritable) {
    test::TempDir program;
    test::TempDir config;
    EXPECT_EQ(defaultSetupFileName(program.path(), config.path()), program.path() + "/QK750.INI");
    EXPECT_FALSE(std::filesystem::exists(config.file("qk750setup")));
}

TEST(DefaultSetupFileName, UserConfigDirectoryOtherwise) {
    test::TempDir config;
    test::TempDir scratch;
    const std::string plainFile = scratch.file("not-a-directory");
    test::writeFile(plainFile, "x");
    // Each stands for a program directory the program cannot write to. (Tests may run as
    // root, for whom a read-only mode bit does not stop a write.)
    for (const std::string& programDirectory :
         {scratch.file("missing"), plainFile, std::string()}) {
        SCOPED_TRACE(programDirectory);
        EXPECT_EQ(defaultSetupFileName(programDirectory, config.path()),
                  config.path() + "/qk750setup/QK750.INI");
        EXPECT_TRUE(std::filesystem::is_directory(config.file("qk750setup")));
    }
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (m_old) {
            setenv(m_name, m_old->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(UserConfigBase, FollowsXdgOnlyWhenAbsolute) {
    ScopedEnv home("HOME", "/home/op");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/srv/config");
        EXPECT_EQ(userConfigBase(), "/srv/config");
    }
    for (const char* ignored : {"relative/config", "", static_cast<const char*>(nullptr)}) {
        ScopedEnv xdg("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(userConfigBase(), "/home/op/.config");
    }
}

}  // namespace
}  // namespace qk750
