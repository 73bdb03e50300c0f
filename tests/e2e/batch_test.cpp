// Batch mode end to end: the real executable programs the simulated keyboard and leaves
// the outcome file, the exit code and the keyboard's memory.

#include <cctype>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

using namespace qk750::e2e;

constexpr const char* kShop =
    "[Version]\r\nFileVer=1.00\r\n[Till]\r\nLane=4\r\n[Keys]\r\nKey1=Coffee<Enter>\r\n"
    "Key2=<F1>\r\nKey3=<CtrlP>\r\nKey13=<FUNC2_TOGGLE>\r\nKey14_2=Tea<Enter>\r\n"
    "[Mcr]\r\nMcrSetupMode=0\r\nPreambleString=<F8>\r\nPostambleString=<Enter>\r\n";

class BatchTest : public ProgramTest {
protected:
    RunResult batch(const std::string& setup, const std::vector<std::string>& environment = {}) {
        return run({"--simulate=" + file("memory.bin"), "/B", setup}, environment);
    }
    std::string outcome() const { return readFile(file("QK750.ERR")); }
    std::string expectedImage(const std::string& setup) {
        const RunResult r = run({"--image=" + file("image.bin"), setup});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return readFile(file("image.bin"));
    }
};

TEST_F(BatchTest, ProgramsTheKeyboardAndSavesTheSetupQuietly) {
    writeFile(file("shop.ini"), kShop);
    const std::string image = expectedImage(file("shop.ini"));
    const RunResult r = batch(file("shop.ini"));

    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(outcome(), "OK\r\n" + file("shop.ini") + "\r\n");
    EXPECT_EQ(readFile(file("memory.bin")), image);
    EXPECT_NE(r.err.find("100% ZQ QK750 USB"), std::string::npos) << r.err;
    // The close-time save keeps what the program does not know and writes every key.
    const std::string saved = readFile(file("shop.ini"));
    EXPECT_NE(saved.find("[Till]\r\nLane=4\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Key84_2=\r\n"), std::string::npos);
}

TEST_F(BatchTest, RelativeSetupNameKeepsTheOutcomeFileInTheCurrentFolder) {
    writeFile(file("shop.ini"), kShop);
    const RunResult r = run({"--simulate", "/b", "shop.ini"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(outcome(), "OK\r\nshop.ini\r\n");
}

struct FaultCase {
    const char* plan;
    const char* code;
    const char* detail;  // null: the setup file's path
};

class BatchFaultTest : public BatchTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(BatchFaultTest, OutcomeCodeAndExitCode) {
    const FaultCase& c = GetParam();
    writeFile(file("shop.ini"), kShop);
    const RunResult r = batch(file("shop.ini"), {std::string("QK750_SIM_FAULTS=") + c.plan});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const std::string detail = c.detail != nullptr ? c.detail : file("shop.ini");
    EXPECT_EQ(outcome(), std::string(c.code) + "\r\n" + detail + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BatchFaultTest,
    testing::Values(FaultCase{"crc@0x20", "ERR_USB_CRC", nullptr},
                    // Key 1's entry 0x11 0x60 lies at 0x008.
                    FaultCase{"verify@8", "ERR_WRITE_VERIFY", "Memory 0008 Written11 Read=EE"},
                    FaultCase{"noreply@100", "ERR_USB_RECEIVE", nullptr},
                    FaultCase{"stale=15", "ERR_USB_RECEIVE", nullptr},
                    FaultCase{"sendfail@0", "ERR_USB_SEND", nullptr},
                    FaultCase{"unplug@0x30", "ERR_USB_RECEIVE", nullptr},
                    FaultCase{"stale=3,latency=10,crc@2047", "ERR_USB_CRC", nullptr}),
    [](const testing::TestParamInfo<FaultCase>& info) {
        std::string name;
        for (const char* c = info.param.plan; *c != '\0'; ++c) {
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        }
        return name;
    });

TEST_F(BatchTest, SlowButAnsweringKeyboardIsProgrammed) {
    writeFile(file("shop.ini"), kShop);
    const RunResult r = batch(file("shop.ini"), {"QK750_SIM_FAULTS=stale=2,latency=3"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(outcome(), "OK\r\n" + file("shop.ini") + "\r\n");
}

TEST_F(BatchTest, MissingSetupFileCreatesNothing) {
    writeFile(file("QK750.ERR"), "OK\r\nstale\r\n");
    const RunResult r = batch(file("nothere.ini"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(outcome(), "ERR_SETUP_FILE_NOT_FOUND\r\n" + file("nothere.ini") + "\r\n");
    EXPECT_EQ(filesInWork(), (std::set<std::string>{"QK750.ERR", "memory.bin"}));
    // Nothing was sent: the memory is still erased.
    EXPECT_EQ(readFile(file("memory.bin")), std::string(2048, '\xFF'));
}

TEST_F(BatchTest, InvalidKbdFileProgramsNothingAndKeepsItsTwin) {
    writeFile(file("old.KBD"), kbdBytes("\xF9x", 21299));
    writeFile(file("old.INI"), "[Keys]\r\nKey1=keep me\r\n");
    const RunResult r = batch(file("old.KBD"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(outcome(), "ERR_SETUP_FILE_INVALID\r\n" + file("old.KBD") + "\r\n");
    EXPECT_NE(r.err.find("Invalid KBD File size"), std::string::npos);
    EXPECT_EQ(readFile(file("old.INI")), "[Keys]\r\nKey1=keep me\r\n");
    EXPECT_EQ(readFile(file("memory.bin")), std::string(2048, '\xFF'));
}

TEST_F(BatchTest, LowerCaseLegacyNameIsImportedAndProgrammed) {
    writeFile(file("shop.kbd"), kbdBytes("\xF9q\xF9r"));
    const RunResult r = batch(file("shop.kbd"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(outcome(), "OK\r\n" + file("shop.INI") + "\r\n");
    EXPECT_NE(readFile(file("shop.INI")).find("Key1=qr\r\n"), std::string::npos);
    // Key 1 "qr" compiles to 14 15 FF at the start of the string area.
    const std::string memory = readFile(file("memory.bin"));
    ASSERT_EQ(memory.size(), 2048u);
    EXPECT_EQ(memory.substr(0x160, 4), std::string("\x14\x15\xFF\xFF", 4));
}

TEST_F(BatchTest, NoKeyboardAtAll) {
    writeFile(file("shop.ini"), kShop);
    // This machine's own HID devices: none of them is a QK750.
    const RunResult r = run({"/B", file("shop.ini")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(outcome(), "ERR_USB_KBD_NOT_CONNECTED\r\n" + file("shop.ini") + "\r\n");
}

TEST_F(BatchTest, MalformedFaultPlanIsRefused) {
    writeFile(file("shop.ini"), kShop);
    const RunResult r = batch(file("shop.ini"), {"QK750_SIM_FAULTS=crc@"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("QK750_SIM_FAULTS"), std::string::npos) << r.err;
}

}  // namespace
