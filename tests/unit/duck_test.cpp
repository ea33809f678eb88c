// duck~: the gain it derives from a side-chain signal, its settings, bypass and the
// sample rates it follows.
#include "rendering.h"
#include "signals.h"

#include <gtest/gtest.h>

#include <math.h>

namespace {

int g_exp_calls = 0;

} // namespace

// The plug-in's exp, counted: it shows when the coefficient is computed.
#ifndef _WIN32
extern "C" double exp(double v) noexcept {
    static auto next = unit::library_definition<double(double)>("exp");
    ++g_exp_calls;
    return next(v);
}
#endif

namespace {

using sig::bits;
using sig::first_difference;

struct DuckFields {
    float bypass, depth, env, coef, response, gain, sr;
};
DuckFields record(const host::Object &obj) {
    return {unit::field(obj, "x_bypass"), unit::field(obj, "x_depth"), unit::field(obj, "x_env"),
            unit::field(obj, "x_coef"), unit::field(obj, "x_response"), unit::field(obj, "x_gain"),
            unit::field(obj, "x_sr")};
}

// The release and smoothing coefficients at 44100 Hz for response 0, 0.3 and 1.
constexpr float kCoef44kFast = 0.99886686f;
constexpr float kCoef44kDefault = 0.99971658f;
constexpr float kCoef44kSlow = 0.99989694f;

// e^(-1/(sr T)) with T = 20 ms + response x 200 ms, as its single-precision steps give it
// and with the exponential in double precision.
float coefficient(float sr, float response) {
    float ms = response * 200.0f + 20.0f;
    float q = -1000.0f / (sr * ms);
    return static_cast<float>(std::exp(static_cast<double>(q)));
}

using unit::Setting;
const unit::Renderer render{"duck~"};

// The smoother stops short of its target by up to an ulp / (1 - coef): from there on its
// step is below half an ulp and rounds away.
float settling_margin(float target, float coef = kCoef44kDefault) {
    return (target - std::nextafter(target, 0.0f)) / (1.0f - coef);
}

float first_output(std::vector<Setting> settings, float sr = 44100.0f, float input = 0.0f) {
    return render({input}, settings, sr, 1)[0];
}

// A new object starts at gain 0 and rises by 1 - coef in its first sample.
TEST(Duck, ResponseSetsTheCoefficientFromTwentyToTwoHundredTwentyMilliseconds) {
    EXPECT_EQ(bits(first_output({})), bits(1.0f - kCoef44kDefault));
    EXPECT_NEAR(first_output({}), 0.00028342009f, 1e-12f);
    EXPECT_EQ(bits(first_output({{"response", 0.0f}})), bits(1.0f - kCoef44kFast));
    EXPECT_EQ(bits(first_output({{"response", 0.3f}})), bits(1.0f - kCoef44kDefault));
    EXPECT_EQ(bits(first_output({{"response", 1.0f}})), bits(1.0f - kCoef44kSlow));
    EXPECT_EQ(bits(first_output({{"response", 5.0f}})), bits(1.0f - kCoef44kSlow));
    EXPECT_EQ(bits(first_output({{"response", -3.0f}})), bits(1.0f - kCoef44kFast));
    EXPECT_EQ(bits(first_output({{"response", 0.0f}, {"response", sig::kNaN}})),
              bits(1.0f - kCoef44kFast))
        << "a NaN response is ignored";

    host::Object obj("duck~");
    obj.message("response", {5.0f});
    EXPECT_EQ(record(obj).response, 1.0f);
    obj.message("response", {-3.0f});
    EXPECT_EQ(record(obj).response, 0.0f);
    obj.message("response", {sig::kNaN});
    EXPECT_EQ(record(obj).response, 0.0f);
}

// The rate of the signal at the last dsp call counts, when the setting arrives and at
// dsp; before the first dsp call, Pd's rate.
TEST(Duck, CoefficientFollowsTheRateOfItsSignal) {
    const float at48k = coefficient(48000.0f, 0.3f);
    EXPECT_NEAR(at48k, std::exp(-1.0 / (48000.0 * 0.08)), 1e-7);
    EXPECT_EQ(bits(first_output({}, 48000.0f)), bits(1.0f - at48k));

    host::set_sample_rate(48000.0f);
    host::Object obj("duck~");
    EXPECT_EQ(record(obj).coef, 0.0f) << "none before dsp or response";
    obj.message("response", {0.3f}); // with DSP off, before any dsp call
    EXPECT_EQ(bits(record(obj).coef), bits(at48k));
    obj.dsp(44100.0f, 64);
    EXPECT_EQ(bits(record(obj).coef), bits(kCoef44kDefault));
    host::set_sample_rate(48000.0f); // Pd's rate changes, the object's signal does not
    obj.inlet_float(2, 1.0f);
    EXPECT_EQ(bits(record(obj).coef), bits(kCoef44kSlow));

    // Inside a subpatch resampled by 2 (or by 1/512) the time constant is what it is at
    // that rate at the top level: response 0 gives 20 ms, not 10 ms.
    for (float signal_sr : {88200.0f, 86.1328125f}) {
        host::set_sample_rate(44100.0f);
        host::Object sub("duck~"), top("duck~");
        for (auto *o : {&sub, &top}) o->message("depth", {1.0f}), o->message("response", {0.0f});
        sub.dsp_resampled(signal_sr, 64);
        top.dsp(signal_sr, 64);
        host::set_sample_rate(44100.0f);
        EXPECT_EQ(bits(record(sub).coef), bits(coefficient(signal_sr, 0.0f)));
        sub.message("response", {0.6f});
        top.message("response", {0.6f});
        auto input = sig::noise(640, 0.5f);
        EXPECT_EQ(first_difference(sub.run(input), top.run(input)), -1) << signal_sr;
    }
}

TEST(Duck, ExpRunsOnlyWhenTheResponseOrTheGraphChanges) {
    TAVRELLE_COUNTS_LIBRARY_CALLS();
    host::Object obj("duck~");
    g_exp_calls = 0;
    obj.message("response", {0.5f});
    EXPECT_EQ(g_exp_calls, 1);
    obj.message("response", {sig::kNaN});
    obj.message("depth", {1.0f});
    EXPECT_EQ(g_exp_calls, 1);
    obj.dsp(44100.0f, 64);
    EXPECT_EQ(g_exp_calls, 2);
    obj.run(sig::noise(6400));
    EXPECT_EQ(g_exp_calls, 2) << "no exp per block";
}

// Above the threshold 1/(20 depth) the gain settles at the reciprocal of the scaled peak.
TEST(Duck, DepthScalesTheInputAgainstTheThreshold) {
    const std::vector<float> half(88200, 0.5f);
    auto ducked = render(half, {{"depth", 1.0f}});
    EXPECT_EQ(bits(ducked[0]), bits(0.1f * (1.0f - kCoef44kDefault))) << "(1 - coef) x 1/10";
    EXPECT_NEAR(ducked.back(), 0.1f, settling_margin(0.1f));
    for (std::size_t i = 1; i < ducked.size(); i++) ASSERT_GE(ducked[i], ducked[i - 1]) << i;

    auto at_half_depth = render(half, {{"depth", 0.5f}});
    EXPECT_EQ(bits(at_half_depth[0]), bits(0.2f * (1.0f - kCoef44kDefault)));
    EXPECT_NEAR(at_half_depth.back(), 0.2f, settling_margin(0.2f));

    EXPECT_EQ(first_difference(render(half, {{"depth", 2.0f}}), ducked), -1) << "depth above 1";
    EXPECT_EQ(first_difference(render(half, {{"depth", 1.0f}, {"depth", sig::kNaN}}), ducked), -1)
        << "a NaN depth is ignored";

    // Depth 0 (new, or clamped from below) never ducks: the gain rises to 1 as for silence.
    auto open = render(std::vector<float>(88200, 0.0f));
    EXPECT_NEAR(open.back(), 1.0f, settling_margin(1.0f));
    EXPECT_LE(open.back(), 1.0f);
    EXPECT_EQ(first_difference(render(half), open), -1);
    EXPECT_EQ(first_difference(render(half, {{"depth", 1.0f}, {"depth", -1.0f}}), open), -1);

    // At depth 1 the threshold is 0.05: a peak there gives gain 1, just above it ducks.
    EXPECT_EQ(first_difference(render(std::vector<float>(88200, 0.05f), {{"depth", 1.0f}}), open), -1);
    EXPECT_LT(render(std::vector<float>(88200, 0.06f), {{"depth", 1.0f}}).back(), 0.84f);
}

TEST(Duck, PeakFollowerIgnoresTheSignAndReleasesAfterTheBurst) {
    auto noise = sig::noise(20000, 0.3f);
    auto negated = noise;
    for (auto &s : negated) s = -s;
    auto out = render(noise, {{"depth", 1.0f}});
    EXPECT_EQ(first_difference(render(negated, {{"depth", 1.0f}}), out), -1);

    // A 0.5 burst of 20 time constants (80 ms each), then silence: the envelope releases
    // and the gain climbs back to 1.
    const int end = 20 * 3528;
    std::vector<float> burst(2 * end, 0.0f);
    std::fill(burst.begin(), burst.begin() + end, 0.5f);
    auto gain = render(burst, {{"depth", 1.0f}});
    EXPECT_NEAR(gain[end - 1], 0.1f, settling_margin(0.1f));
    // One time constant later the envelope is down to 10/e, and the smoother lags behind
    // its target 0.27 at about 0.15.
    EXPECT_GT(gain[end + 3528], 0.12f);
    EXPECT_LT(gain[end + 3528], 0.2f);
    EXPECT_NEAR(gain.back(), 1.0f, settling_margin(1.0f));
}

TEST(Duck, BypassGivesExactlyOneAndRestartsFromSilence) {
    auto input = sig::noise(3000);
    input[100] = sig::kNaN;
    host::Object obj("duck~");
    obj.message("depth", {1.0f});
    obj.dsp(44100.0f, 64);
    obj.run(sig::noise(1000));
    ASSERT_NE(record(obj).gain, 0.0f);

    EXPECT_TRUE(obj.message("bypass", {1.0f}));
    DuckFields on = record(obj);
    EXPECT_EQ(on.bypass, 1);
    EXPECT_EQ(on.env, 0.0f);
    EXPECT_EQ(on.gain, 0.0f);
    auto bypassed = obj.record_bytes();
    for (float v : obj.run(input)) ASSERT_EQ(bits(v), bits(1.0f));
    EXPECT_EQ(obj.record_bytes(), bypassed) << "bypassed blocks change no field";

    obj.message("bypass", {-2.0f}); // any nonzero value: on again, cleared again
    EXPECT_EQ(obj.record_bytes(), bypassed);

    // Off again: the same road as a new object with the same settings.
    obj.message("bypass", {-0.0f});
    EXPECT_EQ(record(obj).bypass, 0);
    auto resumed = obj.run(input);
    resumed.resize(input.size());
    EXPECT_EQ(first_difference(resumed, render(input, {{"depth", 1.0f}})), -1);

    auto running = obj.record_bytes();
    obj.message("bypass", {0.0f}); // off while off
    EXPECT_EQ(obj.record_bytes(), running);
    obj.message("bypass", {sig::kNaN}); // ignored, as every NaN setting is
    EXPECT_EQ(obj.record_bytes(), running);
}

// Infinite, NaN and huge samples count as silence; 1e19 is below 2^65 and counts.
TEST(Duck, HugeInputIsSilence) {
    auto hostile = sig::hostile(8000, {sig::kInf, -sig::kInf, sig::kNaN, 1e30f, -1e30f});
    auto clean = sig::hostile(8000, {0.0f});
    for (float sr : {44100.0f, 48000.0f}) {
        auto out = render(hostile, {{"depth", 1.0f}}, sr);
        EXPECT_EQ(first_difference(out, render(clean, {{"depth", 1.0f}}, sr)), -1) << sr;
    }
    // From the first 1e19 on, the envelope holds near 2e20 and the gain only falls.
    auto loud = render(sig::hostile(8000, {1e19f}), {{"depth", 1.0f}});
    for (int i = 6; i < 8000; i++) ASSERT_LT(loud[i], loud[i - 1]) << i;
    EXPECT_GT(loud.back(), 0.0f);
}

// Blocks of 12 or more run four samples at a time, with the rest of the block one by one:
// every length, and in place, gives what block 1 gives, while the envelope crosses 1
// both ways inside blocks and levels from 2^-63 to 2^-60 and huge ones come in.
TEST(Duck, GroupsOfFourAndTheRestOfABlockGiveTheSameOutput) {
    std::vector<float> input = sig::noise(1000, 0.3f);
    input.resize(3000, 0.0f);
    auto near_threshold = sig::noise(2000, 0.06f, 3);
    input.insert(input.end(), near_threshold.begin(), near_threshold.end());
    const float odd[] = {0x1p-62f, -0x1.fffffep-61f, 0x1p-63f,      0x1p-64f,
                         1e30f,    -sig::kInf,       0x1.fffffep64f};
    for (std::size_t i = 1500; i < input.size(); i += 41)
        input[i] = odd[i % 7];
    const std::vector<Setting> settings = {{"depth", 1.0f}, {"response", 0.0f}};
    auto reference = render(input, settings, 44100.0f, 1);
    for (int block : {12, 13, 14, 15, 17, 64})
        for (bool in_place : {false, true})
            EXPECT_EQ(
                first_difference(render(input, settings, 44100.0f, block, in_place), reference), -1)
                << block << (in_place ? " in place" : "");
}

TEST(Duck, FloatInletsDeliverDepthAndResponse) {
    host::Object by_inlet("duck~"), by_message("duck~");
    by_inlet.inlet_float(1, 0.25f);
    by_inlet.inlet_float(2, 0.75f);
    by_message.message("depth", {0.25f});
    by_message.message("response", {0.75f});
    EXPECT_EQ(by_inlet.record_bytes(), by_message.record_bytes());
    EXPECT_EQ(record(by_inlet).depth, 0.25f * 20.0f);
}

} // namespace
