#include <gtest/gtest.h>

#include <filesystem>

#include "common/temp_dir.h"
#include "setup/file_io.h"
#include "setup/setup_file.h"

namespace qk750 {
namespace {

SetupRecord setupWithText(const std::string& text) {
    SetupRecord setup;
    for (int key = 1; key <= kKeyCount; ++key) {
        setup.KeyStrings[key] = text + std::to_string(key);
    }
    return setup;
}

// A save that fails at any step - after any byte count, on flush, close or rename - leaves
// the old file whole (or none, when there was none) and nothing else in the folder; a
// fault just past the last byte lets the save through.
TEST(SaveFailure, EveryFailingStepKeepsTheOldFile) {
    test::TempDir dir;
    const std::string path = dir.path("shop.ini");
    ASSERT_TRUE(SaveSetupIni(setupWithText("n"), path).ok);
    const std::string newBytes = test::TempDir::read(path);
    std::vector<WriteFaults> plans{{.failFlush = true}, {.failClose = true}, {.failRename = true}};
    for (std::size_t bytes = 0; bytes <= newBytes.size(); ++bytes) {
        plans.push_back(WriteFaults{.failAfterBytes = bytes});
    }
    for (const bool hadFile : {true, false}) {
        std::filesystem::remove(path);
        // Same keys, other values: the two files differ whatever the byte count.
        ASSERT_TRUE(!hadFile || SaveSetupIni(setupWithText("o"), path).ok);
        const std::string oldBytes = test::TempDir::read(path);
        for (const WriteFaults& faults : plans) {
            SCOPED_TRACE(testing::Message()
                         << hadFile << " " << faults.failAfterBytes << " " << faults.failFlush
                         << faults.failClose << faults.failRename);
            setWriteFaultsForTesting(&faults);
            const SaveResult result = SaveSetupIni(setupWithText("n"), path);
            setWriteFaultsForTesting(nullptr);
            const bool passes = faults.failAfterBytes == newBytes.size();
            ASSERT_EQ(result.ok, passes);
            EXPECT_EQ(result.error.empty(), passes);
            EXPECT_EQ(test::TempDir::read(path), passes ? newBytes : oldBytes);
            EXPECT_EQ(dir.entries().size(), passes || hadFile ? 1u : 0u);
            if (passes) {  // the last plan: put the old state back for the next round
                std::filesystem::remove(path);
                ASSERT_TRUE(!hadFile || SaveSetupIni(setupWithText("o"), path).ok);
            }
        }
    }
}

}  // namespace
}  // namespace qk750
