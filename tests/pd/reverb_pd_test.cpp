// The reverb blocks inside Pure Data, against the test host.
#include "pd_runner.h"
#include "signals.h"

#include <gtest/gtest.h>

namespace {

using pdtest::Case;
using pdtest::console_has;
using pdtest::expect_same_as_host;
using pdtest::run_in_pd;

std::string banner(const std::string &cls) {
    return "[" + cls + "] version 1.0 by Tavrelle, based on Brevack's freeverb";
}

// Noise with infinities, NaNs and huge samples, which must enter as silence.
std::vector<float> program() {
    return sig::hostile(9000, {sig::kInf, sig::kNaN, -sig::kInf, 1e30f, 2e21f});
}

class ReverbInPd : public testing::TestWithParam<const char *> {};
INSTANTIATE_TEST_SUITE_P(Blocks, ReverbInPd,
                         testing::Values("velmarR~", "velmarL~", "plenthR~", "plenthL~",
                                         "skavelR~", "skavelL~"),
                         [](const auto &i) {
                             std::string n = i.param;
                             return n.substr(0, n.size() - 1);
                         });

TEST_P(ReverbInPd, LoadsAndMatchesTheHostBitForBit) {
    std::string cls = GetParam();
    Case c{cls, program()};
    if (cls.starts_with("velmar")) c.settings = {{1, "", {0.9f}}, {0, "tone", {0.6f}}};
    if (cls.starts_with("plenth")) c.settings = {{0, "decay", {0.2f}}};
    auto run = run_in_pd(c);
    EXPECT_TRUE(console_has(run, banner(cls)));
    expect_same_as_host(c, run);
}

TEST_P(ReverbInPd, BlockSizeOneAtAnotherRate) {
    Case c{GetParam(), sig::noise(4000)};
    c.block = 1;
    c.sample_rate = 48000.0f;
    expect_same_as_host(c, run_in_pd(c));
}

// Pd refuses a typed "dsp" with an error; before the method was marked as the host's
// own, the message reached it without a signal array and Pd crashed.
TEST_P(ReverbInPd, DspTypedIntoAPatchIsRefusedWithoutACrash) {
    std::string cls = GetParam();
    Case c{cls, sig::noise(2000), {{0, "dsp", {}}}};
    auto run = run_in_pd(c);
    std::string refusal = "error: bad arguments for message 'dsp' to object '" + cls + "'";
    EXPECT_TRUE(console_has(run, refusal));
    expect_same_as_host(c, run, refusal);
}

TEST(DampedCombInPd, TestMessagePostsTheCoefficients) {
    Case c{"velmarR~", sig::noise(256), {{1, "", {5.0f}}, {2, "", {-1.0f}}, {0, "test", {}}}};
    auto run = run_in_pd(c);
    EXPECT_TRUE(console_has(run, "feedback is 0.980000"));
    EXPECT_TRUE(console_has(run, "damp is 0.900000"));
    EXPECT_TRUE(console_has(run, "attenuator is 0.100000"));
    expect_same_as_host(c, run);
}

// The runner itself can fail: an unknown class is reported, and two different classes
// do not compare equal.
TEST(PdRunner, CatchesAMissingClassAndADifferentOutput) {
    auto missing = run_in_pd(Case{"tavrelle-no-such~", sig::noise(64)});
    EXPECT_FALSE(missing.created);

    Case damped{"velmarR~", sig::noise(3000)};
    auto run = run_in_pd(damped);
    auto plain = pdtest::run_in_host(Case{"plenthR~", damped.input});
    ASSERT_EQ(run.out.size(), 1u);
    EXPECT_NE(sig::first_difference(run.out[0], plain[0]), -1);
}

} // namespace
