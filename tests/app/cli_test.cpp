#include "app/cli.h"

#include <gtest/gtest.h>

namespace qk750 {
namespace {

TEST(ParseCliOptions, SeparatesOurOptionsFromTheParameters) {
    CliParseResult r = parseCliOptions(
        {"/B", "--trace", "--simulate=mem.bin", "shop.ini", "--image=out.bin", "/I=k.dat"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.options.parameters, (std::vector<std::string>{"/B", "shop.ini", "/I=k.dat"}));
    EXPECT_TRUE(r.options.trace && r.options.simulate && r.options.image);
    EXPECT_FALSE(r.options.listDevices || r.options.help);
    EXPECT_EQ(r.options.simulateFile + "|" + r.options.imageFile, "mem.bin|out.bin");

    r = parseCliOptions({"--simulate", "--list-devices"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(r.options.simulate && r.options.listDevices && r.options.parameters.empty());
    EXPECT_EQ(r.options.simulateFile, "");

    // A "--" parameter is never a file name, so none of these may reach ParseCommandLine.
    for (const char* bad : {"--", "--bogus", "--image", "--image=", "--simulate=", "--help=x",
                            "--IMAGE=x.bin", "--trace=1"}) {
        EXPECT_FALSE(parseCliOptions({"shop.ini", bad}).ok()) << bad;
    }
}

}  // namespace
}  // namespace qk750
