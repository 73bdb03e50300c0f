#include "app/error_file.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace qk750 {
namespace {

TEST(WriteErrorFile, WritesTwoCrLfLines) {
    test::TempDir dir;
    const std::string path = dir.file("QK750.ERR");
    ASSERT_TRUE(WriteErrorFile(path, "OK", "/srv/setups/shop.ini"));
    EXPECT_EQ(test::readFile(path), "OK\r\n/srv/setups/shop.ini\r\n");
}

TEST(WriteErrorFile, ReplacesEarlierContent) {
    test::TempDir dir;
    const std::string path = dir.file("QK750.ERR");
    test::writeFile(path,
                    "ERR_SETUP_FILE_NOT_FOUND\r\n/a/very/long/path/of/an/earlier/run.ini\r\n");
    ASSERT_TRUE(WriteErrorFile(path, "ERR_KEY_LEN", "Key 7"));
    ASSERT_TRUE(WriteErrorFile(path, "OK", ""));
    EXPECT_EQ(test::readFile(path), "OK\r\n\r\n");
}

TEST(WriteErrorFile, FailsQuietlyWhenItCannotBeWritten) {
    test::TempDir dir;
    EXPECT_FALSE(WriteErrorFile(dir.file("missing/QK750.ERR"), "OK", "x"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
    // A directory standing where the file should be.
    EXPECT_FALSE(WriteErrorFile(dir.path(), "OK", "x"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path()));
}

}  // namespace
}  // namespace qk750
