// The real executable in a temporary folder of its own: --image on setups the test writes,
// --legends with poppler's tools reading the sheet, and batch mode programming the simulated
// keyboard.

#include <QImage>
#include <QProcess>
#include <QRegularExpression>

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace qk750;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class ProgramTest : public testing::Test {
protected:
    ProgramTest() { fs::create_directory(m_root.path("work")); }

    // Where the test puts setups and runs the program.
    std::string file(const std::string& name) const { return m_root.path("work/" + name); }
    void write(const std::string& name, const std::string& bytes) const {
        m_root.write("work/" + name, bytes);
    }
    std::string read(const std::string& name) const { return test::TempDir::read(file(name)); }
    std::set<std::string> filesInWork() const { return m_root.entries("work"); }

    // Runs the program with the arguments and extra environment ("NAME=value").
    RunResult run(const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment = {}) const {
        QProcess process;
        QStringList args, env = QProcess::systemEnvironment();
        for (const std::string& a : arguments)
            args << QString::fromStdString(a);
        for (const std::string& e : environment)
            env.append(QString::fromStdString(e));  // the last of a name counts
        process.setEnvironment(env);
        process.setWorkingDirectory(QString::fromStdString(m_root.path("work")));
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(QStringLiteral(QK750_EXE), args);
        if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit) {
            ADD_FAILURE() << "cannot run " << QK750_EXE;
            return {};
        }
        return {process.exitCode(), process.readAllStandardOutput().toStdString(),
                process.readAllStandardError().toStdString()};
    }

    // The program making image.bin, or programming memory.bin in batch mode.
    RunResult image(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), "--image=" + file("image.bin"));
        return run(arguments);
    }
    RunResult batch(std::vector<std::string> arguments,
                    const std::vector<std::string>& environment = {}) const {
        arguments.insert(arguments.begin(), {"--simulate=" + file("memory.bin"), "/B"});
        return run(arguments, environment);
    }
    // `count` image bytes from `at`; empty when the image is missing or short.
    std::string imageBytes(std::size_t at, std::size_t count) const {
        const std::string bytes = read("image.bin");
        return bytes.size() == 2048 ? bytes.substr(at, count) : std::string();
    }
    std::string outcome() const { return read("QK750.ERR"); }

private:
    test::TempDir m_root;
};
using ImageTest = ProgramTest;
using BatchTest = ProgramTest;
using LegendsTest = ProgramTest;

// A KBD file of the given size whose record 1 holds `first` as its first string.
std::string kbdBytes(const std::string& first, std::size_t size = 21300) {
    std::string bytes(size, '\0');
    bytes[10] = static_cast<char>(first.size());
    bytes.replace(11, first.size(), first);
    return bytes;
}

TEST_F(ImageTest, ThreeLetterKeyGoesToTheStringArea) {
    write("shop.ini", "[Keys]\r\nKey1=abc\r\n[Mcr]\r\nMcrSetupMode=0\r\n");
    const RunResult r = image({file("shop.ini")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "KBD Setup Size=5\n");
    EXPECT_EQ(imageBytes(0, 10), std::string("\0\x5A\0\0\0\x05\0\0\x11\x60", 10));
    // An INI setup is only read: no twin, nothing else beside it.
    EXPECT_EQ(filesInWork(), (std::set<std::string>{"image.bin", "shop.ini"}));

    // Keys replaced from the command line; with no [Mcr], the reader's mode 1 is built in.
    write("keys.dat", "1,2,1,b\r\n");
    write("shop.ini", "[Keys]\r\nKey1=abc\r\n");
    ASSERT_EQ(image({file("shop.ini"), "/I=" + file("keys.dat")}).out, "KBD Setup Size=1\n");
    EXPECT_EQ(imageBytes(0x008, 4), std::string("\xFF\xFF\x00\x05", 4));
    EXPECT_EQ(imageBytes(3, 3), std::string("\x01\x00\x05", 3));
}

// 16 capitals compile to 3 bytes each plus the end mark: 49 bytes. A KBD input's INI twin
// that cannot be saved (a folder stands there) is reported, and the image built all the same.
TEST_F(ImageTest, OptionsErrorsAndExitCodes) {
    write("long.ini", "[Keys]\r\nKey12_2=" + std::string(16, 'A') + "\r\n");
    write("old.KBD", kbdBytes("\xF9x\xF9y"));
    fs::create_directory(file("old.INI"));
    write("shop.ini", "[Keys]\r\nKey1=abc\r\n");
    write("wide.ini", "[Legends]\r\nInsertWidth=30\r\n");
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
        {{"--roll-out=0", "/B", "shop.ini"}, 2, "", "--roll-out= needs a count"},
        {{"--roll-out", "shop.ini"}, 2, "", "--roll-out needs /B"},
        {{"--image=" + file("image.bin"), file("old.KBD")},
         0,
         "KBD Setup Size=4\n",
         "cannot save " + file("old.INI") + ": "},
        {{"--legends"}, 2, "", "--legends needs a file name"},
        {{"--legends=l.pdf", "/B", "shop.ini"}, 2, "", "--legends and /B cannot be combined"},
        {{"--legends=l.pdf", "--image=i.bin", "shop.ini"}, 2, "", "cannot be combined"},
        {{"--legends=" + file("l.pdf"), file("nowhere.ini")}, 1, "", "not found"},
        {{"--legends=" + file("no/l.pdf"), file("shop.ini")}, 1, "", "cannot write "},
        {{"--legends=" + file("l.pdf"), file("wide.ini")}, 1, "", "do not fit on one A4 page"},
    };
    for (const auto& c : cases) {
        const RunResult r = run(c.arguments);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.out.find(c.inOut), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.inErr), std::string::npos) << r.err;
    }
    EXPECT_EQ(imageBytes(0x160, 3), "\x1B\x1C\xFF");
    EXPECT_EQ(filesInWork(), (std::set<std::string>{"long.ini", "shop.ini", "wide.ini", "old.KBD",
                                                    "old.INI", "image.bin"}));
}

// A poppler tool's standard output.
std::string poppler(const QString& tool, const QStringList& arguments) {
    QProcess process;
    process.start(tool, arguments);
    EXPECT_TRUE(process.waitForFinished(-1) && process.exitCode() == 0) << tool.toStdString();
    return process.readAllStandardOutput().toStdString();
}

// The longest straight dark lines of a page drawn at 10 pixels per millimetre, across and
// down, in millimetres.
std::pair<double, double> longestLines(const QImage& page) {
    int across = 0, down = 0;
    std::vector<int> column(page.width());
    for (int y = 0; y < page.height(); ++y) {
        const uchar* row = page.constScanLine(y);
        for (int x = 0, run = 0; x < page.width(); ++x) {
            run = row[x] < 128 ? run + 1 : 0;
            column[x] = row[x] < 128 ? column[x] + 1 : 0;
            across = std::max(across, run);
            down = std::max(down, column[x]);
        }
    }
    return {across / 10.0, down / 10.0};
}

// The shop example's sheet: one page of the locale's paper, the legends the keys give and
// no tag, a legend of one's own in place of the derived one (a cut one named), and a
// calibration square that measures 50 mm.
TEST_F(LegendsTest, ShopSheetIsOnePageAtTrueSize) {
    const std::string shop = test::TempDir::read(QK750_EXAMPLES "/shop.ini");
    const struct {
        const char* locale;
        std::string legends;
        const char* paper;
        std::vector<std::string> shown, notShown;
        const char* err;
    } cases[] = {
        // clang-format off
        {"LC_ALL=de_DE.UTF-8", "", "595 pts (A4)", {"Coffee", "Espresso", "F1", "Cash", "shop.ini"},
         {}, ""},
        {"LANG=en_US.UTF-8",
         "[Legends]\r\nLegend49=Till\r\nLegend50_2=Gift\r\nLegend6=A Legend Far Too Long For Any Insert, Even At The Smallest Size\r\n",
         "612 pts (letter)", {"Till", "Gift", "Card", "\u2026"}, {"Cash", "F6"},
         "key 6: the legend does not fit its insert and is cut\n"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        write("shop.ini", shop + c.legends);
        const RunResult r = run({"--legends=sheet.pdf", "shop.ini"},
                                {"LC_ALL=", "LC_PAPER=", "LANG=", "DISPLAY=:99", c.locale});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        const QString pdf = QString::fromStdString(file("sheet.pdf"));
        const std::string info = poppler("pdfinfo", {pdf});
        EXPECT_NE(info.find(c.paper), std::string::npos) << info;
        EXPECT_NE(info.find("Pages:           1\n"), std::string::npos) << info;
        const std::string text = poppler("pdftotext", {pdf, "-"});
        for (const std::string& word : c.shown) {
            EXPECT_NE(text.find(word), std::string::npos) << word << " in " << text;
        }
        for (const std::string& word : c.notShown) {
            EXPECT_EQ(text.find(word), std::string::npos) << word << " in " << text;
        }
        EXPECT_FALSE(QString::fromStdString(text).contains(QRegularExpression("<[^<>]*>")));
        poppler("pdftoppm", {"-r", "254", "-gray", "-singlefile", pdf, pdf + "-page"});
        const auto [across, down] = longestLines(QImage(pdf + "-page.pgm"));
        EXPECT_NEAR(across, 50.0, 0.5);
        EXPECT_NEAR(down, 50.0, 0.5);
    }
}

constexpr const char* kShop =
    "[Version]\r\nFileVer=1.00\r\n[Till]\r\nLane=4\r\n[Keys]\r\nKey1=Coffee<Enter>\r\n"
    "Key2=<F1>\r\nKey3=<CtrlP>\r\nKey13=<FUNC2_TOGGLE>\r\nKey14_2=Tea<Enter>\r\n"
    "[Mcr]\r\nMcrSetupMode=0\r\nPreambleString=<F8>\r\nPostambleString=<Enter>\r\n";

const std::string kErased(2048, '\xFF');

TEST_F(BatchTest, ProgramsTheKeyboardAndSavesTheSetupQuietly) {
    write("shop.ini", kShop);
    ASSERT_EQ(image({file("shop.ini")}).exitCode, 0);
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
        // Files that are not what their names say: a key list with no key line, a binary.
        {{{"shop.ini", "[Keys]\r\nKey1=abc\r\n"}, {"bad.dat", "not a dat\r\n1,1,1,x\r\n"}},
         {"shop.ini", "/I=bad.dat"}, "ERR_SETUP_FILE_INVALID", "bad.dat", nullptr, "shop.ini", ""},
        {{{"x.ini", std::string("\x7F" "ELF\2\0\0[Keys]\r\nKey1=a\r\n", 21)}}, {"x.ini"},
         "ERR_SETUP_FILE_INVALID", "x.ini", nullptr, "x.ini", ""},
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
        EXPECT_EQ(r.err.find(": \n"), std::string::npos) << r.err;  // a good save says nothing
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

    // What --simulate cannot use is refused with the reason, before anything is programmed;
    // a memory file of another size is kept.
    write("memory.bin", "too short");
    const struct {
        std::string memory;
        std::vector<std::string> environment;
        std::string reason;
    } refused[] = {
        {"memory.bin", {"QK750_SIM_FAULTS=crc@"}, "QK750_SIM_FAULTS"},
        {"memory.bin", {}, "9 bytes, not 2048"},
        {"", {}, file("") + ": Is a directory\n"},
        {"no/m.bin", {}, file("no/m.bin") + ": No such file or directory\n"},
    };
    for (const auto& c : refused) {
        fs::remove(file("QK750.ERR"));
        const RunResult r =
            run({"--simulate=" + file(c.memory), "/B", file("shop.ini")}, c.environment);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(file("QK750.ERR")));
    }
    EXPECT_EQ(read("memory.bin"), "too short");

    // An outcome file that cannot be written is reported; the exit code still tells.
    fs::create_directories(file("QK750.ERR/in"));
    const RunResult unwritten = run({"--simulate", "/B", file("shop.ini")});
    EXPECT_EQ(unwritten.exitCode, 0);
    EXPECT_NE(unwritten.err.find("outcome file " + file("QK750.ERR") + ": Is a directory\n"),
              std::string::npos)
        << unwritten.err;
}

// Whether text has the form of pattern, in which 9 stands for any digit.
bool hasForm(const std::string& text, const std::string& pattern) {
    return text.size() == pattern.size() &&
           std::equal(text.begin(), text.end(), pattern.begin(),
                      [](char t, char p) { return p == '9' ? t >= '0' && t <= '9' : t == p; });
}

// Lines a roll-out added to the log after `before` lines, each as "number code detail" once
// its time and seconds have the right form.
std::vector<std::string> logLines(const std::string& log, std::size_t before) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string text; std::getline(in, text);) {
        std::vector<std::string> f;  // time, number, code, detail, seconds
        std::istringstream fields(text);
        for (std::string field; std::getline(fields, field, '\t');) {
            f.push_back(field);
        }
        const bool formed = f.size() == 5 && hasForm(f[0], "9999-99-99T99:99:99") &&
                            f[4].size() > 3 &&
                            hasForm(f[4], std::string(f[4].size() - 3, '9') + ".99");
        lines.push_back(formed ? f[1] + " " + f[2] + " " + f[3] : "malformed: " + text);
    }
    return {lines.begin() + static_cast<long>(std::min(before, lines.size())), lines.end()};
}

// New keyboards one after another, each with its own memory file; a fault plan for one
// keyboard fails that one, and the outcome file gives the first failure. A setup that
// does not compile touches no keyboard. The log is only ever appended to.
TEST_F(BatchTest, RollOutProgramsEachKeyboardPluggedIn) {
    write("shop.ini", kShop);
    write("long.ini", "[Keys]\r\nKey12=" + std::string(50, 'a') + "\r\n");
    ASSERT_EQ(image({file("shop.ini")}).exitCode, 0);
    write("QK750.LOG", "earlier roll-out\n");
    const std::string shop = file("shop.ini");
    const struct {
        const char* setup;
        int count;
        const char* faults;
        int exitCode;
        std::string outcome;
        std::vector<std::string> log;
        const char* lastLine;
    } cases[] = {
        {"shop.ini",
         3,
         "",
         0,
         "OK\r\n" + shop,
         {"1 OK " + shop, "2 OK " + shop, "3 OK " + shop},
         "keyboard 3: OK, "},
        {"shop.ini",
         4,
         "2:crc@0x20,4:verify@8",
         1,
         "ERR_USB_CRC\r\n" + shop,
         {"1 OK " + shop, "2 ERR_USB_CRC " + shop, "3 OK " + shop,
          "4 ERR_WRITE_VERIFY Memory 0008 Written11 Read=EE"},
         "(CRC Error in data to USB QK750! Check connection.); unplug it and plug in the next\n"},
        {"long.ini", 3, "", 1, "ERR_KEY_LEN\r\nKey 12", {}, "Key 12 is too long"},
    };
    std::size_t lines = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults);
        for (const char* k : {".1", ".2", ".3", ".4"}) {
            fs::remove(file(std::string("memory.bin") + k));
        }
        const RunResult r = batch({"--roll-out=" + std::to_string(c.count), file(c.setup)},
                                  {"QK750_SIM_FAULTS=" + std::string(c.faults)});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(outcome(), c.outcome + "\r\n");
        EXPECT_EQ(logLines(read("QK750.LOG"), lines), c.log);
        lines += c.log.size();
        EXPECT_NE(r.err.find(c.lastLine), std::string::npos) << r.err;
        for (std::size_t k = 1; k <= 4; ++k) {
            const bool programmed =
                k <= c.log.size() && c.log[k - 1].find(" OK ") != std::string::npos;
            EXPECT_EQ(read("memory.bin." + std::to_string(k)) == read("image.bin"), programmed)
                << k;
        }
    }
    EXPECT_EQ(read("QK750.LOG").substr(0, 17), "earlier roll-out\n");
    EXPECT_FALSE(fs::exists(file("memory.bin")));

    // A log that cannot be written stops the roll-out before any keyboard.
    fs::create_directories(file("sub/QK750.LOG"));
    fs::copy_file(file("shop.ini"), file("sub/shop.ini"));
    const RunResult noLog = batch({"--roll-out=1", file("sub/shop.ini")});
    EXPECT_EQ(noLog.exitCode, 1);
    EXPECT_NE(noLog.err.find("cannot write the log " + file("sub/QK750.LOG")), std::string::npos)
        << noLog.err;
    EXPECT_FALSE(fs::exists(file("memory.bin.1")));
}

// SIGINT while keyboard 2 is programmed (slowly): its line says ERR_USER_ABORT, the exit code
// is 1, and the setup is saved as at every close (the save writes every key).
TEST_F(BatchTest, RollOutEndsCleanlyOnSigint) {
    write("shop.ini", "[Keys]\r\nKey1=abc\r\n");
    QProcess process;
    QStringList env = QProcess::systemEnvironment();
    env.prepend(QStringLiteral("QK750_SIM_FAULTS=2:latency=28"));
    process.setEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setReadChannel(QProcess::StandardError);
    process.start(QStringLiteral(QK750_EXE),
                  {QString::fromStdString("--simulate=" + file("memory.bin")), "/B", "--roll-out",
                   QString::fromStdString(file("shop.ini"))});
    std::string err;
    // Keyboard 2's first progress line, after keyboard 1's report.
    while (err.find("% ZQ QK750 USB", err.find("keyboard 1: OK")) == std::string::npos) {
        ASSERT_TRUE(err.find("keyboard 1: OK") != std::string::npos || err.size() < 4000) << err;
        ASSERT_TRUE(process.waitForReadyRead(60000)) << err;
        err += process.readAllStandardError().toStdString();
    }
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000));
    err += process.readAllStandardError().toStdString();
    EXPECT_EQ(process.exitCode(), 1) << err;
    const std::string shop = file("shop.ini");
    EXPECT_EQ(logLines(read("QK750.LOG"), 0),
              (std::vector<std::string>{"1 OK " + shop, "2 ERR_USER_ABORT " + shop}));
    EXPECT_EQ(outcome(), "ERR_USER_ABORT\r\n" + shop + "\r\n");
    EXPECT_NE(read("shop.ini").find("Key84_2=\r\n"), std::string::npos);
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
