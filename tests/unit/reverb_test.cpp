// The comb banks and the diffusers, driven through the test host as Pd drives them.
#include "host.h"
#include "signals.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using sig::bits;
using sig::first_difference;

constexpr std::array<int, 8> kCombR = {1139, 1211, 1300, 1379, 1445, 1514, 1580, 1640};
constexpr std::array<int, 8> kCombL = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr float kInputGain = 0.015f;

std::vector<float> render(const char *cls, const std::vector<float> &input, int block = 64,
                          std::vector<std::pair<std::string, float>> settings = {},
                          bool in_place = false) {
    host::Object obj(cls);
    for (auto &[sel, v] : settings) EXPECT_TRUE(obj.message(sel, {v}));
    obj.dsp(44100.0f, block, in_place);
    auto out = obj.run(input);
    out.resize(input.size());
    return out;
}

// ---- damped comb bank ------------------------------------------------------------

struct Channel {
    const char *damped;
    const char *plain;
    const char *diffuser;
    std::array<int, 8> combs;
};
void PrintTo(const Channel &c, std::ostream *os) { *os << c.damped << " " << c.plain << " " << c.diffuser; }

const Channel kRight{"velmarR~", "plenthR~", "skavelR~", kCombR};
const Channel kLeft{"velmarL~", "plenthL~", "skavelL~", kCombL};

class Channels : public testing::TestWithParam<Channel> {};
INSTANTIATE_TEST_SUITE_P(RL, Channels, testing::Values(kRight, kLeft),
                         [](const auto &i) { return i.index == 0 ? "Right" : "Left"; });

TEST_P(Channels, DampedImpulseFirstReachesTheOutputOneSampleAfterTheShortestComb) {
    const int first = GetParam().combs[0] + 1;
    auto out = render(GetParam().damped, sig::impulse(first + 2));
    for (int i = 0; i < first; i++) ASSERT_EQ(bits(out[i]), 0u) << "sample " << i;
    const float echo = 0.37f * kInputGain;
    EXPECT_EQ(bits(out[first]), bits(echo));
    EXPECT_EQ(bits(out[first + 1]), bits(0.63f * echo)) << "the lowpass keeps 0.63 of its state";
}

TEST_P(Channels, SilenceGivesExactZeros) {
    for (const char *cls : {GetParam().damped, GetParam().plain, GetParam().diffuser}) {
        auto out = render(cls, std::vector<float>(20000, 0.0f));
        EXPECT_EQ(first_difference(out, std::vector<float>(20000, 0.0f)), -1) << cls;
    }
}

// With "tone" above 1 the lowpass only delays: the damped bank is the plain bank one
// sample later, whatever the decay.
TEST_P(Channels, OpenDampedBankIsThePlainBankOneSampleLate) {
    auto input = sig::noise(6000);
    for (float decay : {0.0f, 0.5f, 1.0f}) {
        auto damped = render(GetParam().damped, input, 64, {{"decay", decay}, {"tone", 2.0f}});
        auto plain = render(GetParam().plain, input, 64, {{"decay", decay}});
        damped.erase(damped.begin());
        plain.pop_back();
        EXPECT_EQ(first_difference(damped, plain), -1) << "decay " << decay;
    }
}

// The second pass through comb 1 of the plain bank carries feedback x 0.015.
float second_echo(const Channel &ch, std::vector<std::pair<std::string, float>> settings) {
    const int at = 2 * ch.combs[0];
    return render(ch.plain, sig::impulse(at + 1), 64, settings)[at];
}

TEST_P(Channels, PlainImpulseEchoesAtEveryCombAndComesBackScaledByTheFeedback) {
    const Channel &ch = GetParam();
    const int second = 2 * ch.combs[0];
    auto out = render(ch.plain, sig::impulse(second + 1));
    for (int i = 0; i < second; i++) {
        bool echo = std::find(ch.combs.begin(), ch.combs.end(), i) != ch.combs.end();
        ASSERT_EQ(bits(out[i]), echo ? bits(kInputGain) : 0u) << "sample " << i;
    }
    EXPECT_EQ(bits(out[second]), bits(0.84f * kInputGain));
}

TEST_P(Channels, DecayMapsOntoFeedbackFromPointSevenToPointNineEight) {
    const Channel &ch = GetParam();
    EXPECT_EQ(bits(second_echo(ch, {{"decay", -3.0f}})), bits(0.7f * kInputGain));
    EXPECT_EQ(bits(second_echo(ch, {{"decay", 5.0f}})), bits(0.98f * kInputGain));
    EXPECT_EQ(bits(second_echo(ch, {{"decay", 1.0f}})), bits(0.98f * kInputGain));
    EXPECT_EQ(bits(second_echo(ch, {{"decay", 0.5f}})), bits(0.84f * kInputGain));
    EXPECT_EQ(bits(second_echo(ch, {{"decay", 0.25f}})), bits((0.7f + 0.07f) * kInputGain));
    EXPECT_EQ(bits(second_echo(ch, {{"decay", 0.0f}, {"decay", sig::kNaN}})),
              bits(0.7f * kInputGain))
        << "a NaN decay is ignored";
}

TEST_P(Channels, DefaultsAreWhatDecayHalfAndTonePointThreeGive) {
    for (const char *cls : {GetParam().damped, GetParam().plain}) {
        host::Object fresh(cls), set(cls);
        set.message("decay", {0.5f});
        set.message("tone", {0.3f}); // refused by the plain bank, which has no tone
        EXPECT_EQ(fresh.record_bytes(), set.record_bytes()) << cls;
    }
}

TEST_P(Channels, FloatInletsDeliverTheirSelectors) {
    const Channel &ch = GetParam();
    host::Object by_inlet(ch.damped), by_message(ch.damped);
    by_inlet.inlet_float(1, 0.1f);
    by_inlet.inlet_float(2, 0.8f);
    by_message.message("decay", {0.1f});
    by_message.message("tone", {0.8f});
    EXPECT_EQ(by_inlet.record_bytes(), by_message.record_bytes());
}

// The first two samples of comb 1's response are atten x 0.015 and then damp times that.
std::pair<float, float> damped_echo(const Channel &ch, std::vector<float> tones) {
    const int at = ch.combs[0] + 1;
    std::vector<std::pair<std::string, float>> settings;
    for (float t : tones) settings.push_back({"tone", t});
    auto out = render(ch.damped, sig::impulse(at + 2), 64, settings);
    return {out[at], out[at + 1]};
}

TEST_P(Channels, ToneMapsOntoDampAndAttenuator) {
    const Channel &ch = GetParam();
    const float dark_atten = std::bit_cast<float>(0x3DCCCCD0u); // 1 - 0.9 in single precision
    auto [a, b] = damped_echo(ch, {-1.0f});
    EXPECT_EQ(bits(a), bits(dark_atten * kInputGain));
    EXPECT_EQ(bits(b), bits(0.9f * a));
    std::tie(a, b) = damped_echo(ch, {2.0f});
    EXPECT_EQ(bits(a), bits(kInputGain));
    EXPECT_EQ(bits(b), 0u) << "damp 0 forgets the state";
    std::tie(a, b) = damped_echo(ch, {0.3f});
    EXPECT_EQ(bits(a), bits(0.37f * kInputGain));
    EXPECT_EQ(bits(b), bits(0.63f * a));
    std::tie(a, b) = damped_echo(ch, {0.5f});
    EXPECT_EQ(bits(a), bits(0.55f * kInputGain));
    EXPECT_EQ(bits(b), bits(0.45f * a));
    std::tie(a, b) = damped_echo(ch, {-1.0f, sig::kNaN});
    EXPECT_EQ(bits(a), bits(dark_atten * kInputGain)) << "a NaN tone is ignored";
}

TEST_P(Channels, TestPostsTheThreeCoefficients) {
    host::Object obj(GetParam().damped);
    host::take_posts();
    EXPECT_TRUE(obj.message("test"));
    EXPECT_EQ(host::take_posts(), (std::vector<std::string>{
                                      "feedback is 0.840000", "damp is 0.630000",
                                      "attenuator is 0.370000"}));
    obj.message("decay", {5.0f});
    obj.message("tone", {-1.0f});
    obj.message("test");
    EXPECT_EQ(host::take_posts(), (std::vector<std::string>{
                                      "feedback is 0.980000", "damp is 0.900000",
                                      "attenuator is 0.100000"}));
}

// ---- every reverb block ----------------------------------------------------------

std::vector<const char *> blocks_of(const Channel &ch) { return {ch.damped, ch.plain, ch.diffuser}; }

// Non-finite and huge samples enter as if they were silence. The comb banks test the
// scaled sample, so 2e21 (x 0.015 = 3e19, below 2^65) still counts there; the
// diffusers test the sample itself.
TEST_P(Channels, HugeAndNonFiniteInputContributesNothing) {
    for (const char *cls : blocks_of(GetParam())) {
        bool comb = cls != GetParam().diffuser;
        std::vector<float> bad = {sig::kInf, -sig::kInf, sig::kNaN, -sig::kNaN,
                                  comb ? 2.5e21f : 3.7e19f, comb ? -1e30f : -4e19f};
        auto hostile = sig::hostile(8000, bad);
        auto clean = sig::hostile(8000, {0.0f});
        EXPECT_EQ(first_difference(render(cls, hostile), render(cls, clean)), -1) << cls;

        float below = comb ? 2e21f : 3e19f; // just below the huge test: processed
        auto loud = sig::hostile(8000, {below});
        auto out = render(cls, loud);
        EXPECT_NE(first_difference(out, render(cls, clean)), -1) << cls;
        for (float v : out) ASSERT_TRUE(std::isfinite(v)) << cls;
    }
}

// ---- diffuser --------------------------------------------------------------------

struct DiffuserTuning {
    const char *cls;
    std::array<int, 4> inversions; // samples of the -1 echoes, shortest stage first
    int half;                      // the -0.5 echo: twice the shortest stage
};

void PrintTo(const DiffuserTuning &t, std::ostream *os) { *os << t.cls; }

class Diffusers : public testing::TestWithParam<DiffuserTuning> {};
INSTANTIATE_TEST_SUITE_P(RL, Diffusers,
                         testing::Values(DiffuserTuning{"skavelR~", {248, 364, 464, 579}, 496},
                                         DiffuserTuning{"skavelL~", {225, 341, 441, 556}, 450}),
                         [](const auto &i) { return i.index == 0 ? "Right" : "Left"; });

TEST_P(Diffusers, ImpulseResponseUpToTheLongestStage) {
    const DiffuserTuning &t = GetParam();
    auto out = render(t.cls, sig::impulse(t.inversions[3] + 1));
    for (int i = 0; i <= t.inversions[3]; i++) {
        float want = 0.0f;
        if (i == 0) want = 1.0f;
        if (std::find(t.inversions.begin(), t.inversions.end(), i) != t.inversions.end())
            want = -1.0f;
        if (i == t.half) want = -0.5f;
        ASSERT_EQ(bits(out[i]), bits(want)) << "sample " << i;
    }
}

} // namespace
