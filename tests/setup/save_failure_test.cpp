#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "setup/file_io.h"
#include "setup/setup_file.h"
#include "setup/setup_record.h"
#include "temp_dir.h"

namespace qk750 {
namespace {

// Installs a fault plan for one save and always switches it off again.
class ScopedWriteFaults {
public:
    explicit ScopedWriteFaults(const WriteFaults& faults) : m_faults(faults) {
        setWriteFaultsForTesting(&m_faults);
    }
    ~ScopedWriteFaults() { setWriteFaultsForTesting(nullptr); }
    ScopedWriteFaults(const ScopedWriteFaults&) = delete;
    ScopedWriteFaults& operator=(const ScopedWriteFaults&) = delete;

private:
    WriteFaults m_faults;
};

SetupRecord setupWithText(const std::string& text) {
    SetupRecord setup;
    for (int key = 1; key <= kKeyCount; ++key) {
        setup.KeyStrings[key] = text + std::to_string(key);
    }
    setup.Func2Strings[7] = "<CtrlC>";
    setup.Mcr.PreambleString = "<Enter>";
    setup.Mcr.McrSetupMode = 3;
    setup.Mcr.McrDelay = 5;
    return setup;
}

class SaveFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = m_dir.path("shop.ini");
        m_newSetup = setupWithText("n");
        // What a successful save writes, to know every byte count there is.
        const std::string probe = m_dir.path("probe.ini");
        ASSERT_TRUE(SaveSetupIni(m_newSetup, probe).ok);
        m_newBytes = test::TempDir::read(probe);
        std::filesystem::remove(probe);
    }

    // A failed save leaves the old file whole (or none, when there was none) and nothing
    // else in the folder.
    void expectUntouched(const std::string& oldBytes, bool hadFile) {
        if (hadFile) {
            EXPECT_EQ(test::TempDir::read(m_path), oldBytes);
            EXPECT_EQ(m_dir.entries(), std::set<std::string>{"shop.ini"});
        } else {
            EXPECT_TRUE(m_dir.entries().empty());
        }
    }

    test::TempDir m_dir;
    std::string m_path;
    SetupRecord m_newSetup;
    std::string m_newBytes;
};

TEST_F(SaveFailureTest, EveryFailingWriteKeepsTheOldFile) {
    for (const bool hadFile : {true, false}) {
        SCOPED_TRACE(hadFile ? "replacing a file" : "first save");
        std::string oldBytes;
        if (hadFile) {
            ASSERT_TRUE(SaveSetupIni(setupWithText("o"), m_path).ok);
            oldBytes = test::TempDir::read(m_path);
        }
        // The old file carries the same keys, so the new one differs only in values: the
        // two are easy to tell apart whatever the byte count.
        ASSERT_NE(oldBytes, m_newBytes);
        for (std::size_t bytes = 0; bytes < m_newBytes.size(); ++bytes) {
            SCOPED_TRACE("write failing after " + std::to_string(bytes) + " bytes");
            WriteFaults faults;
            faults.failAfterBytes = bytes;
            ScopedWriteFaults scoped(faults);
            const SaveResult result = SaveSetupIni(m_newSetup, m_path);
            EXPECT_FALSE(result.ok);
            EXPECT_FALSE(result.error.empty());
            expectUntouched(oldBytes, hadFile);
            if (HasFailure()) {
                return;  // one byte count is enough to show the fault
            }
        }
        std::filesystem::remove(m_path);
    }
}

TEST_F(SaveFailureTest, FailingFlushCloseOrRenameKeepsTheOldFile) {
    struct Row {
        const char* name;
        WriteFaults faults;
    };
    const Row rows[] = {
        {"flush", WriteFaults{.failFlush = true}},
        {"close", WriteFaults{.failClose = true}},
        {"rename", WriteFaults{.failRename = true}},
    };
    ASSERT_TRUE(SaveSetupIni(setupWithText("o"), m_path).ok);
    const std::string oldBytes = test::TempDir::read(m_path);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScopedWriteFaults scoped(row.faults);
        const SaveResult result = SaveSetupIni(m_newSetup, m_path);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.error.empty());
        expectUntouched(oldBytes, true);
    }
}

TEST_F(SaveFailureTest, FaultJustPastTheEndLetsTheSaveThrough) {
    ASSERT_TRUE(SaveSetupIni(setupWithText("o"), m_path).ok);
    WriteFaults faults;
    faults.failAfterBytes = m_newBytes.size();
    ScopedWriteFaults scoped(faults);
    ASSERT_TRUE(SaveSetupIni(m_newSetup, m_path).ok);
    EXPECT_EQ(test::TempDir::read(m_path), m_newBytes);
    EXPECT_EQ(m_dir.entries(), std::set<std::string>{"shop.ini"});
    SetupRecord loaded;
    LoadSetupIni(loaded, m_path);
    EXPECT_EQ(loaded, m_newSetup);
}

}  // namespace
}  // namespace qk750
