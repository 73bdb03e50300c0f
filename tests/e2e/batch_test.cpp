// Batch mode end to end: the real executable programs the simulated keyboard and leaves
// the outcome file, the exit code and the keyboard's memory.

#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

using namespace qk750::e2e;

constexpr const char* kShop =
    "[Version]\r\nFileVer=1.00\r\n[Till]\r\nLane=4\r\n[Keys]\r\nKey1=Coffee<Enter>\r\n"
    "Key2=<F1>\r\nKey3=<CtrlP>\r\nKey13=<FUNC2_TOGGLE>\r\nKey14_2=Tea<Enter>\r\n"
    "[Mcr]\r\nMcrSetupMode=0\r\nPreambleString=<F8>\r\nPostambleString=<Enter>\r\n";

const std::string kErased(2048, '\xFF');

class BatchTest : public ProgramTest {
protected:
    RunResult batch(const std::string& setup, const std::vector<std::string>& environment = {}) {
        return run({"--simulate=" + file("memory.bin"), "/B", setup}, environment);
    }
    std::string outcome() const { return read("QK750.ERR"); }
};

TEST_F(BatchTest, ProgramsTheKeyboardAndSavesTheSetupQuietly) {
    write("shop.ini", kShop);
    ASSERT_EQ(run({"--image=" + file("image.bin"), file("shop.ini")}).exitCode, 0);
    const RunResult r = batch(file("shop.ini"));

    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(outcome(), "OK\r\n" + file("shop.ini") + "\r\n");
    EXPECT_EQ(read("memory.bin"), read("image.bin"));
    EXPECT_NE(r.err.find("100% ZQ QK750 USB"), std::string::npos) << r.err;
    // The close-time save keeps what the program does not know and writes every key.
    const std::string saved = read("shop.ini");
    EXPECT_NE(saved.find("[Till]\r\nLane=4\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Key84_2=\r\n"), std::string::npos);
}

TEST_F(BatchTest, RelativeSetupNameKeepsTheOutcomeFileInTheCurrentFolder) {
    write("shop.ini", kShop);
    const RunResult r = run({"--simulate", "/b", "shop.ini"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(outcome(), "OK\r\nshop.ini\r\n");
}

TEST_F(BatchTest, FaultPlansGiveTheirOutcomeCodeAndExitCode) {
    const struct {
        const char* plan;
        const char* code;
        const char* detail;  // null: the setup file's path
    } cases[] = {
        {"crc@0x20", "ERR_USB_CRC", nullptr},
        // Key 1's entry 0x11 0x60 lies at 0x008.
        {"verify@8", "ERR_WRITE_VERIFY", "Memory 0008 Written11 Read=EE"},
        {"noreply@100", "ERR_USB_RECEIVE", nullptr},
        {"stale=15", "ERR_USB_RECEIVE", nullptr},
        {"sendfail@0", "ERR_USB_SEND", nullptr},
        {"unplug@0x30", "ERR_USB_RECEIVE", nullptr},
        {"stale=3,latency=10,crc@2047", "ERR_USB_CRC", nullptr},
        {"stale=2,latency=3", "OK", nullptr},  // slow but answering
    };
    write("shop.ini", kShop);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plan);
        fs::remove(file("QK750.ERR"));
        const RunResult r = batch(file("shop.ini"), {std::string("QK750_SIM_FAULTS=") + c.plan});
        EXPECT_EQ(r.exitCode, c.code == std::string("OK") ? 0 : 1) << r.err;
        const std::string detail = c.detail != nullptr ? c.detail : file("shop.ini");
        EXPECT_EQ(outcome(), std::string(c.code) + "\r\n" + detail + "\r\n");
    }
}

TEST_F(BatchTest, MissingSetupFileCreatesNothing) {
    write("QK750.ERR", "OK\r\nstale\r\n");
    const RunResult r = batch(file("nothere.ini"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(outcome(), "ERR_SETUP_FILE_NOT_FOUND\r\n" + file("nothere.ini") + "\r\n");
    EXPECT_EQ(filesInWork(), (std::set<std::string>{"QK750.ERR", "memory.bin"}));
    EXPECT_EQ(read("memory.bin"), kErased);  // nothing was sent
}

// A setup that could not be read in full is neither programmed nor saved over its file.
TEST_F(BatchTest, UnreadableSetupProgramsNothingAndKeepsItsFiles) {
    const std::string kept = "[Keys]\r\nKey1=keep me\r\n";
    const struct {
        std::vector<std::string> args;
        const char* code;
        const char* detail;
        const char* message;
    } cases[] = {
        {{"old.KBD"}, "ERR_SETUP_FILE_INVALID", "old.KBD", "Invalid KBD File size"},
        {{"dir.KBD"}, "ERR_SETUP_FILE_INVALID", "dir.KBD", "Is a directory"},
        {{"old.INI", "/I=typo.dat"}, "ERR_SETUP_FILE_NOT_FOUND", "typo.dat", "No such file"},
        {{"old.DAT"}, "ERR_SETUP_FILE_NOT_FOUND", "old.DAT", "No such file"},
    };
    write("old.KBD", kbdBytes("\xF9x", 21299));
    write("dir.INI", kept);
    fs::create_directory(file("dir.KBD"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.detail);
        write("old.INI", kept);
        std::vector<std::string> args{"--simulate=" + file("memory.bin"), "/B"};
        for (const std::string& a : c.args) {
            args.push_back(a.starts_with("/I=") ? "/I=" + file(a.substr(3)) : file(a));
        }
        const RunResult r = run(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(outcome(), std::string(c.code) + "\r\n" + file(c.detail) + "\r\n");
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(read("old.INI"), kept);
        EXPECT_EQ(read("dir.INI"), kept);
        EXPECT_EQ(read("memory.bin"), kErased);
    }
}

TEST_F(BatchTest, LowerCaseLegacyNameIsImportedAndProgrammed) {
    write("shop.kbd", kbdBytes("\xF9q\xF9r"));
    const RunResult r = batch(file("shop.kbd"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(outcome(), "OK\r\n" + file("shop.INI") + "\r\n");
    EXPECT_NE(read("shop.INI").find("Key1=qr\r\n"), std::string::npos);
    // Key 1 "qr" compiles to 14 15 FF at the start of the string area.
    const std::string memory = read("memory.bin");
    ASSERT_EQ(memory.size(), 2048u);
    EXPECT_EQ(memory.substr(0x160, 4), "\x14\x15\xFF\xFF");
}

TEST_F(BatchTest, NoKeyboardAtAll) {
    // Runs against this machine's own HID devices: a QK750 among them would be reprogrammed.
    if (std::getenv("QK750_TEST_REAL_DEVICES") == nullptr ||
        std::string(std::getenv("QK750_TEST_REAL_DEVICES")) != "1") {
        GTEST_SKIP() << "set QK750_TEST_REAL_DEVICES=1 to run against the real HID devices";
    }
    write("shop.ini", kShop);
    const RunResult r = run({"/B", file("shop.ini")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(outcome(), "ERR_USB_KBD_NOT_CONNECTED\r\n" + file("shop.ini") + "\r\n");
}

TEST_F(BatchTest, MalformedFaultPlanIsRefused) {
    write("shop.ini", kShop);
    const RunResult r = batch(file("shop.ini"), {"QK750_SIM_FAULTS=crc@"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("QK750_SIM_FAULTS"), std::string::npos) << r.err;
}

}  // namespace
