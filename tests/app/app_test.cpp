#include "app/batch.h"
#include "app/cli.h"
#include "app/command_line.h"
#include "app/error_file.h"
#include "app/image_errors.h"
#include "app/initial_load.h"
#include "app/key_editing.h"
#include "app/key_text.h"
#include "app/mcr_settings.h"
#include "app/qt_event_loop.h"
#include "app/roll_out.h"
#include "app/stop_requests.h"

#include <QCoreApplication>

#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "keys/key_string.h"
#include "keys/key_table.h"

namespace qk750 {
namespace {

const std::string kPosixDefault = "/opt/qk750/QK750.INI";
const std::string kWindowsDefault = "C:\\QK750\\QK750.INI";

// Switches are tested after upper-casing; a POSIX path keeps its case and, being
// absolute, is a file unless it has the form of a switch.
TEST(ParseCommandLine, SetsFileNamesAndMode) {
    constexpr PathRules P = PathRules::Posix;
    constexpr PathRules W = PathRules::Windows;
    // The setup file, the DAT file, 1 for batch mode and the outcome file, apart by "|".
    // clang-format off
    const struct {
        PathRules rules;
        std::vector<std::string> parameters;
        std::string expected;
    } cases[] = {
        {P, {}, kPosixDefault + "||0|QK750.ERR"},
        {P, {"/b", "/srv/Setups/Shop.ini"}, "/srv/Setups/Shop.ini||1|/srv/Setups/QK750.ERR"},
        {P, {"shop.ini", "/B"}, "shop.ini||1|QK750.ERR"},
        {P, {"/BATCH"}, kPosixDefault + "||1|/opt/qk750/QK750.ERR"},
        {P, {"/i=Old.dat", "file.ini"}, "file.ini|Old.dat|0|QK750.ERR"},
        {P, {"/I=/srv/keys.dat"}, kPosixDefault + "|/srv/keys.dat|0|/opt/qk750/QK750.ERR"},
        {P, {"/X", "/I", "/Ikeys"}, kPosixDefault + "||0|/opt/qk750/QK750.ERR"},
        {P, {"/B", "/shop.ini"}, "/shop.ini||1|/QK750.ERR"},
        {P, {"/x=a/b"}, kPosixDefault + "||0|/opt/qk750/QK750.ERR"},
        {P, {"a.ini", "/I=a.dat", "/srv/b.INI", "/I=b.dat"}, "/srv/b.INI|b.dat|0|/srv/QK750.ERR"},
        {P, {"/BI=x.dat", "/I=B"}, kPosixDefault + "|B|1|/opt/qk750/QK750.ERR"},
        {P, {"", "sub/shop.ini", ""}, "sub/shop.ini||0|sub/QK750.ERR"},
        {P, {"//shop.ini"}, "//shop.ini||0|/QK750.ERR"},
        {W, {"/b", "C:\\Setups\\Shop.ini"}, "C:\\SETUPS\\SHOP.INI||1|C:\\SETUPS\\QK750.ERR"},
        {W, {"/i=old.dat", "file.ini"}, "FILE.INI|OLD.DAT|0|QK750.ERR"},
        {W, {"/home/op/shop.ini"}, kWindowsDefault + "||0|C:\\QK750\\QK750.ERR"},
        {W, {"c:\\shop.ini"}, "C:\\SHOP.INI||0|C:\\QK750.ERR"},
        {W, {"c:shop.ini"}, "C:SHOP.INI||0|C:\\QK750.ERR"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.parameters));
        ProgramState state;
        state.SetupFileName = c.rules == P ? kPosixDefault : kWindowsDefault;
        // Left-overs that the parse must reset.
        state.DatImportPath = "stale.dat";
        state.BatchMode = true;
        state.ErrorFilePath = "/stale/QK750.ERR";
        ParseCommandLine(state, c.parameters, c.rules);
        EXPECT_EQ(state.SetupFileName + "|" + state.DatImportPath + "|" +
                      (state.BatchMode ? "1|" : "0|") + state.ErrorFilePath,
                  c.expected);
    }
    // A program in a drive's root folder lives in C:\ itself, not in drive C's current folder.
    EXPECT_EQ(directoryPart("C:\\qk750.exe", W) + "|" + directoryPart("C:qk750.exe", W), "C:\\|C:");
}

// The program's folder when it can be written to, else the user's configuration folder,
// joined with the native separator.
const std::string kSep = kNativePathRules == PathRules::Windows ? "\\" : "/";

TEST(DefaultSetupFileName, ProgramDirectoryWhenWritable) {
    test::TempDir program, config;
    EXPECT_EQ(defaultSetupFileName(program.path(), config.path()),
              program.path() + kSep + "QK750.INI");
    EXPECT_FALSE(std::filesystem::exists(config.path("qk750setup")));
    // Each stands for a folder the program cannot write to (tests may run as root, for whom
    // a read-only mode bit does not stop a write).
    for (const std::string& programDirectory :
         {program.path("missing"), program.write("not-a-directory", "x"), std::string()}) {
        SCOPED_TRACE(programDirectory);
        EXPECT_EQ(defaultSetupFileName(programDirectory, config.path()),
                  config.path() + kSep + "qk750setup" + kSep + "QK750.INI");
        EXPECT_TRUE(std::filesystem::is_directory(config.path("qk750setup")));
    }
}

#ifdef _WIN32
TEST(UserConfigBase, IsAppData) {
    _putenv_s("APPDATA", "C:\\Users\\op\\AppData\\Roaming");
    EXPECT_EQ(userConfigBase(), "C:\\Users\\op\\AppData\\Roaming");
    _putenv_s("APPDATA", "");  // removes it
    EXPECT_EQ(userConfigBase(), "");
}
#else
TEST(UserConfigBase, FollowsXdgOnlyWhenAbsolute) {
    setenv("HOME", "/home/op", 1);
    for (const auto& [xdg, base] :
         {std::pair<const char*, const char*>{"/srv/config", "/srv/config"},
          {"relative/config", "/home/op/.config"},
          {"", "/home/op/.config"},
          {nullptr, "/home/op/.config"}}) {
        xdg ? setenv("XDG_CONFIG_HOME", xdg, 1) : unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(userConfigBase(), base);
    }
}
#endif

struct EditCase {
    const char* text;
    int caret;
    LineEdit expected;
};

void checkEdits(LineEdit (*edit)(std::string_view, int), const std::vector<EditCase>& cases) {
    for (const EditCase& c : cases) {
        EXPECT_EQ(edit(c.text, c.caret), c.expected) << '"' << c.text << "\" caret " << c.caret;
    }
}

// Inner "<" starts the removed tag; a caret just after the ">" or at the end, no ">", a
// second "<" before it, or the first "<" after the caret leave the key to the line; a
// caret beyond the text counts as the end.
TEST(DeleteTokenAtCaret, RemovesTheTagAtOrAroundTheCaret) {
    // clang-format off
    checkEdits(DeleteTokenAtCaret, {
        {"x<Tab>y", 1, {"xy", 1, true}}, {"x<Tab>y", 3, {"xy", 1, true}},
        {"x<Tab>y", 5, {"xy", 1, true}}, {"<Tab>y", 0, {"y", 0, true}}, {"<>", 0, {"", 0, true}},
        {"ab<Enter>", 2, {"ab", 2, true}}, {"a<b<Enter>", 3, {"a<b", 3, true}},
        {"<a><b>", 4, {"<a>", 3, true}}, {"", 0, {"", 0, false}}, {"a", 0, {"a", 0, false}},
        {"<", 0, {"<", 0, false}}, {"x<Tab>y", 0, {"x<Tab>y", 0, false}},
        {"x<Tab>y", 6, {"x<Tab>y", 6, false}}, {"ab<Enter>", 9, {"ab<Enter>", 9, false}},
        {"a<bc", 1, {"a<bc", 1, false}}, {"a<b<Enter>", 2, {"a<b<Enter>", 2, false}},
        {"a>b<c>", 1, {"a>b<c>", 1, false}}, {"x<Tab>y", 99, {"x<Tab>y", 7, false}},
        {"x<Tab>y", -3, {"x<Tab>y", 0, false}}
    });
    // clang-format on
}

// A single character goes wherever the caret is. Otherwise the line deletes one
// character itself: just before a tag (the "b" goes, not the tag), just after a tag
// followed by more text (the ">" goes), at the end after a plain character (the caret
// must not move left).
TEST(BackspaceToken, RemovesTheTagBeforeOrAroundTheCaret) {
    // clang-format off
    checkEdits(BackspaceToken, {
        {"ab<Enter>", 9, {"ab", 2, true}}, {"ab<Enter>", 5, {"ab", 2, true}},
        {"ab<Enter>", 3, {"ab", 2, true}}, {"<a><b>", 6, {"<a>", 3, true}},
        {"<>", 2, {"", 0, true}}, {"x<Tab>y", 5, {"xy", 1, true}}, {"a", 1, {"", 0, true}},
        {"a", 0, {"", 0, true}}, {"<", 1, {"", 0, true}}, {"", 0, {"", 0, false}},
        {"ab<Enter>", 1, {"ab<Enter>", 1, false}}, {"ab", 2, {"ab", 2, false}},
        {"ab<Enter>", 2, {"ab<Enter>", 2, false}}, {"<Tab>x", 5, {"<Tab>x", 5, false}},
        {"<Enter>x", 8, {"<Enter>x", 8, false}}, {"a<b", 3, {"a<b", 3, false}}
    });
    // clang-format on
}

TEST(SpecialKeys, EveryItemAndModifierMakesATagThatTypesSomething) {
    for (const std::string_view item : SpecialKeyItems()) {
        EXPECT_NE(FindKeyByName(item), 0) << item;
        for (const auto modifier : {SpecialKeyModifier::None, SpecialKeyModifier::Shift,
                                    SpecialKeyModifier::Alt, SpecialKeyModifier::Ctrl}) {
            const std::string tag = SpecialKeyTag(item, modifier);
            EXPECT_FALSE(CompileKeyString(tag).empty()) << tag;
        }
    }
}

TEST(SpecialKeys, Func2ItemsReplaceBothLinesOthersAppendToTheActiveOne) {
    const KeyLines onFunc2{"abc", "def", 1};
    EXPECT_EQ(addSpecialKey(onFunc2, "FUNC2_SHIFT", SpecialKeyModifier::Ctrl),
              (KeyLines{"<FUNC2_SHIFT>", "<FUNC2_SHIFT>", 0}));
    EXPECT_EQ(addSpecialKey(onFunc2, "NumLock", SpecialKeyModifier::Alt),
              (KeyLines{"abc", "def<AltNumLock>", 1}));
    EXPECT_EQ(addSpecialKey({"abc", "def", 0}, "Pad +", SpecialKeyModifier::Ctrl),
              (KeyLines{"abc<CtrlPad +>", "def", 0}));
    EXPECT_EQ(addSpecialKey(onFunc2, "FUNC2_TOGGLE", SpecialKeyModifier::None),
              (KeyLines{"<FUNC2_TOGGLE>", "<FUNC2_TOGGLE>", 0}));
}

// Only what the line tests cannot reach: an empty key is not restored, an empty line
// never asks for the whole key, and a caret or selection past the end stops there.
TEST(DecideLineKey, ChoosesWhatTheKeyDoes) {
    EXPECT_FALSE(mayRestoreKey(7, UndoKeyRec{7, "", ""}) || mayRestoreKey(8, {7, "a", ""}));
    using Action = LineKeyDecision::Action;
    const struct {
        LineKey key;
        const char* text;
        int caret;
        int selection;
        Action action;
        LineEdit edit;
    } cases[] = {
        {LineKey::Delete, "abc", 2, 0, Action::SetText, {"abc", 2, false}},
        {LineKey::Delete, "", 0, 0, Action::SetText, {"", 0, false}},
        {LineKey::Delete, "a<Tab>b", 1, 5, Action::SetText, {"ab", 1, true}},
        {LineKey::Backspace, "abcd", 2, 99, Action::SetText, {"ab", 2, true}},
        {LineKey::Backspace, "ab", 1, 0, Action::SetText, {"ab", 1, false}},
        {LineKey::Delete, "abc", 9, 0, Action::AskDeleteWholeKey, {}},
        {LineKey::Other, "abc", 1, 1, Action::PassToLine, {}},
    };
    for (const auto& c : cases) {
        const LineKeyDecision d = decideLineKey(c.key, c.text, c.caret, c.selection, false);
        EXPECT_EQ(d.action, c.action) << c.text << " caret " << c.caret;
        EXPECT_EQ(d.touchesKey, c.key != LineKey::Delete);
        EXPECT_EQ(d.edit, c.edit);
    }
}

// Key strings show as text of the system's 8-bit code page and come back byte for byte,
// also bytes the code page has no character for; a character it has no byte for is
// refused. On Windows the code pages' own tables decide.
TEST(KeyText, ShowsTheCodePageAndGivesBackTheSameBytes) {
    const struct {
        unsigned codePage;                 // Windows only
        std::optional<std::string> bytes;  // none: the text is refused
        const char16_t* text;              // null: only the way back is checked
    } cases[] = {
#ifdef _WIN32
        {1252, "\x80 5<Enter>\x81", u"\u20ac 5<Enter>\u0081"},
        {1255, "\xF9\xEC\xE5\xED", u"\u05e9\u05dc\u05d5\u05dd"},
        {1255, "\xFF\xD9\xCA", nullptr},
        {1251, "\xC6", u"\u0416"},
        {932, "\x82\xA0<\x82<", u"\u3042<\uf782<"},
        {1252, std::nullopt, u"a\u0416b"},
        {932, std::nullopt, u"\u05e9"},
    };
    const auto shown = [](unsigned cp, std::string_view b) { return keyText(b, cp); };
    const auto taken = [](unsigned cp, const QString& t) { return keyBytes(t, cp, nullptr); };
#else
        {0, "\xE9\x80<Enter>\xFF", u"\u00e9\u0080<Enter>\u00ff"},
        {0, std::nullopt, u"a\u20acb"},
    };
    const auto shown = [](unsigned, std::string_view b) { return keyText(b); };
    const auto taken = [](unsigned, const QString& t) { return keyBytes(t); };
#endif
    for (const auto& c : cases) {
        const QString text = c.text ? QString::fromUtf16(c.text) : shown(c.codePage, *c.bytes);
        if (c.bytes) {
            EXPECT_EQ(shown(c.codePage, *c.bytes), text) << c.codePage;
        }
        EXPECT_EQ(taken(c.codePage, text), c.bytes) << c.codePage;
    }
    // Outside the Basic Multilingual Plane, on every code page.
    EXPECT_EQ(keyBytes(QString::fromUtf16(u"\U0001F600")), std::nullopt);
}

// The outcome file is two CR LF lines over whatever was there, or quietly nothing where no
// file can be.
TEST(BatchReporterTest, FailureGoesToTheOutcomeFileAndStandardError) {
    test::TempDir dir;
    ProgramState state;
    state.ErrorFilePath = dir.write(
        "QK750.ERR", "ERR_SETUP_FILE_NOT_FOUND\r\n/a/path/longer/than/the/new/detail.ini\r\n");
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
    EXPECT_EQ(WriteErrorFile(dir.path("new.ERR"), "OK", "x") + "|" +
                  WriteErrorFile(dir.path("missing/QK750.ERR"), "OK", "x"),
              "|No such file or directory");
    EXPECT_FALSE(std::filesystem::exists(dir.path("missing")));
}

TEST(ParseCliOptions, SeparatesOurOptionsFromTheParameters) {
    CliParseResult r =
        parseCliOptions({"/B", "--trace", "--simulate=mem.bin", "shop.ini", "--image=out.bin",
                         "/I=k.dat", "--list-devices", "--legends=s.pdf"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.options.parameters, (std::vector<std::string>{"/B", "shop.ini", "/I=k.dat"}));
    EXPECT_TRUE(r.options.trace && r.options.simulate && r.options.image && r.options.listDevices &&
                r.options.legends);
    EXPECT_FALSE(r.options.help);
    EXPECT_EQ(r.options.simulateFile + "|" + r.options.imageFile + "|" + r.options.legendsFile,
              "mem.bin|out.bin|s.pdf");

    // "/?" asks for the help wherever it stands, and the editor does not open.
    std::ostringstream out, err;
    const InteractiveRun editor = [](ProgramState&, const CliOptions&) { return 9; };
    EXPECT_EQ(runCli({"shop.ini", "/?"}, out, err, editor), 0);
    EXPECT_EQ(out.str(), usageText());

    // A "--" parameter is never a file name, so none of these may reach ParseCommandLine.
    for (const char* bad : {"--", "--bogus", "--image", "--image=", "--simulate=", "--help=x",
                            "--IMAGE=x.bin", "--trace=1", "--legends="}) {
        EXPECT_FALSE(parseCliOptions({"shop.ini", bad}).ok()) << bad;
    }
}

// The texts are what operators and scripts reading the outcome file see; the detail line
// names the key only for a key that is too long, whatever entry a memory-full error hit.
TEST(DescribeImageFailure, GivesTextCodeAndDetail) {
    const std::string file = "/srv/setups/shop.ini";
    const std::pair<ImageResult, std::string> cases[] = {
        {{ImageError::KeyTooLong, 12, 2, 40},
         "Key 12 is too long !! Reduce length of key...|ERR_KEY_LEN|Key 12"},
        {{ImageError::PreambleTooLong, 85, 1, 1},
         "MCR Preamble is too long !! Reduce length of preamble...|ERR_MCR_PREAMBLE_LEN|" + file},
        {{ImageError::PostambleTooLong, 86, 1, 1},
         "MCR Postamble is too long !! Reduce length of postamble...|ERR_MCR_POSTAMBLE_LEN|" +
             file},
        {{ImageError::MemoryFull, 40, 2, 1695},
         "QK750 Memory full!! Reduce length of keys...|ERR_MEMORY_FULL|" + file},
    };
    for (const auto& [result, expected] : cases) {
        const ImageFailureReport r = describeImageFailure(result, file);
        EXPECT_EQ(r.message + "|" + r.code + "|" + r.detail, expected);
    }
    EXPECT_TRUE(describeImageFailure(ImageResult{}, file).code.empty());
}

// The setup as the dialogs show and gather it, keys replaced by a DAT file named on the
// command line or as the setup itself; what a previous session left is reset.
TEST(InitialLoad, DatReplacesKeysAfterTheIniLoadAndMcrIsGathered) {
    test::TempDir dir;
    dir.write("shop.ini",
              "[Keys]\r\nKey1=abc\r\nKey2=xyz\r\nKey2_2=<F1>\r\n"
              "[Mcr]\r\nMcrSetupMode=3\r\nTransmitChecksum=1\r\nMcrDelay=0\r\n"
              "PreambleString=<F8>\r\n");
    dir.write("keys.dat", "1,1,1,q\r\n7,12,2,[Spc]\r\n");
    const struct {
        const char* setupFile;
        const char* datFile;
        const char* finalName;
        SetupRecType mcr;  // BuiltIn, TransmitChecksum, BF, Locked, mode, pre, post, delay
    } cases[] = {
        {"shop.ini", "keys.dat", "shop.ini", {true, false, false, false, 3, "<F8>", "", 5}},
        {"keys.dat", "ignored.dat", "keys.INI", {false, false, false, false, 0, "", "", 5}},
        // The reader's default mode 1 is a built-in mode once shown.
        {"QK750.INI", "", "QK750.INI", {true, false, false, false, 1, "", "", 5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setupFile);
        ProgramState state;
        state.ProgrammingOk = state.Globals.StopWaiting = true;
        state.Globals.EditTarget = kEditPostamble;
        state.SetupFileName = dir.path(c.setupFile);
        state.DatImportPath = *c.datFile ? dir.path(c.datFile) : "";
        const LoadResult result = InitialLoad(state);
        EXPECT_FALSE(result.kbdImport);
        EXPECT_EQ(state.SetupFileName, dir.path(c.finalName));
        EXPECT_EQ(state.Setup.Mcr, c.mcr);
        if (*c.datFile) {
            EXPECT_EQ(state.Setup.KeyStrings[1] + state.Setup.KeyStrings[2] +
                          state.Setup.Func2Strings[2] + state.Setup.Func2Strings[84],
                      "q<Space>");
        }
        EXPECT_FALSE(state.ProgrammingOk || state.Globals.StopWaiting);
        EXPECT_EQ(state.Globals.EditTarget, kEditKeyLines);
    }
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"keys.dat", "shop.ini"}));  // no twin yet
}

SetupRecType mcr(bool builtIn, bool checksum, bool bf, std::int32_t mode, std::int32_t delay) {
    return SetupRecType{builtIn, checksum, bf, false, mode, "", "", delay};
}

// A built-in mode (1-11) wins over the file's BuiltIn_Setup, and checking the built-in box
// clears both checksum boxes. Outside the list the box is checked (checksums cleared) but
// no entry is selected; 0 and 255 mean no built-in mode and leave the checksums as loaded.
// Only a delay of 0 is replaced. What is gathered comes through a second round unchanged.
TEST(McrRoundTrip, GathersWhatTheDialogsShow) {
    const struct {
        SetupRecType loaded;
        SetupRecType gathered;
    } cases[] = {
        {mcr(false, true, true, 3, 7), mcr(true, false, false, 3, 7)},
        {mcr(true, true, false, 11, 9), mcr(true, false, false, 11, 9)},
        {mcr(true, true, true, 12, 5), mcr(false, false, false, 0, 5)},
        {mcr(false, true, true, 1000, 5), mcr(false, false, false, 0, 5)},
        {mcr(true, true, true, 255, 5), mcr(false, true, true, 0, 5)},
        {mcr(true, true, false, 0, 5), mcr(false, true, false, 0, 5)},
        {mcr(false, false, false, 0, 0), mcr(false, false, false, 0, 5)},
        {mcr(false, false, false, 0, -3), mcr(false, false, false, 0, -3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mcrAsShownAndGathered(c.loaded), c.gathered)
            << "mode " << c.loaded.McrSetupMode << " delay " << c.loaded.McrDelay;
        EXPECT_EQ(mcrAsShownAndGathered(c.gathered), c.gathered);
    }
}

// A wait ends, never before its deadline, and runs what the reader thread posted
// meanwhile. (On Windows a wait whose own timer was its last event once never ended.)
TEST(QtProtocolWaits, EndAtTheDeadlineAndRunPostedWork) {
    int argc = 1;
    char name[] = "qt_event_loop_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QtProtocolWaits waits;
    QtUiDispatcher dispatcher;
    bool ran = false;
    std::thread([&] { dispatcher.post([&ran] { ran = true; }); }).join();
    for (const int ms : {1, 6, 30}) {
        const auto start = std::chrono::steady_clock::now();
        waits.pumpedWait(ms);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ms));
    }
    EXPECT_TRUE(ran);
}

// The log's columns stay columns whatever the detail holds; a box's text goes on one line.
// No keyboard programmed is no success.
TEST(RollOutLog, LineAndMessageFormsAndExitCode) {
    std::tm time{};
    time.tm_year = 126, time.tm_mon = 11, time.tm_mday = 9, time.tm_hour = 8, time.tm_min = 5;
    time.tm_sec = 7;
    EXPECT_EQ(RollOutLogLine(time, {12, "ERR_USB_SEND", "/srv/a\tb\r\nc.ini", "", 0.004}),
              "2026-12-09T08:05:07\t12\tERR_USB_SEND\t/srv/a b  c.ini\t0.00");
    EXPECT_EQ(OneLine(ReceiveErrorText(32)),
              "Error receiving data from USB QK750 Memory #32 !! Check connection.");
    EXPECT_EQ(RollOutResult{}.exitCode(), 1);
}

// Ctrl+C and SIGTERM (Windows: the console's Ctrl+C) reach the event loop as stop requests
// instead of ending the process, and have their usual effect again after.
TEST(StopRequests, ArriveOnTheEventLoop) {
    int argc = 1;
    char name[] = "stop_requests_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::vector<std::string> seen;
    {
        StopRequests requests([&seen](const std::string& what) { seen.push_back(what); });
#ifdef _WIN32
        // A console of the test's own, so that the event reaches no other process. (Wine 8
        // cannot generate Ctrl+Break.)
        const std::vector<std::string> expected{"Ctrl+C"};
        FreeConsole();
        AllocConsole();
        ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
#else
        const std::vector<std::string> expected{"SIGINT", "SIGTERM"};
        std::raise(SIGTERM);
        std::raise(SIGINT);
#endif
        while (seen.size() < expected.size()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        EXPECT_EQ(seen, expected);
    }
#ifndef _WIN32
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
#endif
}

}  // namespace
}  // namespace qk750
