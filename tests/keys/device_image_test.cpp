#include "keys/device_image.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace qk750 {
namespace {

// A key string of `count` lower-case letters compiles to count + 1 bytes.
std::string letters(int count) {
    return std::string(static_cast<std::size_t>(count), 'a');
}

int entryWord(const DeviceImage& image, int entry, int layer) {
    const int address = EntryAddress(entry, layer);
    return image[address] << 8 | image[address + 1];
}

void expectBytes(const DeviceImage& image, int address, const std::vector<int>& bytes) {
    EXPECT_EQ(std::vector<int>(image.begin() + address, image.begin() + address + bytes.size()),
              bytes)
        << "at " << address;
}

SetupRecord emptySetup() {
    SetupRecord setup;
    setup.Mcr.McrDelay = 5;
    return setup;
}

enum Field { Key, Func2, Preamble, Postamble };

std::string& field(SetupRecord& setup, Field which, int key) {
    return which == Key        ? setup.KeyStrings[key]
           : which == Func2    ? setup.Func2Strings[key]
           : which == Preamble ? setup.Mcr.PreambleString
                               : setup.Mcr.PostambleString;
}

TEST(DeviceImage, EmptySetupGivesTheClearedLayout) {
    SetupRecord setup = emptySetup();
    DeviceImage image;
    image.fill(0x42);
    const ImageResult result = BuildDeviceImage(setup, image);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.setupSize, 1);
    expectBytes(image, 0, {0x00, 0x5A, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00});
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
        SetupRecord setup = emptySetup();
        setup.Mcr.BuiltIn_Setup = c.builtIn;
        setup.Mcr.McrSetupMode = c.mode;
        setup.Mcr.TransmitChecksum = c.checksum;
        setup.Mcr.BF_Checksum = c.bf;
        setup.Mcr.McrDelay = c.delay;
        DeviceImage image;
        ASSERT_TRUE(BuildDeviceImage(setup, image).ok());
        expectBytes(image, 3, c.bytes3to5);
    }
}

TEST(DeviceImage, OneCodePreambleIsStoredWithASecondEndMark) {
    SetupRecord setup = emptySetup();
    setup.Mcr.PreambleString = "<Enter>";
    setup.Mcr.PostambleString = " <F8> ";  // not trimmed, but blanks compile to nothing
    DeviceImage image;
    const ImageResult result = BuildDeviceImage(setup, image);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(entryWord(image, 85, 1), 0x0160);  // no key-address flag
    EXPECT_EQ(entryWord(image, 86, 1), 0x0163);
    expectBytes(image, 0x160, {0x28, 0xFF, 0xFF, 0x41, 0xFF, 0xFF});
    EXPECT_EQ(result.setupSize, 7);
    EXPECT_EQ(entryWord(image, 85, 2), 0xFF00);
    EXPECT_EQ(entryWord(image, 86, 2), 0xFF00);
}

// One-code strings live in the entry itself; longer ones go to the string area in
// storage order: first-layer keys, preamble, postamble, then Func2 strings.
TEST(DeviceImage, StringsAndEntriesFollowTheStorageOrder) {
    SetupRecord setup = emptySetup();
    setup.Func2Strings[1] = "ab";  // stored last
    setup.Mcr.PostambleString = "cd";
    setup.Mcr.PreambleString = "ef";
    setup.KeyStrings[84] = "gh";
    setup.KeyStrings[1] = "abc";  // stored first
    setup.KeyStrings[2] = "a";
    setup.KeyStrings[3] = " \t<Enter>\r\n";
    DeviceImage image;
    const ImageResult result = BuildDeviceImage(setup, image);
    ASSERT_TRUE(result.ok());
    expectBytes(image, 0x160, {0x04, 0x05, 0x06, 0xFF, 0x0A, 0x0B, 0xFF});
    EXPECT_EQ(entryWord(image, 1, 1), 0x1160);
    EXPECT_EQ(entryWord(image, 2, 1), 0x0004);
    EXPECT_EQ(entryWord(image, 3, 1), 0x0028);
    EXPECT_EQ(entryWord(image, 84, 1), 0x1164);
    EXPECT_EQ(entryWord(image, 85, 1), 0x0167);
    EXPECT_EQ(entryWord(image, 86, 1), 0x016A);
    EXPECT_EQ(entryWord(image, 1, 2), 0x116D);
    EXPECT_EQ(result.setupSize, 17);
}

TEST(DeviceImage, LengthLimitIs48BytesWithTheEndMark) {
    // clang-format off
    const struct {
        Field field;
        int key;
        ImageError error;
        int entry;
        int layer;
    } cases[] = {
        {Key, 7, ImageError::KeyTooLong, 7, 1}, {Func2, 12, ImageError::KeyTooLong, 12, 2},
        {Preamble, 0, ImageError::PreambleTooLong, 85, 1},
        {Postamble, 0, ImageError::PostambleTooLong, 86, 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        for (const int length : {48, 49}) {
            SCOPED_TRACE(testing::Message() << c.field << " " << length);
            SetupRecord setup = emptySetup();
            field(setup, c.field, c.key) = letters(length - 1);
            DeviceImage image;
            const ImageResult result = BuildDeviceImage(setup, image);
            if (length == 48) {
                EXPECT_TRUE(result.ok());
                EXPECT_EQ(result.setupSize, 1 + length);
                continue;
            }
            EXPECT_EQ(result.error, c.error);
            EXPECT_EQ(result.key, c.entry);
            EXPECT_EQ(result.layer, c.layer);
            EXPECT_EQ(result.setupSize, 1);
        }
    }
}

TEST(DeviceImage, StringAreaHoldsExactly1694Bytes) {
    // 35 strings of 48 bytes and one of 14 fill the area exactly.
    SetupRecord setup = emptySetup();
    for (int k = 1; k <= 35; ++k) {
        setup.KeyStrings[k] = letters(47);
    }
    setup.KeyStrings[36] = letters(13);
    // Entries that need no string area still fit into a full one.
    setup.KeyStrings[37] = "a";
    setup.Func2Strings[84] = "<Enter>";
    DeviceImage image;
    const ImageResult result = BuildDeviceImage(setup, image);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.setupSize, 1695);
    expectBytes(image, 0x7FC, {0x04, 0xFF, 0xFF, 0xFF});  // last string's end mark at 0x7FD
    EXPECT_EQ(entryWord(image, 36, 1), 0x1000 | (0x7FD - 13));
    EXPECT_EQ(entryWord(image, 37, 1), 0x0004);
    EXPECT_EQ(entryWord(image, 84, 2), 0x0028);
}

TEST(DeviceImage, OneByteMoreIsMemoryFull) {
    // 34 strings of 48 bytes leave 62; a 48-byte string (`before`) and one of 15 need 63.
    // clang-format off
    const struct {
        Field before;
        Field failing;
        int key;
        int entry;
        int layer;
    } cases[] = {
        {Key, Key, 36, 36, 1}, {Key, Preamble, 0, 85, 1}, {Preamble, Postamble, 0, 86, 1},
        {Postamble, Func2, 1, 1, 2}, {Postamble, Func2, 84, 84, 2},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        SetupRecord setup = emptySetup();
        for (int k = 1; k <= 34; ++k) {
            setup.KeyStrings[k] = letters(47);
        }
        field(setup, c.before, 35) = letters(47);
        field(setup, c.failing, c.key) = letters(14);
        DeviceImage image;
        const ImageResult result = BuildDeviceImage(setup, image);
        EXPECT_EQ(result.error, ImageError::MemoryFull);
        EXPECT_EQ(result.key, c.entry);
        EXPECT_EQ(result.layer, c.layer);
        EXPECT_EQ(result.setupSize, 1696);
        // The overflowing end mark was written at 0x7FE before the check failed.
        expectBytes(image, 0x7FD, {0x04, 0xFF});
    }
}

TEST(StoreKeyEntry, NeverWritesPastTheImage) {
    DeviceImage image;
    ClearImage(image);
    int setupSize = 1694;
    // The last usable byte, then the check fails on the byte written at 0x7FE.
    EXPECT_FALSE(StoreKeyEntry(image, 1, {0x04, 0x05, 0xFF}, 1, setupSize));
    EXPECT_EQ(setupSize, 1696);
    expectBytes(image, 0x7FD, {0x04, 0x05, 0xFF});

    // A counter left past the end by a failure is refused without writing.
    for (int spent : {1696, 5000}) {
        EXPECT_FALSE(StoreKeyEntry(image, 2, {0x06, 0x07, 0xFF}, 1, spent));
    }
    EXPECT_EQ(image[0x7FF], 0xFF);

    int ok = 1;
    for (const auto& [entry, layer] : {std::pair{0, 1}, {87, 1}, {86, 3}, {1, 0}}) {
        EXPECT_THROW(StoreKeyEntry(image, entry, {0x04, 0xFF}, layer, ok), std::out_of_range);
    }
    int negative = 0;
    EXPECT_THROW(StoreKeyEntry(image, 1, {0x04, 0x05, 0xFF}, 1, negative), std::out_of_range);
}

// Runs through the build, so the build is shown to normalise before it compiles. The
// first layer decides before the Func2 string is read.
TEST(NormalizeFunc2Keys, Func2KeysTakeOverBothLayers) {
    const struct {
        std::string key, func2;
        std::string wantKey, wantFunc2;
    } cases[] = {
        {"<ShiftTab><FUNC2_TOGGLE>", "", "<FUNC2_TOGGLE>", "<FUNC2_TOGGLE>"},
        {"<FUNC2_TOGGLE><FUNC2_SHIFT>", "x", "<FUNC2_SHIFT>", "<FUNC2_SHIFT>"},
        {"<FUNC2_SHIFT><FUNC2_TOGGLE>", "x", "<FUNC2_SHIFT>", "<FUNC2_SHIFT>"},
        {"<FUNC2_TOGGLE>", "<FUNC2_SHIFT>", "<FUNC2_TOGGLE>", "<FUNC2_TOGGLE>"},
        {"abc", "x<FUNC2_SHIFT>", "<FUNC2_SHIFT>", "<FUNC2_SHIFT>"},
        {"abc", "FUNC2_TOGGLE", "<FUNC2_TOGGLE>", "<FUNC2_TOGGLE>"},
        {"<func2_toggle>", "<Func2_Shift>", "<func2_toggle>", "<Func2_Shift>"},
        {"abc", "def", "abc", "def"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key + " / " + c.func2);
        SetupRecord setup = emptySetup();
        setup.KeyStrings[40] = c.key;
        setup.Func2Strings[40] = c.func2;
        setup.KeyStrings[41] = "untouched";
        DeviceImage image;
        ASSERT_TRUE(BuildDeviceImage(setup, image).ok());
        EXPECT_EQ(setup.KeyStrings[40], c.wantKey);
        EXPECT_EQ(setup.Func2Strings[40], c.wantFunc2);
        EXPECT_EQ(setup.KeyStrings[41], "untouched");
        if (c.wantKey == c.wantFunc2) {
            EXPECT_EQ(entryWord(image, 40, 1), entryWord(image, 40, 2));
        }
    }
}

}  // namespace
}  // namespace qk750
