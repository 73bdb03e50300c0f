#include "app/error_file.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace qk750 {
namespace {

TEST(WriteErrorFile, WritesTwoCrLfLinesOverEarlierContent) {
    test::TempDir dir;
    const std::string path = dir.write(
        "QK750.ERR", "ERR_SETUP_FILE_NOT_FOUND\r\n/a/very/long/path/of/an/earlier/run.ini\r\n");
    ASSERT_TRUE(WriteErrorFile(path, "OK", "/srv/setups/shop.ini"));
    EXPECT_EQ(test::TempDir::read(path), "OK\r\n/srv/setups/shop.ini\r\n");
}

TEST(WriteErrorFile, FailsQuietlyWhenItCannotBeWritten) {
    test::TempDir dir;
    EXPECT_FALSE(WriteErrorFile(dir.path("missing/QK750.ERR"), "OK", "x"));
    EXPECT_FALSE(std::filesystem::exists(dir.path("missing")));
    // A directory standing where the file should be.
    EXPECT_FALSE(WriteErrorFile(dir.path(), "OK", "x"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path()));
}

}  // namespace
}  // namespace qk750
