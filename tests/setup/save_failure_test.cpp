#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "setup/file_io.h"
#include "setup/setup_file.h"
#include "setup/setup_record.h"

namespace qk750 {
namespace {

SetupRecord setupWithText(const std::string& text) {
    SetupRecord setup;
    for (int key = 1; key <= kKeyCount; ++key) {
        setup.KeyStrings[key] = text + std::to_string(key);
    }
    setup.Func2Strings[7] = "<CtrlC>";
    setup.Mcr.PreambleString = "<Enter>";
    setup.Mcr.McrDelay = 5;
    return setup;
}

// A save that fails at any step - after any byte count, on flush, close or rename - leaves
// the old file whole (or none, when there was none) and nothing else in the folder; a
// fault just past the last byte lets the save through.
TEST(SaveFailure, EveryFailingStepKeepsTheOldFile) {
    test::TempDir dir;
    const std::string path = dir.path("shop.ini");
    const SetupRecord newSetup = setupWithText("n");
    ASSERT_TRUE(SaveSetupIni(newSetup, dir.path("probe.ini")).ok);
    const std::string newBytes = test::TempDir::read(dir.path("probe.ini"));
    std::filesystem::remove(dir.path("probe.ini"));

    std::vector<WriteFaults> plans;
    for (std::size_t bytes = 0; bytes <= newBytes.size(); ++bytes) {
        plans.push_back(WriteFaults{.failAfterBytes = bytes});
    }
    plans.push_back(WriteFaults{.failFlush = true});
    plans.push_back(WriteFaults{.failClose = true});
    plans.push_back(WriteFaults{.failRename = true});

    for (const bool hadFile : {true, false}) {
        std::string oldBytes;
        if (hadFile) {
            // Same keys, other values: the two files are told apart whatever the byte count.
            ASSERT_TRUE(SaveSetupIni(setupWithText("o"), path).ok);
            oldBytes = test::TempDir::read(path);
        }
        for (const WriteFaults& faults : plans) {
            SCOPED_TRACE(testing::Message()
                         << (hadFile ? "replacing, " : "first save, ") << faults.failAfterBytes
                         << " bytes " << faults.failFlush << faults.failClose << faults.failRename);
            setWriteFaultsForTesting(&faults);
            const SaveResult result = SaveSetupIni(newSetup, path);
            setWriteFaultsForTesting(nullptr);
            if (faults.failAfterBytes == newBytes.size()) {
                ASSERT_TRUE(result.ok);
                EXPECT_EQ(test::TempDir::read(path), newBytes);
                EXPECT_EQ(dir.entries(), std::set<std::string>{"shop.ini"});
                std::filesystem::remove(path);
                if (hadFile) {
                    ASSERT_TRUE(SaveSetupIni(setupWithText("o"), path).ok);
                }
                continue;
            }
            EXPECT_FALSE(result.ok);
            EXPECT_FALSE(result.error.empty());
            if (hadFile) {
                EXPECT_EQ(test::TempDir::read(path), oldBytes);
                EXPECT_EQ(dir.entries(), std::set<std::string>{"shop.ini"});
            } else {
                EXPECT_TRUE(dir.entries().empty());
            }
            if (HasFailure()) {
                return;  // one failing step is enough to show the fault
            }
        }
        std::filesystem::remove(path);
    }
}

}  // namespace
}  // namespace qk750
