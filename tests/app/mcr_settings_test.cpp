#include "app/mcr_settings.h"

#include <gtest/gtest.h>

namespace qk750 {
namespace {

SetupRecType mcr(bool builtIn, bool checksum, bool bf, std::int32_t mode, std::int32_t delay) {
    SetupRecType m;
    m.BuiltIn_Setup = builtIn;
    m.TransmitChecksum = checksum;
    m.BF_Checksum = bf;
    m.McrSetupMode = mode;
    m.McrDelay = delay;
    return m;
}

struct RoundTripCase {
    const char* name;
    SetupRecType loaded;
    SetupRecType gathered;
};

class McrRoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(McrRoundTripTest, GathersWhatTheDialogsShow) {
    EXPECT_EQ(mcrAsShownAndGathered(GetParam().loaded), GetParam().gathered);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, McrRoundTripTest,
    testing::Values(
        // A built-in mode wins over the file's BuiltIn_Setup, and checking the built-in box
        // clears both checksum boxes.
        RoundTripCase{"Mode3ClearsChecksums", mcr(false, true, true, 3, 7),
                      mcr(true, false, false, 3, 7)},
        RoundTripCase{"FirstMode", mcr(false, false, true, 1, 5), mcr(true, false, false, 1, 5)},
        RoundTripCase{"LastMode", mcr(true, true, false, 11, 9), mcr(true, false, false, 11, 9)},
        // Outside the list: the box is checked (checksums cleared) but no entry is selected.
        RoundTripCase{"ModeBeyondList", mcr(true, true, true, 12, 5),
                      mcr(false, false, false, 0, 5)},
        RoundTripCase{"NegativeMode", mcr(true, true, true, -1, 5), mcr(false, false, false, 0, 5)},
        // 0 and 255 mean no built-in mode: the checksum boxes stay as loaded.
        RoundTripCase{"Mode255", mcr(true, true, true, 255, 5), mcr(false, true, true, 0, 5)},
        RoundTripCase{"Mode0WithStaleBuiltInFlag", mcr(true, true, false, 0, 5),
                      mcr(false, true, false, 0, 5)},
        // Only a delay of 0 is replaced.
        RoundTripCase{"DelayZero", mcr(false, false, false, 0, 0), mcr(false, false, false, 0, 5)},
        RoundTripCase{"DelayNegative", mcr(false, false, false, 0, -3),
                      mcr(false, false, false, 0, -3)},
        RoundTripCase{"DelayLarge", mcr(false, false, false, 0, 300),
                      mcr(false, false, false, 0, 300)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(McrRoundTrip, KeepsStringsAndLockAsTheyStand) {
    SetupRecType loaded = mcr(false, true, false, 4, 0);
    loaded.PreambleString = " <F8> ";
    loaded.PostambleString = "<Enter>\t";
    loaded.LockedSetup = true;
    const SetupRecType gathered = mcrAsShownAndGathered(loaded);
    EXPECT_EQ(gathered.PreambleString, " <F8> ");
    EXPECT_EQ(gathered.PostambleString, "<Enter>\t");
    EXPECT_TRUE(gathered.LockedSetup);
}

TEST(McrRoundTrip, IsStableOnceGathered) {
    for (std::int32_t mode : {-5, 0, 1, 6, 11, 12, 255, 1000}) {
        const SetupRecType once = mcrAsShownAndGathered(mcr(mode % 2 == 0, true, true, mode, 0));
        EXPECT_EQ(mcrAsShownAndGathered(once), once) << "mode " << mode;
    }
}

}  // namespace
}  // namespace qk750
