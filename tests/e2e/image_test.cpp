// Runs the real executable with --image on setups written by the test and checks the
// image bytes, the output and the files left beside the setup.

#include <set>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

using namespace qk750::e2e;

class ImageTest : public ProgramTest {
protected:
    RunResult image(const std::string& setup, const std::vector<std::string>& more = {}) const {
        std::vector<std::string> arguments{"--image=" + file("image.bin"), setup};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return run(arguments);
    }
    // `count` image bytes from `at`; empty when the image is missing or short.
    std::string imageBytes(std::size_t at, std::size_t count) const {
        const std::string bytes = read("image.bin");
        return bytes.size() == 2048 ? bytes.substr(at, count) : std::string();
    }
};

TEST_F(ImageTest, ThreeLetterKeyGoesToTheStringArea) {
    write("shop.ini", "[Keys]\r\nKey1=abc\r\n[Mcr]\r\nMcrSetupMode=0\r\n");
    const RunResult r = image(file("shop.ini"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "KBD Setup Size=5\n");
    EXPECT_EQ(imageBytes(0, 10), std::string("\0\x5A\0\0\0\x05\0\0\x11\x60", 10));
    EXPECT_EQ(imageBytes(0x160, 5), "\x04\x05\x06\xFF\xFF");
    // An INI setup is only read: no twin, nothing else beside it.
    EXPECT_EQ(filesInWork(), (std::set<std::string>{"image.bin", "shop.ini"}));

    // Keys replaced from the command line; with no [Mcr], the reader's mode 1 is built in.
    write("keys.dat", "1,2,1,b\r\n");
    write("shop.ini", "[Keys]\r\nKey1=abc\r\n");
    ASSERT_EQ(image(file("shop.ini"), {"/I=" + file("keys.dat")}).out, "KBD Setup Size=1\n");
    EXPECT_EQ(imageBytes(0x008, 4), std::string("\xFF\xFF\x00\x05", 4));
    EXPECT_EQ(imageBytes(3, 3), std::string("\x01\x00\x05", 3));
}

// A KBD input writes its INI twin; a twin that cannot be saved (a folder stands there) is
// reported, and the image is built all the same.
TEST_F(ImageTest, KbdInputWritesItsIniTwin) {
    for (const bool blocked : {false, true}) {
        fs::remove_all(file("old.INI"));
        write("old.KBD", kbdBytes("\xF9x\xF9y"));
        if (blocked) {
            fs::create_directory(file("old.INI"));
        }
        const RunResult r = image(file("old.KBD"));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "KBD Setup Size=4\n");
        EXPECT_EQ(imageBytes(0x160, 3), "\x1B\x1C\xFF");
        EXPECT_NE(blocked ? r.err.find("cannot save " + file("old.INI") + ": ")
                          : read("old.INI").find("Key1=xy\r\n"),
                  std::string::npos);
    }
}

// 16 capitals compile to 3 bytes each plus the end mark: 49 bytes.
TEST_F(ImageTest, OptionsErrorsAndExitCodes) {
    write("long.ini", "[Keys]\r\nKey12_2=" + std::string(16, 'A') + "\r\n");
    write("shop.ini", "[Keys]\r\nKey1=abc\r\n");
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        std::string inOut, inErr;
    } cases[] = {
        {{"--help"}, 0, "--image=FILE", ""},
        {{"--version"}, 0, "qk750setup ", ""},
        {{"--bogus"}, 2, "", "unknown option: --bogus"},
        {{"--image"}, 2, "", "--image needs a file name"},
        {{"--image=x.bin", "/B", "shop.ini"}, 2, "", "cannot be combined"},
        {{"--image=" + file("i.bin"), file("nowhere.ini")}, 1, "", "not found"},
        {{"--image=" + file("no/i.bin"), file("shop.ini")}, 1, "", "No such file or directory"},
        {{"--image=" + file("i.bin"), file("long.ini")},
         1,
         "",
         "Key 12 is too long !! Reduce length of key...\n"},
    };
    for (const auto& c : cases) {
        const RunResult r = run(c.arguments);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.out.find(c.inOut), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.inErr), std::string::npos) << r.err;
    }
    EXPECT_EQ(filesInWork(), (std::set<std::string>{"long.ini", "shop.ini"}));
}

}  // namespace
