#include "app/cli.h"

#include <gtest/gtest.h>

namespace qk750 {
namespace {

TEST(ParseCliOptions, SeparatesOurOptionsFromTheParameters) {
    const CliParseResult r = parseCliOptions(
        {"/B", "--trace", "--simulate=mem.bin", "shop.ini", "--image=out.bin", "/I=k.dat"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.options.parameters, (std::vector<std::string>{"/B", "shop.ini", "/I=k.dat"}));
    EXPECT_TRUE(r.options.trace);
    EXPECT_TRUE(r.options.simulate);
    EXPECT_EQ(r.options.simulateFile, "mem.bin");
    EXPECT_TRUE(r.options.image);
    EXPECT_EQ(r.options.imageFile, "out.bin");
    EXPECT_FALSE(r.options.listDevices);
    EXPECT_FALSE(r.options.help);
}

TEST(ParseCliOptions, SimulateWithoutMemoryFile) {
    const CliParseResult r = parseCliOptions({"--simulate", "--list-devices"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(r.options.simulate);
    EXPECT_EQ(r.options.simulateFile, "");
    EXPECT_TRUE(r.options.listDevices);
    EXPECT_TRUE(r.options.parameters.empty());
}

TEST(ParseCliOptions, RefusesWhatItDoesNotKnow) {
    // A "--" parameter is never a file name, so none of these may reach ParseCommandLine.
    for (const char* bad : {"--", "--bogus", "--image", "--image=", "--simulate=", "--help=x",
                            "--IMAGE=x.bin", "--trace=1"}) {
        const CliParseResult r = parseCliOptions({"shop.ini", bad});
        EXPECT_FALSE(r.ok()) << bad;
    }
}

}  // namespace
}  // namespace qk750
