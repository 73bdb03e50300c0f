#include "setup/file_names.h"

#include <gtest/gtest.h>

namespace qk750 {
namespace {

struct NameCase {
    const char* path;
    const char* extension;
    const char* withIni;
    const char* directory;
};

class FileNamesTest : public testing::TestWithParam<NameCase> {};

TEST_P(FileNamesTest, SplitsPathAndExtension) {
    const NameCase& c = GetParam();
    EXPECT_EQ(FileExtension(c.path), c.extension);
    EXPECT_EQ(WithIniExtension(c.path), c.withIni);
    EXPECT_EQ(DirectoryOf(c.path), c.directory);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FileNamesTest,
    testing::Values(NameCase{"shop.kbd", ".kbd", "shop.INI", ""},
                    NameCase{"/srv/pos/SHOP.DAT", ".DAT", "/srv/pos/SHOP.INI", "/srv/pos"},
                    // An ".ini" in any case is kept; every other extension becomes ".INI".
                    NameCase{"/srv/pos/shop.ini", ".ini", "/srv/pos/shop.ini", "/srv/pos"},
                    NameCase{"shop.Ini", ".Ini", "shop.Ini", ""},
                    NameCase{"shop.ini.bak", ".bak", "shop.ini.INI", ""},
                    NameCase{"shop.inix", ".inix", "shop.INI", ""},
                    // A dot in a folder name is not an extension.
                    NameCase{"/home/op.d/shop", "", "/home/op.d/shop.INI", "/home/op.d"},
                    NameCase{"shop.", ".", "shop.INI", ""},
                    // The unnamed setup.
                    NameCase{".INI", ".INI", ".INI", ""}, NameCase{"", "", ".INI", ""},
                    NameCase{"/shop.ini", ".ini", "/shop.ini", "/"},
                    NameCase{"a//b.dat", ".dat", "a//b.INI", "a"}));

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(
    WindowsPaths, FileNamesTest,
    testing::Values(NameCase{"C:\\OLD\\SHOP.KBD", ".KBD", "C:\\OLD\\SHOP.INI", "C:\\OLD"},
                    NameCase{"C:\\SHOP.KBD", ".KBD", "C:\\SHOP.INI", "C:\\"},
                    NameCase{"C:shop", "", "C:shop.INI", "C:"},
                    NameCase{"C:\\op.d\\shop", "", "C:\\op.d\\shop.INI", "C:\\op.d"}));
#else
INSTANTIATE_TEST_SUITE_P(PosixPaths, FileNamesTest,
                         // A backslash is part of a name here, not a separator.
                         testing::Values(NameCase{"C:\\OLD\\SHOP.KBD", ".KBD", "C:\\OLD\\SHOP.INI",
                                                  ""},
                                         NameCase{"dir/a.b\\c", ".b\\c", "dir/a.INI", "dir"}));
#endif

TEST(HasExtensionTest, IgnoresLetterCaseOnly) {
    EXPECT_TRUE(HasExtension("shop.kbd", ".KBD"));
    EXPECT_TRUE(HasExtension("SHOP.KbD", ".kbd"));
    EXPECT_FALSE(HasExtension("shop.kbd.ini", ".KBD"));
    EXPECT_FALSE(HasExtension("shop.kbdx", ".KBD"));
    EXPECT_FALSE(HasExtension("kbd", ".KBD"));
    EXPECT_FALSE(HasExtension("x.kbd/shop", ".KBD"));
}

}  // namespace
}  // namespace qk750
