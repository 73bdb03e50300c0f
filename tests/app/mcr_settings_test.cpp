#include "app/mcr_settings.h"

#include <gtest/gtest.h>

namespace qk750 {
namespace {

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
        {mcr(false, false, true, 1, 5), mcr(true, false, false, 1, 5)},
        {mcr(true, true, false, 11, 9), mcr(true, false, false, 11, 9)},
        {mcr(true, true, true, 12, 5), mcr(false, false, false, 0, 5)},
        {mcr(true, true, true, -1, 5), mcr(false, false, false, 0, 5)},
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

}  // namespace
}  // namespace qk750
