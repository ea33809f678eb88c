// duck~, snarvel~ and damp~ inside Pure Data, against the test host and against
// figures of their own.
#include "pd_runner.h"
#include "signals.h"

#include <gtest/gtest.h>

namespace {

using pdtest::Case;
using pdtest::console_has;
using pdtest::expect_same_as_host;
using pdtest::run_in_pd;
using sig::bits;

struct Effect {
    const char *cls;
    const char *banner;
    std::vector<pdtest::Setting> settings; // by inlet and by message
};

void PrintTo(const Effect &e, std::ostream *os) { *os << e.cls; }

const Effect kDuck{"duck~", "[duck~] version 1.0, written by Tavrelle",
                   {{1, "", {0.8f}}, {0, "response", {0.1f}}}};
const Effect kSnarvel{"snarvel~", "[snarvel~] version 1.0 by Tavrelle",
                      {{1, "", {0.7f}}, {0, "noisegate", {0.5f}}}};
const Effect kDamp{"damp~", "[damp~] version 1.0 by Tavrelle", {{1, "", {0.8f}}}};

// Loud noise with infinities, NaNs and huge samples.
std::vector<float> program() {
    return sig::hostile(9000, {sig::kInf, sig::kNaN, -sig::kInf, 1e30f, 1e19f}, 89);
}

class EffectsInPd : public testing::TestWithParam<std::tuple<Effect, float>> {};
INSTANTIATE_TEST_SUITE_P(
    Classes, EffectsInPd,
    testing::Combine(testing::Values(kDuck, kSnarvel, kDamp), testing::Values(44100.0f, 48000.0f)),
    [](const auto &i) {
        std::string n = std::get<0>(i.param).cls;
        return n.substr(0, n.size() - 1) + std::to_string(static_cast<int>(std::get<1>(i.param)));
    });

TEST_P(EffectsInPd, LoadsAndMatchesTheHostBitForBit) {
    auto [effect, sr] = GetParam();
    Case c{effect.cls, program(), effect.settings};
    c.sample_rate = sr;
    auto run = run_in_pd(c);
    EXPECT_TRUE(console_has(run, effect.banner));
    expect_same_as_host(c, run);
}

TEST_P(EffectsInPd, BlockSizeOne) {
    auto [effect, sr] = GetParam();
    Case c{effect.cls, sig::noise(3000), effect.settings};
    c.sample_rate = sr;
    c.block = 1;
    expect_same_as_host(c, run_in_pd(c));
}

// In a subpatch upsampled by 2, every effect follows its signals' rate, so its output
// differs from what it gives at Pd's rate.
TEST_P(EffectsInPd, UpsampledSubpatch) {
    auto [effect, sr] = GetParam();
    Case c{effect.cls, sig::noise(4000, 0.8f), effect.settings};
    c.sample_rate = sr;
    c.upsample = 2;
    auto run = run_in_pd(c);
    expect_same_as_host(c, run);
    Case plain = c;
    plain.upsample = 1;
    auto at_pd_rate = pdtest::run_in_host(plain);
    ASSERT_EQ(run.out.size(), 1u);
    EXPECT_NE(sig::first_difference(run.out[0], at_pd_rate[0]), -1);
}

TEST(DuckInPd, FirstSampleAndBypass) {
    Case c{"duck~", sig::noise(1000)};
    auto run = run_in_pd(c);
    ASSERT_EQ(run.out.size(), 1u);
    EXPECT_EQ(bits(run.out[0][0]), bits(1.0f - 0.99971658f)) << "1 - coef at the default response";

    Case bypassed{"duck~", sig::noise(1000), {{1, "", {1.0f}}, {0, "bypass", {1.0f}}}};
    run = run_in_pd(bypassed);
    ASSERT_EQ(run.out.size(), 1u);
    for (float v : run.out[0]) ASSERT_EQ(bits(v), bits(1.0f));
    expect_same_as_host(bypassed, run);
}

TEST(SnarvelInPd, PassesTheInputAtMixZeroAndFlipsAtFullMix) {
    auto input = sig::noise(2000, 2.0f);
    Case dry{"snarvel~", input};
    auto run = run_in_pd(dry);
    ASSERT_EQ(run.out.size(), 1u);
    EXPECT_EQ(sig::first_difference(run.out[0], input), -1);
    expect_same_as_host(dry, run);

    Case full{"snarvel~", std::vector<float>(500, 1.0f), {{0, "mix", {1.0f}}}};
    run = run_in_pd(full);
    ASSERT_EQ(run.out.size(), 1u);
    EXPECT_EQ(bits(run.out[0][0]), bits(-0.11f));
    EXPECT_EQ(bits(run.out[0][1]), bits(-0.109373107f));
    EXPECT_EQ(bits(run.out[0][2]), bits(-0.108749777f));
    expect_same_as_host(full, run);
}

TEST(DampInPd, OpenFilterImpulse) {
    Case c{"damp~", sig::impulse(500), {{0, "tone", {1.0f}}}};
    auto run = run_in_pd(c);
    ASSERT_EQ(run.out.size(), 1u);
    EXPECT_EQ(bits(run.out[0][0]), 0u);
    EXPECT_EQ(bits(run.out[0][1]), bits(1.0f));
    EXPECT_NEAR(run.out[0][2], -0.4f, 2e-7f);
    EXPECT_NEAR(run.out[0][3], 0.56f, 2e-7f);
    expect_same_as_host(c, run);
}

} // namespace
