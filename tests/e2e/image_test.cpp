// Runs the real executable with --image on setups written by the test and checks the
// image bytes, the output and the files left beside the setup.

#include <cstdint>
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

    std::vector<std::uint8_t> imageBytes() const {
        const std::string bytes = readFile(file("image.bin"));
        return {bytes.begin(), bytes.end()};
    }
};

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& image, std::size_t at,
                                std::size_t count) {
    if (image.size() < at + count) {
        return {};
    }
    return {image.begin() + static_cast<long>(at), image.begin() + static_cast<long>(at + count)};
}

TEST_F(ImageTest, ThreeLetterKeyGoesToTheStringArea) {
    writeFile(file("shop.ini"), "[Keys]\r\nKey1=abc\r\n[Mcr]\r\nMcrSetupMode=0\r\n");
    const RunResult r = image(file("shop.ini"));

    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "KBD Setup Size=5\n");
    EXPECT_EQ(r.err, "");
    const std::vector<std::uint8_t> bytes = imageBytes();
    ASSERT_EQ(bytes.size(), 2048u);
    EXPECT_EQ(slice(bytes, 0, 8), (std::vector<std::uint8_t>{0, 0x5A, 0, 0, 0, 5, 0, 0}));
    EXPECT_EQ(slice(bytes, 0x008, 2), (std::vector<std::uint8_t>{0x11, 0x60}));
    EXPECT_EQ(slice(bytes, 0x160, 5), (std::vector<std::uint8_t>{0x04, 0x05, 0x06, 0xFF, 0xFF}));
    // An INI setup is only read: no twin, nothing else beside it.
    EXPECT_EQ(filesInWork(), (std::set<std::string>{"image.bin", "shop.ini"}));
}

TEST_F(ImageTest, KeyTooLongIsReportedAndNoImageWritten) {
    // 16 capitals compile to 3 bytes each plus the end mark: 49 bytes.
    writeFile(file("shop.ini"), "[Keys]\r\nKey12_2=" + std::string(16, 'A') + "\r\n");
    const RunResult r = image(file("shop.ini"));

    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Key 12 is too long !! Reduce length of key...\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(file("image.bin")));
}

TEST_F(ImageTest, KbdInputWritesItsIniTwin) {
    writeFile(file("old.KBD"), kbdBytes("\xF9x\xF9y"));
    const RunResult r = image(file("old.KBD"));

    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "KBD Setup Size=4\n");
    EXPECT_NE(readFile(file("old.INI")).find("Key1=xy\r\n"), std::string::npos);
    EXPECT_EQ(slice(imageBytes(), 0x160, 3), (std::vector<std::uint8_t>{0x1B, 0x1C, 0xFF}));
}

TEST_F(ImageTest, FailedTwinSaveIsReportedButTheImageBuilt) {
    writeFile(file("old.KBD"), kbdBytes("\xF9x\xF9y"));
    // A folder where the twin should go: the save cannot replace it.
    fs::create_directory(file("old.INI"));
    const RunResult r = image(file("old.KBD"));

    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("cannot save " + file("old.INI") + ": "), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "KBD Setup Size=4\n");
    EXPECT_EQ(imageBytes().size(), 2048u);
}

TEST_F(ImageTest, KbdOfWrongSizeIsRefused) {
    writeFile(file("old.KBD"), kbdBytes("\xF9x", 21299));
    const RunResult r = image(file("old.KBD"));

    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Invalid KBD File size\n");
    EXPECT_EQ(filesInWork(), (std::set<std::string>{"old.KBD"}));
}

TEST_F(ImageTest, DatFromCommandLineReplacesTheKeys) {
    writeFile(file("shop.ini"), "[Keys]\r\nKey1=abc\r\n");
    writeFile(file("keys.dat"), "1,2,1,b\r\n");
    const RunResult r = image(file("shop.ini"), {"/I=" + file("keys.dat")});

    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "KBD Setup Size=1\n");
    const std::vector<std::uint8_t> bytes = imageBytes();
    EXPECT_EQ(slice(bytes, 0x008, 4), (std::vector<std::uint8_t>{0xFF, 0xFF, 0x00, 0x05}));
    // With the INI file's [Mcr] section missing, the reader's mode 1 is a built-in mode.
    EXPECT_EQ(slice(bytes, 3, 3), (std::vector<std::uint8_t>{1, 0, 5}));
}

TEST_F(ImageTest, LowerCaseKbdGetsOneTwinAndKeepsTheIniName) {
    writeFile(file("shop.kbd"), kbdBytes("\xF9q"));
    ASSERT_EQ(image(file("shop.kbd")).exitCode, 0);
    // The twin of shop.kbd is shop.INI; running on a lower-case .ini then leaves it alone.
    writeFile(file("till.ini"), "[Keys]\r\nKey1=q\r\n");
    ASSERT_EQ(image(file("till.ini")).exitCode, 0);
    EXPECT_EQ(filesInWork(),
              (std::set<std::string>{"image.bin", "shop.INI", "shop.kbd", "till.ini"}));
}

TEST_F(ImageTest, MissingSetupOrUnwritableImageFails) {
    RunResult r = image(file("nowhere.ini"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not found"), std::string::npos) << r.err;
    EXPECT_TRUE(filesInWork().empty());

    writeFile(file("shop.ini"), "[Keys]\r\nKey1=abc\r\n");
    r = run({"--image=" + file("no-such-dir/image.bin"), file("shop.ini")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
}

TEST_F(ImageTest, OptionsAndExitCodes) {
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string inOut;
        std::string inErr;
    };
    const Case cases[] = {
        {{"--help"}, 0, "--image=FILE", ""},
        {{"--version"}, 0, "qk750setup ", ""},
        {{"--bogus"}, 2, "", "unknown option: --bogus"},
        {{"--image"}, 2, "", "--image needs a file name"},
        {{"--image=x.bin", "/B", "shop.ini"}, 2, "", "cannot be combined"},
    };
    for (const Case& c : cases) {
        const RunResult r = run(c.arguments);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.out.find(c.inOut), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.inErr), std::string::npos) << r.err;
    }
}

}  // namespace
