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
    RunResult batch(const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment = {}) {
        std::vector<std::string> all{"--simulate=" + file("memory.bin"), "/B"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return run(all, environment);
    }
    std::string outcome() const { return read("QK750.ERR"); }
};

TEST_F(BatchTest, ProgramsTheKeyboardAndSavesTheSetupQuietly) {
    write("shop.ini", kShop);
    ASSERT_EQ(run({"--image=" + file("image.bin"), file("shop.ini")}).exitCode, 0);
    const RunResult r = batch({file("shop.ini")});

    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(outcome(), "OK\r\n" + file("shop.ini") + "\r\n");
    EXPECT_EQ(read("memory.bin"), read("image.bin"));
    EXPECT_NE(r.err.find("100% ZQ QK750 USB"), std::string::npos) << r.err;
    // The close-time save keeps what the program does not know and writes every key.
    const std::string saved = read("shop.ini");
    EXPECT_NE(saved.find("[Till]\r\nLane=4\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Key84_2=\r\n"), std::string::npos);
}

// Each run starts with a stale outcome file (a link, so that writing through it would
// show): it is removed before the run, never rewritten.
TEST_F(BatchTest, SetupArgumentsGiveTheirOutcome) {
    const std::string kbd = kbdBytes("\xF9q\xF9r");
    const struct {
        std::vector<std::pair<std::string, std::string>> files;
        std::vector<std::string> arguments;  // file names in the work folder
        const char* code;
        const char* detail;   // names a file in the work folder
        const char* created;  // a new file there afterwards, or nullptr
        const char* kept;     // a file that must keep its bytes, or nullptr
        std::string key1;     // the string area's first bytes afterwards
    } cases[] = {
        // clang-format off
        {{}, {"nothere.ini"}, "ERR_SETUP_FILE_NOT_FOUND", "nothere.ini", nullptr, nullptr, ""},
        {{}, {"gone.KBD"}, "ERR_SETUP_FILE_NOT_FOUND", "gone.KBD", nullptr, nullptr, ""},
        {{}, {"gone.DAT"}, "ERR_SETUP_FILE_NOT_FOUND", "gone.DAT", nullptr, nullptr, ""},
        {{{"old.KBD", kbdBytes("\xF9x", 21299)}, {"old.INI", "[Keys]\r\nKey1=keep me\r\n"}},
         {"old.KBD"}, "ERR_SETUP_FILE_INVALID", "old.KBD", nullptr, "old.INI", ""},
        {{{"shop.kbd", kbd}}, {"shop.kbd"}, "OK", "shop.INI", "shop.INI", nullptr, "\x14\x15\xFF\xFF"},
        // A DAT file names an INI twin that is not there; the close-time save makes it.
        {{{"keys.DAT", "1,1,1,qr\r\n"}}, {"keys.DAT"}, "ERR_SETUP_FILE_NOT_FOUND", "keys.INI",
         "keys.INI", "keys.DAT", ""},
        // Files that cannot be read: nothing programmed, nothing saved over what is there.
        {{{"dir.KBD/", ""}, {"dir.INI", "[Keys]\r\nKey1=keep me\r\n"}}, {"dir.KBD"},
         "ERR_SETUP_FILE_INVALID", "dir.KBD", nullptr, "dir.INI", ""},
        {{{"shop.ini", "[Keys]\r\nKey1=abc\r\n"}}, {"shop.ini", "/I=typo.dat"},
         "ERR_SETUP_FILE_NOT_FOUND", "typo.dat", nullptr, "shop.ini", ""},
        {{{"shop.ini", "[Keys]\r\nKey1=abc\r\n"}, {"keys.dat", "1,1,1,qr\r\n"}},
         {"shop.ini", "/I=keys.dat"}, "OK", "shop.ini", nullptr, "keys.dat", "\x14\x15\xFF\xFF"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[0]);
        fs::remove_all(file(""));
        fs::create_directory(file(""));
        for (const auto& [name, bytes] : c.files) {
            name.ends_with('/') ? void(fs::create_directory(file(name))) : write(name, bytes);
        }
        write("stale.txt", "OK\r\nstale\r\n");
        fs::create_symlink("stale.txt", file("QK750.ERR"));
        std::vector<std::string> arguments;
        for (const std::string& a : c.arguments) {
            arguments.push_back(a.starts_with("/I=") ? "/I=" + file(a.substr(3)) : file(a));
        }
        const RunResult r = batch(arguments);
        const bool ok = c.code == std::string("OK");
        EXPECT_EQ(r.exitCode, ok ? 0 : 1) << r.err;
        EXPECT_FALSE(fs::is_symlink(file("QK750.ERR")));
        EXPECT_EQ(read("stale.txt"), "OK\r\nstale\r\n");
        EXPECT_EQ(outcome(), std::string(c.code) + "\r\n" + file(c.detail) + "\r\n");
        EXPECT_EQ(ok ? read("memory.bin").substr(0x160, 4) : read("memory.bin"),
                  ok ? c.key1 : kErased);
        if (c.created != nullptr) {
            EXPECT_NE(read(c.created).find("Key1=qr\r\n"), std::string::npos);
        }
        for (const auto& [name, bytes] : c.files) {
            EXPECT_TRUE(!c.kept || name != c.kept || read(name) == bytes) << name;
        }
        // Nothing else: the program's output, the memory file and what was there.
        EXPECT_EQ(filesInWork().size(), c.files.size() + 3 + (c.created ? 1 : 0));
    }
}

TEST_F(BatchTest, RelativeSetupNameAndFaults) {
    write("shop.ini", kShop);
    const RunResult relative = run({"--simulate", "/b", "shop.ini"});
    EXPECT_EQ(relative.exitCode, 0) << relative.err;
    EXPECT_EQ(outcome(), "OK\r\nshop.ini\r\n");

    // Key 1's entry 0x11 0x60 lies at 0x008.
    const RunResult verify = batch({file("shop.ini")}, {"QK750_SIM_FAULTS=verify@8"});
    EXPECT_EQ(verify.exitCode, 1);
    EXPECT_EQ(outcome(), "ERR_WRITE_VERIFY\r\nMemory 0008 Written11 Read=EE\r\n");
    const RunResult unplug = batch({file("shop.ini")}, {"QK750_SIM_FAULTS=unplug@0x30"});
    EXPECT_EQ(unplug.exitCode, 1);
    EXPECT_EQ(outcome(), "ERR_USB_RECEIVE\r\n" + file("shop.ini") + "\r\n");
    const RunResult malformed = batch({file("shop.ini")}, {"QK750_SIM_FAULTS=crc@"});
    EXPECT_EQ(malformed.exitCode, 2);
    EXPECT_NE(malformed.err.find("QK750_SIM_FAULTS"), std::string::npos) << malformed.err;
    write("memory.bin", "too short");  // a memory file of another size is refused, kept
    const RunResult shortMemory = batch({file("shop.ini")});
    EXPECT_EQ(shortMemory.exitCode, 2);
    EXPECT_NE(shortMemory.err.find("9 bytes, not 2048"), std::string::npos) << shortMemory.err;
    EXPECT_EQ(read("memory.bin"), "too short");
}

TEST_F(BatchTest, NoKeyboardAtAll) {
    // Runs against this machine's own HID devices: a QK750 among them would be reprogrammed.
    if (const char* real = std::getenv("QK750_TEST_REAL_DEVICES");
        !real || real != std::string("1")) {
        GTEST_SKIP() << "set QK750_TEST_REAL_DEVICES=1 to run against the real HID devices";
    }
    write("shop.ini", kShop);
    const RunResult r = run({"/B", file("shop.ini")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(outcome(), "ERR_USB_KBD_NOT_CONNECTED\r\n" + file("shop.ini") + "\r\n");
}

}  // namespace
