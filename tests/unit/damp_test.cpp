// damp~: the state-variable lowpass, its square-law tone control, the sample rate it
// follows and the guard on its states.
#include "rendering.h"
#include "signals.h"
#include "tavrelle.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <math.h>
#ifndef TAVRELLE_HAVE_MPFR
#define TAVRELLE_HAVE_MPFR 0
#endif
#if TAVRELLE_HAVE_MPFR
#include <mpfr.h>
#endif

namespace {

int g_sin_calls = 0;

} // namespace

// The plug-in's sin, counted: it shows when the coefficient is computed.
#ifndef _WIN32
extern "C" double sin(double v) noexcept {
    static auto next = unit::library_definition<double(double)>("sin");
    ++g_sin_calls;
    return next(v);
}
#endif

namespace {

using sig::bits;
using sig::first_difference;

struct DampFields {
    float tone, coef, low, band, sr;
};

DampFields record(const host::Object &obj) {
    return {unit::field(obj, "x_tone"), unit::field(obj, "x_coef"), unit::field(obj, "x_low"),
            unit::field(obj, "x_band"), unit::field(obj, "x_sr")};
}

// sin(2 pi fc / sr) for the corner fc = 200 Hz + (sr / 4 - 200 Hz) x tone^2.
double coefficient(double sr, double tone) {
    double fc = 200.0 + (sr / 4.0 - 200.0) * tone * tone;
    return std::sin(2.0 * M_PI * fc / sr);
}

// The angle in single precision, in the order the filter's design fixes: the corner, then
// (fc / sr) x 2 pi.
float described_angle(float sr, float tone) {
    float fc = 200.0f + (sr * 0.25f - 200.0f) * (tone * tone);
    return (fc / sr) * 6.2831855f;
}

// The float nearest to the sine of a float, from MPFR: the same on every machine. A
// target without MPFR (Windows) reads it from the table a build with MPFR writes when
// $TAVRELLE_SINES names a file: one line per angle of the sweep below, the two floats'
// bits in hex.
#if TAVRELLE_HAVE_MPFR
float nearest_sine(float angle) {
    mpfr_t a, s;
    mpfr_inits2(24, a, s, static_cast<mpfr_ptr>(nullptr));
    mpfr_set_flt(a, angle, MPFR_RNDN);
    mpfr_sin(s, a, MPFR_RNDN);
    float f = mpfr_get_flt(s, MPFR_RNDN);
    mpfr_clears(a, s, static_cast<mpfr_ptr>(nullptr));
    return f;
}
#endif

struct SineTable {
    std::map<std::uint32_t, std::uint32_t> sines;
    FILE *out = nullptr;
    SineTable() {
        const char *path = std::getenv("TAVRELLE_SINES");
        if (!path) return;
#if TAVRELLE_HAVE_MPFR
        out = std::fopen(path, "w");
#else
        if (FILE *in = std::fopen(path, "r")) {
            for (unsigned a, s; std::fscanf(in, "%x %x", &a, &s) == 2;) sines[a] = s;
            std::fclose(in);
        }
#endif
    }
    ~SineTable() {
        if (out) std::fclose(out);
    }
    // Whether this build knows the nearest sines: through MPFR, or from a table.
    bool known() const { return TAVRELLE_HAVE_MPFR || !sines.empty(); }
    float operator()(float angle) {
#if TAVRELLE_HAVE_MPFR
        const float s = nearest_sine(angle);
        if (out) std::fprintf(out, "%08x %08x\n", bits(angle), bits(s));
        return s;
#else
        auto it = sines.find(bits(angle));
        EXPECT_NE(it, sines.end()) << "no sine in the table for the angle " << angle;
        return it == sines.end() ? 0.0f : std::bit_cast<float>(it->second);
#endif
    }
};

// The coefficient: the float nearest to the sine of the described angle, within 0 ... pi/2.
template <class Sine> float described_coefficient(float sr, float tone, Sine &&sine) {
    const float angle = described_angle(sr, tone);
    return angle > 1.5707964f ? 1.0f : sine(angle);
}

// The input through a new object after the given "tone" messages.
std::vector<float> render(const std::vector<float> &input, std::vector<float> tones = {},
                          float sr = 44100.0f, int block = 64, bool in_place = false) {
    std::vector<unit::Setting> settings;
    for (float t : tones) settings.push_back({"tone", t});
    return unit::Renderer{"damp~"}(input, settings, sr, block, in_place);
}

TEST(Damp, ToneMovesTheCornerFromTwoHundredHertzToAQuarterOfTheRate) {
    struct Case {
        std::vector<float> tones;
        float coef;
    };
    // The coefficients at 44100 Hz for tone 0 (200 Hz), 0.3 (1174.25 Hz) and 0.5 (2906.25 Hz).
    for (const Case &c : {Case{{0.0f}, 0.0284913f}, Case{{}, 0.166523f}, Case{{0.5f}, 0.402339f},
                          Case{{0.5f, sig::kNaN}, 0.402339f}}) {
        host::Object obj("damp~");
        for (float t : c.tones) obj.message("tone", {t});
        obj.dsp(44100.0f, 64);
        EXPECT_NEAR(record(obj).coef, c.coef, 6e-7f);
    }
    host::Object obj("damp~");
    obj.dsp(44100.0f, 64);
    obj.message("tone", {1.0f});
    EXPECT_EQ(record(obj).coef, 1.0f) << "a quarter of the rate is an angle of pi/2";
    obj.message("tone", {7.0f});
    EXPECT_EQ(record(obj).tone, 1.0f);
    EXPECT_EQ(record(obj).coef, 1.0f);
    obj.message("tone", {sig::kNaN});
    EXPECT_EQ(record(obj).tone, 1.0f) << "a NaN tone is ignored";
    EXPECT_EQ(record(obj).coef, 1.0f);
    obj.message("tone", {0.0f});
    const float at_200 = record(obj).coef;
    obj.message("tone", {-5.0f});
    EXPECT_EQ(record(obj).tone, 0.0f);
    EXPECT_EQ(bits(record(obj).coef), bits(at_200));
}

// The rate of the signal at the last dsp call counts, when "tone" arrives and at dsp;
// before the first dsp call, Pd's rate. The object keeps the tone.
TEST(Damp, CoefficientFollowsTheRateOfItsSignal) {
    for (float sr : {44100.0f, 48000.0f})
        for (float tone : {0.0f, 0.3f, 0.4f, 0.5f, 0.7f, 0.9f}) {
            host::Object obj("damp~");
            obj.message("tone", {tone});
            obj.dsp(sr, 64);
            const float f = record(obj).coef;
            EXPECT_NEAR(f, coefficient(sr, tone), 6e-7) << tone << " at " << sr;
#if TAVRELLE_HAVE_MPFR
            EXPECT_EQ(bits(f), bits(described_coefficient(sr, tone, nearest_sine))) << tone << " at " << sr;
#endif
        }

    host::set_sample_rate(48000.0f);
    host::Object obj("damp~");
    obj.message("tone", {0.5f}); // before any dsp call: Pd's rate
    EXPECT_NEAR(record(obj).coef, coefficient(48000.0, 0.5), 6e-7);
    obj.dsp(44100.0f, 64);
    EXPECT_NEAR(record(obj).coef, 0.402339f, 6e-7f);
    host::set_sample_rate(48000.0f); // Pd's rate changes, the object's signal does not
    obj.inlet_float(1, 0.5f);
    EXPECT_NEAR(record(obj).coef, 0.402339f, 6e-7f);

    // Inside a subpatch resampled by 2 (or by 1/512) the corner sits where it does at that
    // rate at the top level: tone 0 gives 200 Hz, not 400 Hz.
    host::set_sample_rate(44100.0f);
    for (float signal_sr : {88200.0f, 86.1328125f}) {
        host::Object sub("damp~"), top("damp~");
        sub.message("tone", {0.0f});
        top.message("tone", {0.0f});
        sub.dsp_resampled(signal_sr, 64);
        top.dsp(signal_sr, 64);
        host::set_sample_rate(44100.0f);
        EXPECT_EQ(bits(record(sub).coef), bits(record(top).coef)) << signal_sr;
#if TAVRELLE_HAVE_MPFR
        EXPECT_NE(bits(record(sub).coef), bits(described_coefficient(44100.0f, 0.0f, nearest_sine)));
#endif
        sub.message("tone", {0.7f});
        top.message("tone", {0.7f});
        EXPECT_EQ(first_difference(sub.run(sig::noise(640)), top.run(sig::noise(640))), -1) << signal_sr;
    }
}

// Every reachable angle, densely: 2^16 tones at rates from 1 kHz to 768 kHz, where angles
// run from 0.0016 to pi/2. The C libraries' single-precision sines disagree on about one
// angle in a hundred; the float nearest to the sine does not.
TEST(Damp, CoefficientIsTheFloatNearestToTheSine) {
    SineTable sine;
    if (!sine.known()) GTEST_SKIP() << "no MPFR for this target, and no table of its sines ($TAVRELLE_SINES)";
    int differing = 0;
    for (float sr : {1000.0f, 8000.0f, 22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f, 768000.0f}) {
        host::Object obj("damp~");
        obj.dsp(sr, 64);
        for (int k = 0; k <= 1 << 16; k++) {
            const float tone = static_cast<float>(k) / static_cast<float>(1 << 16);
            obj.message("tone", {tone});
            differing += bits(record(obj).coef) != bits(described_coefficient(sr, tone, sine));
        }
    }
    EXPECT_EQ(differing, 0);
}

TEST(Damp, SineRunsOnlyWhenTheToneOrTheGraphChanges) {
    TAVRELLE_COUNTS_LIBRARY_CALLS();
    host::Object obj("damp~");
    g_sin_calls = 0;
    obj.message("tone", {0.4f});
    EXPECT_EQ(g_sin_calls, 1);
    obj.message("tone", {sig::kNaN});
    EXPECT_EQ(g_sin_calls, 1);
    obj.dsp(44100.0f, 64);
    EXPECT_EQ(g_sin_calls, 2);
    obj.run(sig::noise(6400));
    EXPECT_EQ(g_sin_calls, 2) << "no sine per block";
}

// At tone 1 the coefficient is 1: an impulse reaches the output one sample late.
TEST(Damp, OpenFilterImpulseResponse) {
    auto open = render(sig::impulse(4), {1.0f});
    EXPECT_EQ(bits(open[0]), 0u);
    EXPECT_EQ(bits(open[1]), bits(1.0f));
    // Then 1 - 1.4 and 0.56, each within a few roundings.
    EXPECT_NEAR(open[2], -0.4f, 2e-7f);
    EXPECT_NEAR(open[3], 0.56f, 2e-7f);
}

// Sample for sample the two-state update: the low state moves by band x f and is the
// output; the high part is (input - low) - 1.4 band, and the band state moves by f x high.
TEST(Damp, FollowsTheStateVariableUpdate) {
    auto input = sig::noise(3000, 0.8f);
    for (float sr : {44100.0f, 48000.0f})
        for (float tone : {0.2f, 0.8f}) {
            host::Object obj("damp~");
            obj.message("tone", {tone});
            obj.dsp(sr, 100);
            const float f = record(obj).coef;
            auto out = obj.run(input);
            float low = 0.0f, band = 0.0f;
            for (std::size_t i = 0; i < input.size(); i++) {
                low = low + band * f;
                ASSERT_EQ(bits(out[i]), bits(low)) << tone << " at " << sr << ", sample " << i;
                band = band + f * ((input[i] - low) - band * 1.4f);
            }
        }
}

// The same update through a decay into silence, as Pd computes it with the FPU flushing
// subnormal results to zero, and with the states' guard at each block's end; the object
// runs with flushing off and must not touch a subnormal number on the way.
TEST(Damp, DecaysAsTheFlushingFpuComputesIt) {
    auto input = sig::noise(2000, 0.8f);
    input.resize(40000, 0.0f);
    host::watch_subnormal_flags(true);
    for (float sr : {8000.0f, 96000.0f})
        for (float tone : {0.2f, 0.7f})
            for (int block : {64, 4096}) {
                host::Object obj("damp~");
                obj.message("tone", {tone});
                obj.dsp(sr, block);
                const float f = record(obj).coef;
                auto out = obj.run(input);
                host::FlushToZero flushing;
                float low = 0.0f, band = 0.0f;
                for (std::size_t i = 0; i < input.size(); i++) {
                    low = low + band * f;
                    ASSERT_EQ(bits(out[i]), bits(low)) << tone << " at " << sr << ", block " << block << ", sample " << i;
                    band = band + f * ((input[i] - low) - band * 1.4f);
                    if ((i + 1) % block == 0) {
                        if (tav::is_tiny_or_huge(low)) low = 0.0f;
                        if (tav::is_tiny_or_huge(band)) band = 0.0f;
                    }
                }
            }
    host::watch_subnormal_flags(false);
}

TEST(Damp, ConstantInputSettlesAtTheSameConstant) {
    auto low = render(std::vector<float>(20000, 0.5f), {0.0f});
    for (int i = 19000; i < 20000; i++) ASSERT_EQ(bits(low[i]), bits(0.49999976f)) << i;
    for (float sr : {44100.0f, 48000.0f}) {
        auto out = render(std::vector<float>(20000, -0.25f), {0.6f}, sr);
        EXPECT_NEAR(out.back(), -0.25f, 1e-6f) << sr;
    }
}

// Once the states drop below 2^-63 the guard zeroes them and the output is exactly 0.
TEST(Damp, ImpulseTailEndsInExactZeros) {
    for (float sr : {44100.0f, 48000.0f}) {
        host::Object obj("damp~");
        obj.dsp(sr, 64);
        obj.run(sig::impulse(64));
        auto tail = obj.run(std::vector<float>(44100, 0.0f));
        ASSERT_NE(tail[0], 0.0f);
        for (int i = 40000; i < 44100; i++) ASSERT_EQ(bits(tail[i]), 0u) << i;
        EXPECT_EQ(record(obj).low, 0.0f);
        EXPECT_EQ(record(obj).band, 0.0f);
    }
}

// A non-finite or huge sample spoils the rest of its own block only: the next block
// starts from zero states, as a new object would.
TEST(Damp, HugeInputSpoilsAtMostTheRestOfItsBlock) {
    const int block = 64, at = 3 * block + 10, next = 4 * block;
    auto clean = sig::noise(2000);
    for (float sr : {44100.0f, 48000.0f})
        for (float bad : {sig::kInf, -sig::kInf, sig::kNaN, 1e30f, -1e30f}) {
            auto input = clean;
            input[at] = bad;
            auto out = render(input, {}, sr, block);
            auto ref = render(clean, {}, sr, block);
            out.resize(at + 1);
            ref.resize(at + 1);
            EXPECT_EQ(first_difference(out, ref), -1) << "up to the sample itself";

            auto after = render(input, {}, sr, block);
            auto fresh = render({input.begin() + next, input.end()}, {}, sr, block);
            EXPECT_EQ(first_difference({after.begin() + next, after.end()}, fresh), -1)
                << bad << " at " << sr;
        }
}

// An output vector that overlaps the input shifted (which Pd never hands out) sees each
// input read after the output before it was written, as in strict sample order.
TEST(Damp, ShiftedVectorsKeepStrictSampleOrder) {
    for (int shift : {1, 2, -1}) {
        auto start = sig::noise(70);
        host::Object block("damp~"), one("damp~");
        block.dsp(44100.0f, 64);
        one.dsp(44100.0f, 1);
        std::vector<float> shared = start;
        std::vector<t_int> chain = block.pd_chain();
        chain[2] = reinterpret_cast<t_int>(shared.data() + 2);         // input
        chain[3] = reinterpret_cast<t_int>(shared.data() + 2 + shift); // output
        reinterpret_cast<t_perfroutine>(chain[0])(chain.data());

        std::vector<float> want = start;
        for (int i = 0; i < 64; i++) want[2 + shift + i] = one.process({want[2 + i]})[0][0];
        EXPECT_EQ(first_difference(shared, want), -1) << shift;
    }
}

TEST(Damp, RightInletActsAsTheToneMessage) {
    host::Object by_inlet("damp~"), by_message("damp~");
    by_inlet.inlet_float(1, 0.65f);
    by_message.message("tone", {0.65f});
    EXPECT_EQ(by_inlet.record_bytes(), by_message.record_bytes());
    EXPECT_EQ(record(by_inlet).tone, 0.65f);
}

} // namespace
