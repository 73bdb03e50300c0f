#include "app/batch.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "common/temp_dir.h"

namespace qk750 {
namespace {

// Feeds the reporter the positions a run of the given maximum acknowledges.
std::string progressOutput(int maximum, bool terminal) {
    ProgramState state;
    std::ostringstream err;
    BatchReporter reporter(state, err, terminal);
    reporter.progressStart(maximum);
    for (int address = 0; address <= maximum; address += 2) {
        reporter.progressStep(address, maximum);
    }
    reporter.progressStep(2047, maximum);
    reporter.progressHide();
    return err.str();
}

TEST(BatchReporterTest, ProgressIsOneLinePerFivePercentUnlessOnATerminal) {
    const std::string lines = progressOutput(1000, false);
    EXPECT_EQ(lines.find("0% ZQ QK750 USB\n5% ZQ QK750 USB\n"), 0u) << lines;
    EXPECT_NE(lines.find("\n95% ZQ QK750 USB\n100% ZQ QK750 USB\n"), std::string::npos);
    EXPECT_EQ(lines.find("37%"), std::string::npos);
    EXPECT_EQ(lines.find('\r'), std::string::npos);

    const std::string terminal = progressOutput(1000, true);
    EXPECT_NE(terminal.find("\r37% ZQ QK750 USB"), std::string::npos);
    EXPECT_EQ(terminal.find("\r37% ZQ QK750 USB\r37%"), std::string::npos) << "repeated";
    EXPECT_EQ(terminal.back(), '\n');
    EXPECT_EQ(terminal.find('\n'), terminal.size() - 1);
}

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
