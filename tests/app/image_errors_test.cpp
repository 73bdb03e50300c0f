#include "app/image_errors.h"

#include <gtest/gtest.h>

namespace qk750 {
namespace {

struct FailureCase {
    ImageResult result;
    ImageFailureReport expected;
};

// The texts are what operators and scripts reading the outcome file see; the detail line
// names the key only for a key that is too long, whatever entry a memory-full error hit.
TEST(DescribeImageFailure, GivesTextCodeAndDetail) {
    const std::string file = "/srv/setups/shop.ini";
    const FailureCase cases[] = {
        {{ImageError::KeyTooLong, 12, 2, 40},
         {"Key 12 is too long !! Reduce length of key...", "ERR_KEY_LEN", "Key 12"}},
        {{ImageError::PreambleTooLong, 85, 1, 1},
         {"MCR Preamble is too long !! Reduce length of preamble...", "ERR_MCR_PREAMBLE_LEN",
          file}},
        {{ImageError::PostambleTooLong, 86, 1, 1},
         {"MCR Postamble is too long !! Reduce length of postamble...", "ERR_MCR_POSTAMBLE_LEN",
          file}},
        {{ImageError::MemoryFull, 40, 2, 1695},
         {"QK750 Memory full!! Reduce length of keys...", "ERR_MEMORY_FULL", file}},
    };
    for (const FailureCase& c : cases) {
        const ImageFailureReport report = describeImageFailure(c.result, file);
        EXPECT_EQ(report.message, c.expected.message);
        EXPECT_EQ(report.code, c.expected.code);
        EXPECT_EQ(report.detail, c.expected.detail);
    }
    EXPECT_TRUE(describeImageFailure(ImageResult{}, file).code.empty());
}

}  // namespace
}  // namespace qk750
