#include "app/batch.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "common/temp_dir.h"

namespace qk750 {
namespace {

TEST(BatchReporterTest, FailureGoesToTheOutcomeFileAndStandardError) {
    test::TempDir dir;
    ProgramState state;
    state.ErrorFilePath = dir.path("QK750.ERR");
    std::ostringstream err;
    BatchReporter reporter(state, err, true);
    reporter.progressStep(370, 1000);
    reporter.failure("ERR_WRITE_VERIFY", "Memory 0010 Written41 Read=FF",
                     "Verify error in data write to USB QK750\r\rMemory 0010 Written41 Read=FF");
    EXPECT_EQ(test::TempDir::read(dir.path("QK750.ERR")),
              "ERR_WRITE_VERIFY\r\nMemory 0010 Written41 Read=FF\r\n");
    // The progress line is ended first, and the message's carriage returns become line ends.
    EXPECT_EQ(err.str(),
              "\r37% ZQ QK750 USB\nERR_WRITE_VERIFY: Verify error in data write to USB "
              "QK750\n\nMemory 0010 Written41 Read=FF\n");
    EXPECT_FALSE(reporter.askToConnect("Make sure USB QK750 is connected"));
}

}  // namespace
}  // namespace qk750
