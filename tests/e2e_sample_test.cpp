// The committed sample dump is what its writer program makes, byte for
// byte: regenerate it with build/tests/make_sample_dump after a change.

#include "sample_dump.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

TEST(E2eSample, CommittedSampleEqualsTheWriterOutput)
{
    const classic_dump::bytes made = sample_dump::bytes();
    const std::string committed = tk_test::read_file(VELC_SAMPLE_DUMP);
    EXPECT_LT(made.size(), 64u * 1024u);
    EXPECT_TRUE(committed == std::string(made.begin(), made.end()))
        << "samples/sample.dmp differs from make_sample_dump's output (" << committed.size() << " vs "
        << made.size() << " bytes)";
}
