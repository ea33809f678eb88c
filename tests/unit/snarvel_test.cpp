// snarvel~: the bit-flipped 8-bit code of each sample, the DC-blocking high-pass, the
// dry/wet mix and the noise gate, and the pass-through at mix 0.
#include "rendering.h"
#include "signals.h"
#include "tavrelle.h"

#include <gtest/gtest.h>

namespace {

using sig::bits;
using sig::first_difference;

struct SnarvelFields {
    float wet, dry, offset, coef, state;
};
SnarvelFields record(const host::Object &obj) {
    return {unit::field(obj, "x_wet"), unit::field(obj, "x_dry"), unit::field(obj, "x_offset"),
            unit::field(obj, "x_coef"), unit::field(obj, "x_state")};
}

constexpr float kWetAtFullMix = 0.005f;
constexpr float kCoef44k = 0.99430096f;
constexpr float kCoef48k = 0.99476403f;

const unit::Renderer render{"snarvel~"};

// At full mix the dry path is 0 and the high-pass starts from 0, so the first output
// sample is the wet gain times the sample's centred, bit-flipped code.
struct Code {
    float input;
    float centred; // the code with bit 5 flipped, less 160
    float noisegate = 0.2f;
};

TEST(Snarvel, QuantisesFlipsBitFiveAndCentresOnSilence) {
    const std::vector<Code> codes = {
        {0.0f, 0.0f},       // code 128
        {1.0f, -22.0f},     // 170
        {-1.0f, -43.0f},    // 85
        {0.5f, 21.0f},      // 149
        {-0.5f, -86.0f},    // 106
        {3.5f, -107.0f},    // 277 wraps to 21
        {-3.5f, 43.0f},     // -21, toward zero, low byte 235
        {10.0f, -150.0f},   // 554 wraps to 42
        {-3.0f, -128.0f},   // 0.202 gives code 0
        {1e30f, 63.0f},     // saturates at 2147483647, low byte 255
        {3e9f, 63.0f},      //   likewise
        {-1e30f, -128.0f},  // saturates at -2147483648, low byte 0
        {-0.000001f, 0.0f}, // inside the default gate's band around silence
        {0.0187f, 0.0f},    //   just inside its upper edge, 0.8 / 42.666
        {0.0188f, 1.0f},    //   just above: code 129
        {-0.0046f, 0.0f},   //   just inside its lower edge, -0.2 / 42.666
        {-0.0047f, -65.0f}, //   just below: code 127
        {-0.000001f, -65.0f, 0.0f}, // with the gate at 0 the smallest negative is code 127
        {0.0f, 1.0f, 1.0f},         // with the gate at 1 silence is code 129
        {-0.5f, -86.0f, -1.0f},     // a gate below 0 is 0
        {0.0f, 1.0f, 5.0f},         // and above 1 is 1
        {-0.000001f, 0.0f, sig::kNaN}, // a NaN gate is ignored: the default stays
    };
    for (float sr : {44100.0f, 48000.0f})
        for (const Code &c : codes) {
            auto out = render({c.input}, {{"noisegate", c.noisegate}, {"mix", 1.0f}}, sr, 1);
            EXPECT_EQ(bits(out[0]), bits(kWetAtFullMix * c.centred))
                << "input " << c.input << " gate " << c.noisegate << " at " << sr;
        }
}

// Constant 1.0 gives a constant code; the high-pass lets its step through and then
// decays by the pole per sample.
TEST(Snarvel, HighPassPoleFollowsTheInputSignalsOwnRate) {
    const std::vector<float> ones(3, 1.0f);
    auto at44k = render(ones, {{"mix", 1.0f}}, 44100.0f, 1);
    EXPECT_EQ(bits(at44k[0]), bits(-0.11f));
    EXPECT_EQ(bits(at44k[1]), bits(-0.109373107f));
    EXPECT_EQ(bits(at44k[2]), bits(-0.108749777f));

    // The same from the signal's rate while sys_getsr says otherwise, both ways round.
    for (auto [signal_sr, system_sr, pole] :
         {std::tuple{44100.0f, 48000.0f, kCoef44k}, std::tuple{48000.0f, 44100.0f, kCoef48k}}) {
        host::set_sample_rate(system_sr);
        host::Object obj("snarvel~");
        obj.message("mix", {1.0f});
        obj.dsp_resampled(signal_sr, 1);
        EXPECT_EQ(bits(record(obj).coef), bits(pole)) << signal_sr;
        auto out = obj.run(ones);
        const float w = kWetAtFullMix * -22.0f;
        const float y1 = pole * w + w;
        EXPECT_EQ(bits(out[0]), bits(w));
        EXPECT_EQ(bits(out[1]), bits(y1 - w)) << signal_sr;
        EXPECT_EQ(bits(out[2]), bits((pole * y1 + w) - y1)) << signal_sr;
    }

    // 1 - pole is 2 pi x 40 Hz / rate: the corner sits near 40 Hz at any rate.
    auto dc = render(std::vector<float>(48000, 1.0f), {{"mix", 1.0f}}, 48000.0f);
    EXPECT_NEAR(dc[1200] / dc[0], std::exp(-2.0 * M_PI * 40.0 * 1200 / 48000.0), 1e-3);
}

TEST(Snarvel, MixBalancesTheWetAndDryPaths) {
    host::Object obj("snarvel~");
    auto rec = [&] { return record(obj); };
    EXPECT_EQ(rec().wet, 0.0f);
    EXPECT_EQ(rec().dry, 1.0f);
    EXPECT_EQ(rec().offset, 128.2f);
    EXPECT_EQ(rec().coef, 0.0f);
    obj.message("mix", {0.5f});
    EXPECT_EQ(rec().wet, 0.0025f);
    EXPECT_EQ(rec().dry, 0.5f);
    obj.message("mix", {2.0f});
    EXPECT_EQ(rec().wet, 0.005f);
    EXPECT_EQ(rec().dry, 0.0f);
    obj.message("mix", {sig::kNaN});
    EXPECT_EQ(rec().wet, 0.005f) << "a NaN mix is ignored";
    EXPECT_EQ(rec().dry, 0.0f);
    obj.message("mix", {-1.0f});
    EXPECT_EQ(rec().wet, 0.0f);
    EXPECT_EQ(rec().dry, 1.0f);
    obj.inlet_float(2, 0.5f);
    EXPECT_EQ(rec().offset, 128.5f);
    obj.inlet_float(1, 0.25f);
    EXPECT_EQ(rec().wet, 0.25f * 0.005f);
    EXPECT_EQ(rec().dry, 0.75f);

    // Half mix, first sample from a cleared high-pass: half the wet code plus half the input.
    auto out = render({1.0f}, {{"mix", 0.5f}}, 44100.0f, 1);
    EXPECT_EQ(bits(out[0]), bits(0.0025f * -22.0f + 0.5f));
}

// Inputs whose codes are known, through the high-pass at 44100 Hz: each output is the
// new integrator value plus the dry sample, less the old integrator value, in that order.
TEST(Snarvel, OutputAddsTheDryPathBeforeTheHighPassDifference) {
    const std::vector<std::pair<float, float>> coded = {
        {1.0f, -22.0f}, {-1.0f, -43.0f}, {0.5f, 21.0f}, {-0.5f, -86.0f},
        {0.0f, 0.0f},   {3.5f, -107.0f}, {-3.5f, 43.0f}};
    std::vector<float> input;
    for (int k = 0; k < 40; k++) input.push_back(coded[(k * 3) % coded.size()].first);
    for (float mix : {0.3f, 0.5f, 0.9f}) {
        const float wet = mix * 0.005f, dry = 1.0f - mix;
        auto out = render(input, {{"mix", mix}}, 44100.0f, 8);
        float y = 0.0f;
        for (std::size_t i = 0; i < input.size(); i++) {
            float c = coded[(i * 3) % coded.size()].second;
            float next = kCoef44k * y + wet * c;
            ASSERT_EQ(bits(out[i]), bits((next + dry * input[i]) - y)) << "mix " << mix << " at " << i;
            y = next;
        }
    }
}

TEST(Snarvel, MixZeroPassesTheInputBitForBit) {
    auto input = sig::hostile(4000, {sig::kNaN, -sig::kNaN, sig::kInf, -sig::kInf, 1e-40f, -0.0f,
                                      std::bit_cast<float>(0x7fc01234u)});
    for (float sr : {44100.0f, 48000.0f})
        for (int block : {1, 64, 100})
            for (bool in_place : {false, true}) {
                EXPECT_EQ(first_difference(render(input, {}, sr, block, in_place), input), -1)
                    << "new object, block " << block << (in_place ? " in place" : "");
                auto out = render(input, {{"mix", 1.0f}, {"mix", 0.0f}}, sr, block, in_place);
                EXPECT_EQ(first_difference(out, input), -1) << "mix 0";
            }
}

// Mix 0 pauses the high-pass with its state; a negative mix also clears it.
TEST(Snarvel, MixZeroKeepsTheHighPassAndNegativeMixClearsIt) {
    auto a = sig::noise(1000, 0.8f, 1), b = sig::noise(640, 0.8f, 2), c = sig::noise(1000, 0.8f, 3);
    for (float sr : {44100.0f, 48000.0f}) {
        host::Object paused("snarvel~"), straight("snarvel~"), cleared("snarvel~"), fresh("snarvel~");
        for (auto *o : {&paused, &straight, &cleared, &fresh}) {
            o->message("mix", {0.6f});
            o->dsp(sr, 64);
        }
        for (auto *o : {&paused, &straight, &cleared}) o->run(a);
        ASSERT_NE(record(paused).state, 0.0f);

        paused.message("mix", {0.0f});
        const float kept = record(paused).state;
        EXPECT_EQ(first_difference(paused.run(b), b), -1);
        EXPECT_EQ(record(paused).state, kept);
        cleared.message("mix", {-1.0f});
        EXPECT_EQ(record(cleared).state, 0.0f);
        EXPECT_EQ(first_difference(cleared.run(b), b), -1);

        paused.message("mix", {0.6f});
        cleared.message("mix", {0.6f});
        EXPECT_EQ(first_difference(paused.run(c), straight.run(c)), -1) << sr;
        EXPECT_EQ(first_difference(cleared.run(c), fresh.run(c)), -1) << sr;
    }
}

// Infinities code like the integer limits, NaN like 0: the state stays finite, and only
// the sample itself comes out as NaN (its dry product is NaN even at dry 0).
TEST(Snarvel, NonFiniteInputCodesLikeItsSaturatedValue) {
    auto rest = sig::noise(500, 0.9f);
    for (auto [bad, same] : {std::pair{sig::kNaN, -3.0f}, std::pair{sig::kInf, 1e30f},
                             std::pair{-sig::kInf, -1e30f}})
        for (float mix : {1.0f, 0.4f}) {
            auto with = [&](float first) {
                std::vector<float> v = {first};
                v.insert(v.end(), rest.begin(), rest.end());
                return v;
            };
            auto out = render(with(bad), {{"mix", mix}});
            auto ref = render(with(same), {{"mix", mix}});
            EXPECT_TRUE(std::isnan(out[0]) || (std::isinf(out[0]) && mix < 1.0f)) << bad;
            out.erase(out.begin());
            ref.erase(ref.begin());
            EXPECT_EQ(first_difference(out, ref), -1) << bad << " mix " << mix;
            for (float v : out) ASSERT_TRUE(std::isfinite(v));
        }
}

// The centred, bit-flipped code of an input at the default offset, as described.
float code_of(float s) {
    auto q = static_cast<std::int32_t>(128.2f + s * 42.666f);
    return static_cast<float>(static_cast<std::int32_t>((q & 0xFF) ^ 0x20) - 160);
}

// The high-pass through a decay into silence at low rates and long blocks, as Pd computes
// it with the FPU flushing subnormal results to zero, and with the state's guard at each
// block's end; the object runs with flushing off and must not touch a subnormal number.
TEST(Snarvel, DecaysAsTheFlushingFpuComputesIt) {
    auto input = sig::noise(3000, 0.9f);
    input.resize(30000, 0.0f);
    host::watch_subnormal_flags(true);
    for (float sr : {300.0f, 8000.0f})
        for (int block : {64, 4096}) {
            host::Object obj("snarvel~");
            obj.message("mix", {0.6f});
            obj.dsp(sr, block);
            const float coef = record(obj).coef, wet = 0.6f * 0.005f, dry = 1.0f - 0.6f;
            auto out = obj.run(input);
            host::FlushToZero flushing;
            float y = 0.0f;
            for (std::size_t i = 0; i < input.size(); i++) {
                float next = coef * y + wet * code_of(input[i]);
                ASSERT_EQ(bits(out[i]), bits((next + dry * input[i]) - y)) << sr << " Hz, block " << block << ", at " << i;
                y = next;
                if ((i + 1) % block == 0 && tav::is_tiny_or_huge(y)) y = 0.0f;
            }
        }
    host::watch_subnormal_flags(false);
}

// Inputs that are not 0 but below 2^-66 send their group of four through the flushing
// steps, alone, wherever it sits in a block (first, inside, last, before the rest of an odd
// block), with the groups around it on the fast path; the object runs with flushing off.
TEST(Snarvel, TinyInputsInsideABlockGiveTheFlushedArithmetic) {
    auto input = sig::noise(2000, 0.9f);
    for (std::size_t i : {0u, 70u, 131u, 256u, 321u, 322u, 1003u, 1940u, 1999u}) input[i] = 1e-30f;
    input[700] = -0x1p-67f;
    host::watch_subnormal_flags(true);
    for (int block : {64, 67})
        for (bool in_place : {false, true}) {
            auto out = render(input, {{"mix", 0.6f}}, 44100.0f, block, in_place);
            host::FlushToZero flushing;
            float y = 0.0f;
            for (std::size_t i = 0; i < input.size(); i++) {
                float next = kCoef44k * y + 0.6f * 0.005f * code_of(input[i]);
                ASSERT_EQ(bits(out[i]), bits((next + (1.0f - 0.6f) * input[i]) - y))
                    << "block " << block << (in_place ? " in place" : "") << " at " << i;
                y = next;
            }
        }
    host::watch_subnormal_flags(false);
}

// Below about 125.7 Hz the pole 1 - 251.32742 / r would reach -1 and beyond: the state
// would ring up without end (near 1e22 and then NaN in a subpatch at 1/512 of 44.1 kHz).
// There the pole is 0 and the high-pass the plain first difference of the wet code; at
// 126 Hz, where the pole is still inside, it is as it always was.
TEST(Snarvel, StaysStableAtAnyRate) {
    auto input = sig::noise(20000, 1.0f);
    for (float sr : {86.1328125f, 125.0f, 1.0f}) {
        host::Object obj("snarvel~");
        obj.message("mix", {1.0f});
        obj.dsp_resampled(sr, 1);
        EXPECT_EQ(record(obj).coef, 0.0f) << sr;
        auto out = obj.run(input);
        float y = 0.0f;
        for (std::size_t i = 0; i < input.size(); i++) {
            float next = 0.005f * code_of(input[i]);
            ASSERT_EQ(bits(out[i]), bits(next - y)) << sr << " Hz at " << i;
            y = next;
        }
    }
    host::Object at126("snarvel~");
    at126.dsp(126.0f, 64);
    EXPECT_EQ(bits(record(at126).coef), bits(1.0f - 251.32742f / 126.0f));
}

// A decayed state is zeroed at the end of its block, so the tail ends in exact zeros.
TEST(Snarvel, DecayedStateIsFlushedAtTheBlockEnd) {
    const float smallest_kept = std::ldexp(1.0f, -63);
    for (float sr : {44100.0f, 48000.0f}) {
        host::Object obj("snarvel~");
        obj.message("mix", {1.0f});
        obj.dsp(sr, 64);
        obj.run(std::vector<float>(64, 1.0f));
        bool flushed = false;
        for (int blk = 0; blk < 400 && !flushed; blk++) {
            auto out = obj.run(std::vector<float>(64, 0.0f));
            float y = record(obj).state;
            ASSERT_TRUE(y == 0.0f || std::fabs(y) >= smallest_kept) << y;
            flushed = y == 0.0f;
            if (!flushed) {
                ASSERT_NE(out.back(), 0.0f) << "the tail is still decaying";
            }
        }
        ASSERT_TRUE(flushed);
        for (float v : obj.run(std::vector<float>(640, 0.0f))) ASSERT_EQ(bits(v), 0u);
    }
}

// Whole groups of samples are converted together when none can leave the 32-bit range,
// one by one otherwise; a block of 1 converts every sample on its own. Values at and
// around the range's edges, infinities and NaN, at every place in a group, must code
// the same either way.
TEST(Snarvel, GroupedSamplesCodeLikeSamplesOneByOne) {
    const float edge = 2147483648.0f;
    std::vector<float> input = sig::noise(3000, 2.0f);
    const float bad[] = {sig::kNaN, sig::kInf, -sig::kInf, 1e30f, -1e30f, 5.1e7f, -5.1e7f,
                         edge, -edge, std::nextafter(edge, 0.0f), 3e9f};
    for (std::size_t k = 0; k < std::size(bad); k++)
        for (int at = 0; at < 4; at++) input[200 * k + 5 * at] = bad[k];
    for (std::size_t i = 2600; i < 2608; i++) input[i] = 4e7f; // a whole group far out, in range
    for (float mix : {1.0f, 0.3f}) {
        auto one = render(input, {{"mix", mix}}, 44100.0f, 1);
        for (int block : {4, 6, 64})
            EXPECT_EQ(first_difference(render(input, {{"mix", mix}}, 44100.0f, block), one), -1)
                << "block " << block << " mix " << mix;
    }
}

} // namespace
