#include "app/error_file.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace qk750 {
namespace {

// Two CR LF lines over a longer earlier content; quietly false where no file can be.
TEST(WriteErrorFile, WritesTwoCrLfLinesOrFailsQuietly) {
    test::TempDir dir;
    const std::string path =
        dir.write("QK750.ERR", "ERR_SETUP_FILE_NOT_FOUND\r\n/a/long/path.ini\r\n");
    ASSERT_TRUE(WriteErrorFile(path, "OK", "/srv/shop.ini"));
    EXPECT_EQ(test::TempDir::read(path), "OK\r\n/srv/shop.ini\r\n");
    EXPECT_FALSE(WriteErrorFile(dir.path("missing/QK750.ERR"), "OK", "x"));
    EXPECT_FALSE(std::filesystem::exists(dir.path("missing")));
    EXPECT_FALSE(WriteErrorFile(dir.path(), "OK", "x"));
}

}  // namespace
}  // namespace qk750
