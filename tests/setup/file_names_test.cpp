#include "setup/file_names.h"

#include <gtest/gtest.h>

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
        EXPECT_EQ(FileExtension(c.path), c.extension);
        EXPECT_EQ(WithIniExtension(c.path), c.withIni);
        EXPECT_EQ(DirectoryOf(c.path), c.directory);
    }
}

TEST(FileNames, HasExtensionIgnoresLetterCaseOnly) {
    EXPECT_TRUE(HasExtension("SHOP.KbD", ".kbd"));
    for (const char* other : {"shop.kbd.ini", "shop.kbdx", "kbd", "x.kbd/shop"}) {
        EXPECT_FALSE(HasExtension(other, ".KBD")) << other;
    }
}

}  // namespace
}  // namespace qk750
