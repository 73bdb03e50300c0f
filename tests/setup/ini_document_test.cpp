#include "setup/ini_document.h"

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace qk750 {
namespace {

// Lines before any section belong to none.
constexpr std::string_view kSample =
    "Key1=top\r\n; written by hand\r\n[Version]\r\nFileVer=1.00\r\n\r\n"
    "[Keys]\r\nKey1=abc\r\n  Key2 = a=b \r\n; Key3=commented out\r\nstray line\r\nKey4=\r\n\r\n"
    "[ Custom ]\r\nOther=x\r\n";

TEST(IniDocumentTest, FindsValuesOfCrLfAndLfFiles) {
    const struct {
        const char* section;
        const char* key;
        std::optional<std::string> expected;
    } cases[] = {{"keys", "KEY1", "abc"},
                 {"Keys", "Key2", " a=b "},  // everything after the first "=", blanks included
                 {"Keys", "Key4", ""},
                 {"Keys", "Key3", std::nullopt},
                 {"Keys", "FileVer", std::nullopt},
                 {"CUSTOM", "other", "x"},
                 {"", "Key1", std::nullopt}};
    std::string lfOnly(kSample);
    std::erase(lfOnly, '\r');
    for (const std::string& text : {std::string(kSample), lfOnly}) {
        const IniDocument ini = IniDocument::parse(text);
        for (const auto& c : cases) {
            EXPECT_EQ(ini.value(c.section, c.key), c.expected) << c.section << "/" << c.key;
        }
    }
    EXPECT_EQ(IniDocument::parse("[A]\nk=v\nlast").serialize(), "[A]\r\nk=v\r\nlast\r\n");
}

// A changed key keeps its spelling and place; a new key follows its section's last line
// (before blank lines), a new section comes last; the first of repeated names wins.
TEST(IniDocumentTest, SetValueKeepsEverythingElseInPlace) {
    IniDocument ini = IniDocument::parse(kSample);
    EXPECT_EQ(ini.serialize(), kSample);
    ini.setValue("KEYS", "key2", "new");
    ini.setValue("Keys", "Key5", "five");
    ini.setValue("Version", "Extra", "e");
    ini.setValue("Mcr", "McrDelay", "5");
    ini.setValue("Mcr", "BF_Checksum", "0");
    std::string expected(kSample);
    for (const auto& [from, to] : {std::pair{"1.00\r\n", "1.00\r\nExtra=e\r\n"},
                                   {"Key2 = a=b ", "Key2 =new"},
                                   {"Key4=\r\n", "Key4=\r\nKey5=five\r\n"}}) {
        expected.replace(expected.find(from), std::string_view(from).size(), to);
    }
    EXPECT_EQ(ini.serialize(), expected + "[Mcr]\r\nMcrDelay=5\r\nBF_Checksum=0\r\n");

    ini = IniDocument::parse("[A]\r\nk=1\r\nk=2\r\n[B]\r\n[a]\r\nk=3\r\n");
    EXPECT_EQ(ini.value("A", "k"), "1");
    ini.setValue("a", "K", "9");
    EXPECT_EQ(ini.serialize(), "[A]\r\nk=9\r\nk=2\r\n[B]\r\n[a]\r\nk=3\r\n");
}

TEST(IniDocumentTest, LoadReadsFilesAndRefusesWhatIsNotOne) {
    test::TempDir dir;
    IniDocument ini;
    EXPECT_TRUE(ini.load(dir.write("a.ini", "[S]\nk=v\n")));
    EXPECT_EQ(ini.value("s", "K"), "v");
    for (const std::string& notAFile : {dir.path("missing.ini"), dir.path()}) {
        ini = IniDocument::parse("[S]\nk=v\n");
        EXPECT_FALSE(ini.load(notAFile));
        EXPECT_TRUE(ini.isEmpty());
    }
}

}  // namespace
}  // namespace qk750
