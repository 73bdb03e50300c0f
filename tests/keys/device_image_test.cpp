#include "keys/device_image.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace qk750 {
namespace {

int entryWord(const DeviceImage& image, int entry, int layer) {
    const int address = EntryAddress(entry, layer);
    return image[address] << 8 | image[address + 1];
}

void expectBytes(const DeviceImage& image, int address, const std::vector<int>& bytes) {
    EXPECT_EQ(std::vector<int>(image.begin() + address, image.begin() + address + bytes.size()),
              bytes)
        << "at " << address;
}

TEST(DeviceImage, EmptySetupGivesTheClearedLayout) {
    SetupRecord setup;
    DeviceImage image;
    image.fill(0x42);
    const ImageResult result = BuildDeviceImage(setup, image);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.setupSize, 1);
    expectBytes(image, 0, {0x00, 0x5A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    for (int k = 1; k <= 86; ++k) {
        EXPECT_EQ(entryWord(image, k, 1), 0xFFFF) << k;
        EXPECT_EQ(entryWord(image, k, 2), k <= 84 ? 0xFFFF : 0xFF00) << k;
    }
    for (int a = 0x160; a < kImageSize; ++a) {
        ASSERT_EQ(image[a], 0xFF) << a;
    }
}

TEST(DeviceImage, HeaderCarriesTheMcrSettings) {
    const struct {
        bool builtIn;
        int mode;
        bool checksum, bf;
        int delay;
        std::vector<int> bytes3to5;
    } cases[] = {
        {true, 11, false, false, 5, {0x0B, 0x00, 0x05}},
        {false, 11, false, false, 5, {0x00, 0x00, 0x05}},
        {true, 1, true, true, 5, {0x01, 0x03, 0x05}},
        {false, 0, true, false, 0, {0x00, 0x01, 0x00}},
        {false, 0, false, true, 300, {0x00, 0x02, 0x2C}},
        {false, 0, false, false, -1, {0x00, 0x00, 0xFF}},
    };
    for (const auto& c : cases) {
        SetupRecord setup;
        setup.Mcr = {c.builtIn, c.checksum, c.bf, false, c.mode, "", "", c.delay};
        DeviceImage image;
        ASSERT_TRUE(BuildDeviceImage(setup, image).ok());
        expectBytes(image, 3, c.bytes3to5);
    }
}

// One-code strings live in the entry itself (a one-code preamble or postamble gets a second
// end mark); longer ones go to the string area in storage order: first-layer keys,
// preamble, postamble, then Func2 strings.
TEST(DeviceImage, StringsAndEntriesFollowTheStorageOrder) {
    SetupRecord setup;
    setup.Func2Strings[1] = "ab";  // stored last
    setup.Mcr.PostambleString = "cd";
    setup.Mcr.PreambleString = "<Enter>";
    setup.KeyStrings[84] = "gh";
    setup.KeyStrings[1] = "abc";  // stored first
    setup.KeyStrings[2] = "a";
    setup.KeyStrings[3] = " \t<Enter>\r\n";
    setup.Func2Strings[4] = " <F8> ";  // blanks compile to nothing
    DeviceImage image;
    const ImageResult result = BuildDeviceImage(setup, image);
    ASSERT_TRUE(result.ok());
    expectBytes(image, 0x160, {0x04, 0x05, 0x06, 0xFF, 0x0A, 0x0B, 0xFF, 0x28, 0xFF, 0xFF});
    for (const auto& [entry, layer, word] : {std::tuple{1, 1, 0x1160},
                                             {2, 1, 0x0004},
                                             {3, 1, 0x0028},
                                             {84, 1, 0x1164},
                                             {85, 1, 0x0167},
                                             {86, 1, 0x016A},
                                             {1, 2, 0x116D},
                                             {4, 2, 0x0041},
                                             {85, 2, 0xFF00}}) {
        EXPECT_EQ(entryWord(image, entry, layer), word) << entry << "/" << layer;
    }
    EXPECT_EQ(result.setupSize, 17);
}

TEST(StoreKeyEntry, NeverWritesPastTheImage) {
    DeviceImage image;
    ClearImage(image);
    int setupSize = 1694;
    EXPECT_FALSE(StoreKeyEntry(image, 1, {0x04, 0x05, 0xFF}, 1, setupSize));
    EXPECT_EQ(setupSize, 1696);
    expectBytes(image, 0x7FD, {0x04, 0x05, 0xFF});
    // A counter left past the end by a failure is refused without writing.
    for (int spent : {1696, 5000}) {
        EXPECT_FALSE(StoreKeyEntry(image, 2, {0x06, 0x07, 0xFF}, 1, spent));
    }
    EXPECT_EQ(image[0x7FF], 0xFF);
    int ok = 1, negative = 0;
    for (const auto& [entry, layer] : {std::pair{0, 1}, {87, 1}, {86, 3}, {1, 0}}) {
        EXPECT_THROW(StoreKeyEntry(image, entry, {0x04, 0xFF}, layer, ok), std::out_of_range);
    }
    EXPECT_THROW(StoreKeyEntry(image, 1, {0x04, 0x05, 0xFF}, 1, negative), std::out_of_range);
}

// Through the build, so the build is shown to normalise before it compiles. The first
// layer decides before the Func2 string is read.
TEST(NormalizeFunc2Keys, Func2KeysTakeOverBothLayers) {
    const struct {
        std::string key, func2, wantKey, wantFunc2;
    } cases[] = {
        {"<ShiftTab><FUNC2_TOGGLE>", "", "<FUNC2_TOGGLE>", "<FUNC2_TOGGLE>"},
        {"<FUNC2_TOGGLE><FUNC2_SHIFT>", "x", "<FUNC2_SHIFT>", "<FUNC2_SHIFT>"},
        {"<FUNC2_SHIFT><FUNC2_TOGGLE>", "x", "<FUNC2_SHIFT>", "<FUNC2_SHIFT>"},
        {"<FUNC2_TOGGLE>", "<FUNC2_SHIFT>", "<FUNC2_TOGGLE>", "<FUNC2_TOGGLE>"},
        {"abc", "x<FUNC2_SHIFT>", "<FUNC2_SHIFT>", "<FUNC2_SHIFT>"},
        {"abc", "FUNC2_TOGGLE", "<FUNC2_TOGGLE>", "<FUNC2_TOGGLE>"},
        {"<func2_toggle>", "<Func2_Shift>", "<func2_toggle>", "<Func2_Shift>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key + " / " + c.func2);
        SetupRecord setup;
        setup.KeyStrings[40] = c.key;
        setup.Func2Strings[40] = c.func2;
        setup.KeyStrings[41] = "untouched";
        DeviceImage image;
        ASSERT_TRUE(BuildDeviceImage(setup, image).ok());
        EXPECT_EQ(setup.KeyStrings[40] + "|" + setup.Func2Strings[40],
                  c.wantKey + "|" + c.wantFunc2);
        EXPECT_EQ(setup.KeyStrings[41], "untouched");
        if (c.wantKey == c.wantFunc2) {
            EXPECT_EQ(entryWord(image, 40, 1), entryWord(image, 40, 2));
        }
    }
}

}  // namespace
}  // namespace qk750
