// The quadrature tools: the phase-difference network seen through quorrel~'s two
// outlets, the amplitude that lumbrisk~ makes of it, and the two processing forms (block
// size 1 and every other size) that must agree sample for sample.
#include "host.h"
#include "rendering.h"
#include "signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <tuple>

// The network state as the plug-ins name it, so that init_cfilters is called through a
// pointer of its own type.
struct t_cfilters;

namespace {

using sig::bits;
using sig::first_difference;

constexpr float kRootHalf = 0.70710677f;

// Below 2^-63, zero included: bits 30 and 29 both clear.
bool is_tiny(float f) { return (bits(f) & 0x60000000u) == 0; }

constexpr int kSettle = 20000; // the slowest section's poles shrink by 0.99875 a sample
const char *const kClasses[] = {"lumbrisk~", "quorrel~"};

struct Form {
    int block;
    float sr;
};

void PrintTo(const Form &f, std::ostream *os) { *os << "block " << f.block << " at " << f.sr; }

using Outlets = std::vector<std::vector<float>>;

Outlets render(const char *cls, const std::vector<float> &input, Form f, int shared = -1) {
    host::Object obj(cls);
    obj.dsp_sharing(f.sr, f.block, shared);
    Outlets outs = obj.process(input);
    for (auto &o : outs) o.resize(input.size());
    return outs;
}

// All samples of all outlets, one after the other, for whole-output comparisons.
std::vector<float> joined(const Outlets &outs) {
    std::vector<float> all;
    for (auto &o : outs) all.insert(all.end(), o.begin(), o.end());
    return all;
}

template <class F> F plugin_symbol(const char *cls, const char *name) {
    void *sym = host::plugin_symbol(cls, name);
    EXPECT_NE(sym, nullptr) << cls << " exports no " << name;
    return reinterpret_cast<F>(sym);
}

float cheapsqrt(float x) {
    static auto fn = plugin_symbol<float (*)(float)>("lumbrisk~", "cheapsqrt");
    return fn(x);
}

// The phase and the network state (prev, then two banks of eight sections of x2, y2),
// read through the plug-ins' own record types.
struct Layout {
    int phase;
    float prev;
    float bank[2][8][2];
};

Layout layout_of(const host::Object &obj) {
    Layout l;
    l.phase = static_cast<int>(unit::field(obj, "x_phase"));
    l.prev = unit::field(obj, "x_cf.prev");
    for (int b = 0; b < 2; b++)
        for (int k = 0; k < 8; k++)
            for (int j = 0; j < 2; j++) {
                const std::string name = "x_cf.bank[" + std::to_string(b) + "][" + std::to_string(k) +
                                         "]." + (j ? "y2" : "x2");
                l.bank[b][k][j] = unit::field(obj, name.c_str());
            }
    return l;
}

// ---- the network's own properties, on quorrel~'s outlets --------------------------------

class Forms : public testing::TestWithParam<Form> {};
INSTANTIATE_TEST_SUITE_P(BlockAndRate, Forms,
                         testing::Values(Form{1, 44100.0f}, Form{64, 44100.0f}, Form{1, 48000.0f},
                                         Form{64, 48000.0f}),
                         [](const auto &i) {
                             return "Block" + std::to_string(i.param.block) + "At" +
                                    std::to_string(static_cast<int>(i.param.sr));
                         });

TEST_P(Forms, SilenceGivesExactZerosOnEveryOutlet) {
    const std::vector<float> silence(12000, 0.0f);
    for (const char *cls : kClasses)
        for (auto &out : render(cls, silence, GetParam()))
            EXPECT_EQ(first_difference(out, silence), -1) << cls;
}

// Unit gain at 0 Hz, a quarter of the rate and Nyquist; the right outlet is the left one
// delayed, negated and delayed by a quarter period respectively.
TEST_P(Forms, SettledGainAndPhaseAtZeroQuarterAndNyquist) {
    const int len = kSettle + 2000;
    auto check = [&](const std::vector<float> &in, int right_sign, int right_delay,
                     const char *what) {
        auto out = render("quorrel~", in, GetParam());
        for (int i = kSettle; i < len; i++) {
            ASSERT_NEAR(out[0][i], in[i], 2e-5) << what << " left, sample " << i;
            ASSERT_NEAR(out[1][i], right_sign * in[i - right_delay], 2e-5)
                << what << " right, sample " << i;
        }
    };
    check(std::vector<float>(len, 1.0f), 1, 0, "constant");
    std::vector<float> nyquist(len);
    for (int i = 0; i < len; i++) nyquist[i] = i % 2 ? -1.0f : 1.0f;
    check(nyquist, -1, 0, "Nyquist");
    check(sig::sine(len, 0.25), 1, 1, "quarter rate");

    auto out = render("quorrel~", sig::sine(len, 0.25, 1.0f, 0.3), GetParam());
    for (int i = kSettle; i < len; i++)
        ASSERT_NEAR(out[0][i] * out[0][i] + out[1][i] * out[1][i], 1.0f, 5e-5) << i;
}

// Least-squares fit of y = amplitude * cos(2 pi f i - phase) over the samples from `from`.
struct Tone {
    double amplitude, phase;
};
Tone fit(const std::vector<float> &y, int from, double f) {
    double cc = 0, cs = 0, ss = 0, yc = 0, ys = 0;
    for (std::size_t i = from; i < y.size(); i++) {
        double c = std::cos(2 * M_PI * f * i), s = std::sin(2 * M_PI * f * i);
        cc += c * c, cs += c * s, ss += s * s, yc += y[i] * c, ys += y[i] * s;
    }
    double det = cc * ss - cs * cs;
    double a = (yc * ss - ys * cs) / det, b = (ys * cc - yc * cs) / det;
    return {std::hypot(a, b), std::atan2(b, a)};
}

// How many degrees the right outlet lags the left for a unit sine at f.
double measured_lag(double f, Form form, double *gain_error = nullptr) {
    auto out = render("quorrel~", sig::sine(2 * kSettle, f), form);
    Tone left = fit(out[0], kSettle, f), right = fit(out[1], kSettle, f);
    if (gain_error)
        *gain_error = std::max(std::abs(left.amplitude - 1), std::abs(right.amplitude - 1));
    double lag = (right.phase - left.phase) * 180 / M_PI;
    while (lag > 180) lag -= 360;
    while (lag <= -180) lag += 360;
    return lag;
}

TEST_P(Forms, RightLagsLeftByNinetyDegreesAcrossTheBand) {
    double worst = 0;
    for (int k = 0; k <= 24; k++) {
        double low = 0.0005 * std::pow(500.0, k / 24.0); // 0.0005 ... 0.25, log spaced
        for (double f : {low, 0.5 - low}) {
            double gain_error = 0;
            double lag = measured_lag(f, GetParam(), &gain_error);
            EXPECT_NEAR(lag, 90, 0.73) << "at " << f << " of the rate";
            EXPECT_LT(gain_error, 1e-4) << "at " << f << " of the rate";
            worst = std::max(worst, std::abs(lag - 90));
        }
    }
    RecordProperty("worst_phase_error_degrees", std::to_string(worst));
    // Outside the band the difference heads for 0 below and for 180 above.
    EXPECT_LT(measured_lag(0.0003, GetParam()), 90 - 0.73);
    EXPECT_GT(measured_lag(0.4997, GetParam()), 90 + 0.73);
}

// The ripple comes from the network's phase error and the square root's; at its worst
// (near 0.2 and 0.3 of the rate) it reaches just past 0.702 and 0.710.
TEST_P(Forms, FollowerGivesTheRmsOfSinesInTheBand) {
    float lowest = 1, highest = 0;
    for (double f : {0.01, 0.02, 0.05, 0.1, 0.15, 0.2, 0.25, 0.29, 0.3}) {
        auto out = render("lumbrisk~", sig::sine(kSettle + 3000, f, 1.0f, 0.7), GetParam())[0];
        for (int i = kSettle; i < kSettle + 3000; i++) {
            ASSERT_GE(out[i], 0.702f - 1e-4f) << "at " << f << ", sample " << i;
            ASSERT_LE(out[i], 0.710f + 1e-4f) << "at " << f << ", sample " << i;
            lowest = std::min(lowest, out[i]), highest = std::max(highest, out[i]);
        }
    }
    RecordProperty("lowest", std::to_string(lowest));
    RecordProperty("highest", std::to_string(highest));
    // At a quarter of the rate the pair is exact, so only the square root's error is left.
    auto out = render("lumbrisk~", sig::sine(kSettle + 1000, 0.25), GetParam())[0];
    for (int i = kSettle; i < kSettle + 1000; i++)
        ASSERT_NEAR(out[i], kRootHalf * 0.99830717f, 3e-5) << i;
}

// ---- the two processing forms ----------------------------------------------------------

std::vector<float> mixed_input(int len) {
    auto v = sig::noise(len, 0.8f);
    auto s = sig::sine(len, 0.013, 0.5f);
    for (int i = 0; i < len; i++) v[i] += s[i];
    return v;
}

TEST(QuadratureForms, BlockOneMatchesEveryEvenBlockBitForBit) {
    auto input = mixed_input(6000);
    for (const char *cls : kClasses)
        for (float sr : {44100.0f, 48000.0f}) {
            auto one = joined(render(cls, input, {1, sr}));
            for (int block : {2, 64, 256})
                EXPECT_EQ(first_difference(joined(render(cls, input, {block, sr})), one), -1)
                    << cls << " block " << block << " at " << sr;
        }
}

// A rebuild at block size 1 restarts the alternation at bank 0; one at any other size
// changes nothing in the record, x_phase included.
TEST(QuadratureForms, RebuildsTouchOnlyThePhaseAndOnlyAtBlockOne) {
    for (const char *cls : kClasses) {
        host::Object obj(cls);
        ASSERT_NE(probe::find(cls), nullptr) << cls;
        EXPECT_EQ(obj.info().size, probe::find(cls)->size) << cls;
        obj.dsp(44100.0f, 1);
        EXPECT_EQ(layout_of(obj).phase, 0);
        obj.process({0.5f});
        EXPECT_EQ(layout_of(obj).phase, 1) << cls;
        obj.process({0.5f});
        EXPECT_EQ(layout_of(obj).phase, 0) << cls;
        obj.process({0.25f});
        auto before = obj.record_bytes();
        Layout was = layout_of(obj);
        obj.dsp(48000.0f, 64);
        EXPECT_EQ(obj.record_bytes(), before) << cls << ": a rebuild at 64 touches nothing";
        obj.dsp(48000.0f, 1);
        Layout after = layout_of(obj);
        EXPECT_EQ(after.phase, 0);
        after.phase = 1;
        EXPECT_EQ(std::memcmp(&after, &was, sizeof after), 0) << cls << ": a rebuild at 1 resets only x_phase";
        // and nothing else in the record: the bytes that changed lie in one 32-bit word
        auto now = obj.record_bytes();
        std::vector<std::size_t> moved;
        for (std::size_t i = 0; i < now.size(); i++)
            if (now[i] != before[i]) moved.push_back(i);
        EXPECT_TRUE(!moved.empty() && moved.back() / 4 == moved.front() / 4) << cls;

        obj.dsp(44100.0f, 0); // an empty block changes nothing either
        before = obj.record_bytes();
        obj.tick();
        EXPECT_EQ(obj.record_bytes(), before) << cls;
    }
}

// Sample by sample at block size 1, each section of the bank in use goes from its old
// (x2, y2) to (s, c * (s + y2) - x2), rounded step by step, with the sections in the
// order direct 1, delayed 1, direct 2, ...; the other bank stays as it was.
TEST(QuadratureForms, EverySectionFollowsItsRecurrenceInBothLibraries) {
    const float direct[4] = {0.161758f, 0.733029f, 0.94535f, 0.990598f};
    const float delayed[4] = {0.479401f, 0.876218f, 0.976599f, 0.9975f};
    auto input = sig::hostile(1500, {sig::kInf, sig::kNaN, 0x1p66f});
    for (const char *cls : kClasses) {
        host::Object obj(cls);
        obj.dsp(44100.0f, 1);
        for (std::size_t i = 0; i < input.size(); i++) {
            Layout old = layout_of(obj);
            obj.process({input[i]});
            Layout now = layout_of(obj);
            const int b = old.phase;
            float u = input[i] + 1e-21f;
            if ((bits(u) & 0x60000000u) == 0x60000000u) u = 0.0f;
            ASSERT_EQ(bits(now.prev), bits(u)) << cls << " sample " << i;
            float s[2] = {u, old.prev};
            for (int k = 0; k < 8; k++) {
                const float c = k % 2 ? delayed[k / 2] : direct[k / 2];
                float &v = s[k % 2];
                float sum = v + old.bank[b][k][1];
                float product = c * sum;
                float y = product - old.bank[b][k][0];
                ASSERT_EQ(bits(now.bank[b][k][0]), bits(v)) << cls << " " << i << " x2 " << k;
                ASSERT_EQ(bits(now.bank[b][k][1]), bits(y)) << cls << " " << i << " y2 " << k;
                v = y;
            }
            ASSERT_EQ(std::memcmp(now.bank[1 - b], old.bank[1 - b], sizeof now.bank[0]), 0)
                << cls << " sample " << i << ": the other bank is left alone";
        }
    }
}

TEST(QuadratureForms, StateCarriesOnThroughRebuildsAndBlockSizeChanges) {
    auto input = mixed_input(4096);
    for (const char *cls : kClasses) {
        auto whole = render(cls, input, {64, 44100.0f});
        host::Object obj(cls);
        Outlets pieces(whole.size());
        int at = 0;
        const std::tuple<int, int, float> steps[] = {
            {1024, 64, 44100.0f}, {256, 1, 48000.0f}, {1024, 128, 96000.0f}, {1792, 64, 44100.0f}};
        for (auto [len, block, sr] : steps) {
            obj.dsp(sr, block);
            auto part = obj.process({input.begin() + at, input.begin() + at + len});
            for (std::size_t k = 0; k < part.size(); k++)
                pieces[k].insert(pieces[k].end(), part[k].begin(), part[k].end());
            at += len;
        }
        EXPECT_EQ(first_difference(joined(pieces), joined(whole)), -1) << cls;
    }
}

TEST(QuadratureForms, InputMayShareItsVectorWithAnyOutlet) {
    auto input = mixed_input(3000);
    for (const char *cls : kClasses)
        for (int block : {1, 64}) {
            auto reference = joined(render(cls, input, {block, 44100.0f}));
            int outlets = cls == std::string("quorrel~") ? 2 : 1;
            for (int shared = 0; shared < outlets; shared++)
                EXPECT_EQ(first_difference(joined(render(cls, input, {block, 44100.0f}, shared)),
                                           reference),
                          -1)
                    << cls << " block " << block << " sharing outlet " << shared;
        }
}

// An outlet vector one sample ahead of the input (which Pd never hands out) sees each
// sample's outlets written before the next input is read, as in strict sample order: the
// input it reads back is what the previous sample wrote.
TEST(QuadratureForms, ShiftedVectorsKeepStrictSampleOrder) {
    for (const char *cls : kClasses) {
        auto start = mixed_input(65);
        host::Object pairs(cls), one(cls);
        pairs.dsp(44100.0f, 64);
        one.dsp(44100.0f, 1);

        std::vector<float> shared = start, right(64);
        std::vector<t_int> chain = pairs.pd_chain();
        chain[2] = reinterpret_cast<t_int>(shared.data());     // input
        chain[3] = reinterpret_cast<t_int>(shared.data() + 1); // left outlet, shifted
        if (std::string(cls) == "quorrel~") chain[4] = reinterpret_cast<t_int>(right.data());
        reinterpret_cast<t_perfroutine>(chain[0])(chain.data());

        std::vector<float> want = start, want_right(64);
        for (int i = 0; i < 64; i++) {
            auto outs = one.process({want[i]});
            want[i + 1] = outs[0][0];
            if (outs.size() > 1) want_right[i] = outs[1][0];
        }
        EXPECT_EQ(first_difference(shared, want), -1) << cls;
        EXPECT_EQ(first_difference(right, want_right), -1) << cls;
    }
}

// Pd only delivers powers of two, but an odd block must still write every sample: its
// last sample takes bank 0, as if the DSP had been rebuilt at block size 1 before every
// block.
TEST(QuadratureForms, OddBlocksWriteEverySampleAndEndOnBankZero) {
    auto input = mixed_input(105);
    for (const char *cls : kClasses)
        for (int block : {3, 5, 7}) {
            auto odd = render(cls, input, {block, 44100.0f});
            for (auto &out : odd)
                for (float v : out) ASSERT_NE(bits(v), host::kUnwritten) << cls << " " << block;

            host::Object one(cls);
            Outlets want(odd.size());
            for (int at = 0; at < 105; at += block) {
                one.dsp(44100.0f, 1);
                auto part = one.process({input.begin() + at, input.begin() + at + block});
                for (std::size_t k = 0; k < part.size(); k++)
                    want[k].insert(want[k].end(), part[k].begin(), part[k].end());
            }
            EXPECT_EQ(first_difference(joined(odd), joined(want)), -1) << cls << " " << block;
        }
}

// Every block length from 16 to 41 against block size 1, on sound with samples that
// enter as 0 and near-silent stretches: the pairs loop on ARM stops in each of its six
// places (before such a sample, or at its last pass), hands over to the plain pairs
// after it, and ends odd blocks with one sample.
TEST(QuadratureForms, EveryBlockLengthMatchesBlockOne) {
    auto input = sig::hostile(1640, {sig::kNaN, -1e-21f}, 97);
    for (std::size_t i = 700; i < 1000; i++)
        input[i] = 0.0f;
    for (const char *cls : kClasses)
        for (int block = 16; block <= 41; block++) {
            const int length = block * (1640 / block);
            std::vector<float> part(input.begin(), input.begin() + length);
            host::Object one(cls);
            Outlets want;
            for (int at = 0; at < length; at += block) {
                one.dsp(44100.0f, 1); // as an odd block ends: its last sample on bank 0
                auto step = one.process({part.begin() + at, part.begin() + at + block});
                want.resize(step.size());
                for (std::size_t k = 0; k < step.size(); k++)
                    want[k].insert(want[k].end(), step[k].begin(), step[k].end());
            }
            EXPECT_EQ(first_difference(joined(render(cls, part, {block, 44100.0f})), joined(want)),
                      -1)
                << cls << " block " << block;
        }
}

// ---- bad input ----------------------------------------------------------------------

// Infinite, NaN and huge samples enter the network as exactly 0, which is what -1e-21
// becomes once the offset is added.
TEST_P(Forms, HugeAndNonFiniteSamplesEnterAsExactZero) {
    const std::vector<float> bad = {sig::kInf, -sig::kInf, sig::kNaN, -sig::kNaN,
                                    0x1p65f, -3e38f};
    auto hostile = sig::hostile(6000, bad, 31);
    auto zeroed = sig::hostile(6000, {-1e-21f}, 31);
    for (const char *cls : kClasses) {
        auto out = joined(render(cls, hostile, GetParam()));
        EXPECT_EQ(first_difference(out, joined(render(cls, zeroed, GetParam()))), -1) << cls;
        for (float v : out) ASSERT_TRUE(std::isfinite(v)) << cls;

        auto loud = joined(render(cls, sig::hostile(6000, {0x1.fffffep64f, -0x1.8p64f}, 31),
                                  GetParam()));
        EXPECT_NE(first_difference(loud, out), -1) << cls << ": just below 2^65 is processed";
        for (float v : loud) ASSERT_TRUE(std::isfinite(v)) << cls;
    }
}

// ---- subnormal numbers --------------------------------------------------------------

using host::clear_subnormal_flags, host::subnormal_flags_raised;

// Runs f with subnormal results flushed to zeros of their sign, as Pd runs.
template <class F> auto flushing(F f) {
    host::FlushToZero on;
    return f();
}

// Both classes' outlets as the arithmetic documents them, one sample at a time from a
// cleared network on alternating banks: quorrel~ the flushed chain outputs, lumbrisk~
// the scaled cheap magnitude.
Outlets documented(const char *cls, const std::vector<float> &input) {
    const float c[8] = {0.161758f, 0.479401f, 0.733029f, 0.876218f,
                        0.94535f,  0.976599f, 0.990598f, 0.9975f};
    const bool pair = cls == std::string("quorrel~");
    float prev = 0, bank[2][8][2] = {};
    Outlets out(pair ? 2 : 1);
    for (std::size_t i = 0; i < input.size(); i++) {
        float u = input[i] + 1e-21f;
        if ((bits(u) & 0x60000000u) == 0x60000000u) u = 0.0f;
        float s[2] = {u, prev};
        prev = u;
        for (int k = 0; k < 8; k++) {
            float *sec = bank[i % 2][k], &v = s[k % 2];
            float y = c[k] * (v + sec[1]) - sec[0];
            sec[0] = v, sec[1] = y, v = y;
        }
        if (pair) {
            out[0].push_back(is_tiny(s[0]) ? 0.0f : s[0]);
            out[1].push_back(is_tiny(s[1]) ? 0.0f : s[1]);
        } else {
            float r = cheapsqrt(s[1] * s[1] + s[0] * s[0]);
            out[0].push_back(is_tiny(r) ? 0.0f : r * kRootHalf);
        }
    }
    return out;
}

// Bursts at falling levels, each followed by long enough a silence for the chains to
// settle: the decays pass chain outputs through every binade down to the 1e-21 offset.
// Then runs of samples that enter as exactly 0 (NaN, -1e-21, infinity), where the chains
// decay to 0 itself, each followed by sound. With the FPU not flushing (as this host
// runs), every block matches the documented arithmetic computed with flushing, and
// perform raises no subnormal flag.
TEST(Subnormals, DecaysGiveTheFlushedArithmeticWithoutSubnormalArithmetic) {
    std::vector<float> input;
    for (float level : {1.0f, 1e-3f, 1e-12f, 1e-18f, 1.3e-19f, 4e-20f}) {
        auto burst = mixed_input(1500);
        for (float v : burst) input.push_back(v * level);
        input.resize(input.size() + 30000, 0.0f);
    }
    for (float zero : {sig::kNaN, -1e-21f, -sig::kInf}) {
        input.resize(input.size() + 5000, zero);
        auto burst = mixed_input(1501);
        input.insert(input.end(), burst.begin(), burst.end());
    }
    // Shorter runs, one of each length, each ended by a single sample of sound: at some
    // length the delayed chain's state is near 2^-126 when that sample feeds it the run's
    // last 0, so that it must take the flushed sections as the direct chain need not.
    auto burst = mixed_input(100);
    for (int len = 200; len < 300; len++) {
        input.insert(input.end(), burst.begin(), burst.end());
        input.resize(input.size() + len, -1e-21f);
        input.push_back(0.25f);
    }
    for (const char *cls : kClasses) {
        auto want = flushing([&] { return joined(documented(cls, input)); });
        if (cls == std::string("lumbrisk~")) {
            EXPECT_NE(first_difference(want, joined(documented(cls, input))), -1)
                << "the decays must reach results that flushing changes";
        }
        for (int block : {1, 64, 4096}) {
            host::Object obj(cls);
            obj.dsp(44100.0f, block);
            Outlets got(obj.signal_outlets());
            for (std::size_t at = 0; at < input.size(); at += 4096) {
                std::vector<float> part(input.begin() + at,
                                        input.begin() + std::min(at + 4096, input.size()));
                clear_subnormal_flags();
                auto outs = obj.process(part);
                ASSERT_FALSE(subnormal_flags_raised())
                    << cls << " block " << block << ", samples from " << at;
                for (std::size_t k = 0; k < outs.size(); k++)
                    got[k].insert(got[k].end(), outs[k].begin(), outs[k].begin() + part.size());
            }
            EXPECT_EQ(first_difference(joined(got), want), -1) << cls << " block " << block;
        }
    }
}

// ---- the amplitude ------------------------------------------------------------------

TEST(CheapSqrt, StatedValuesAndErrorBounds) {
    EXPECT_EQ(bits(cheapsqrt(0.0f)), 0u);
    EXPECT_EQ(bits(cheapsqrt(1.0f)), bits(0.99830717f));
    EXPECT_EQ(bits(cheapsqrt(4.0f)), bits(1.9966143f));
    double lowest = 1, highest = 0;
    for (std::uint32_t b = 0x00800000u; b < 0x7f800000u; b += 4099) { // every normal binade
        float x = std::bit_cast<float>(b);
        double ratio = cheapsqrt(x) / std::sqrt(static_cast<double>(x));
        lowest = std::min(lowest, ratio), highest = std::max(highest, ratio);
    }
    EXPECT_GT(lowest, 1 - 0.0018);
    EXPECT_LT(lowest, 1 - 0.0017) << "one Newton step leaves about 0.18 percent";
    EXPECT_LT(highest, 1 + 2.5e-7);
}

// The raw chain outputs of each sample, read from the bank it used, beside the outlets.
struct Probed {
    std::vector<float> direct, delayed;
    Outlets out;
};
Probed probe(const char *cls, const std::vector<float> &input) {
    host::Object obj(cls);
    obj.dsp(44100.0f, 1);
    Probed p{{}, {}, Outlets(obj.signal_outlets())};
    for (float v : input) {
        int bank = layout_of(obj).phase;
        auto o = obj.process({v});
        Layout l = layout_of(obj);
        p.direct.push_back(l.bank[bank][6][1]); // direct chain, section 4: y2
        p.delayed.push_back(l.bank[bank][7][1]);
        for (std::size_t k = 0; k < o.size(); k++) p.out[k].push_back(o[k][0]);
    }
    return p;
}

// From ordinary levels down to where the magnitude is tiny: the tiny test looks at the
// square root before the scaling, and squares below 2^-126 are zeros, as Pd computes them.
TEST(Amplitude, IsTheScaledCheapMagnitudeOfTheRawPair) {
    int flushed = 0, small = 0, quiet = 0;
    // Squares flushed, the root reaches the tiny test only at sums just above 2^-125, a
    // band of 0.4 percent that the longer stretch at 2.2e-19 crosses.
    for (float level : {1.0f, 1e-3f, 2.2e-19f, 1.3e-19f, 4e-20f, 1e-20f}) {
        auto input = sig::noise(level == 2.2e-19f ? 30000 : 3000, level);
        for (const char *cls : kClasses) {
            Probed p = probe(cls, input);
            for (std::size_t i = 0; i < input.size(); i++) {
                float a = p.direct[i], b = p.delayed[i];
                if (cls == std::string("quorrel~")) {
                    ASSERT_EQ(bits(p.out[0][i]), is_tiny(a) ? 0u : bits(a)) << i;
                    ASSERT_EQ(bits(p.out[1][i]), is_tiny(b) ? 0u : bits(b)) << i;
                    continue;
                }
                float r = flushing([&] { return cheapsqrt(b * b + a * a); });
                float want = is_tiny(r) ? 0.0f : r * kRootHalf;
                ASSERT_EQ(bits(p.out[0][i]), bits(want)) << "level " << level << ", sample " << i;
                flushed += want == 0.0f;
                small += want != 0.0f && is_tiny(want);
                quiet += std::fabs(a) < 0x1p-65f && std::fabs(b) < 0x1p-65f;
            }
        }
    }
    EXPECT_GT(flushed, 0) << "the quietest level reaches the tiny test";
    EXPECT_GT(small, 0) << "and leaves some outputs below 2^-63 after the scaling";
    EXPECT_GT(quiet, 0) << "and the chains fall below 2^-65, where the squares are subnormal";
}

// The same quiet levels through the two-sample form.
TEST(Amplitude, QuietLevelsGiveTheSameOutputInBothForms) {
    for (float level : {1.3e-19f, 4e-20f, 1e-20f, 0.0f}) {
        auto input = sig::noise(3000, level);
        EXPECT_EQ(first_difference(render("lumbrisk~", input, {64, 44100.0f})[0],
                                   render("lumbrisk~", input, {1, 44100.0f})[0]),
                  -1)
            << "level " << level;
    }
}

// Chain outputs near 2^64 have squares beyond the float range; the output is still the
// amplitude, measured here against quorrel~'s pair in double precision, and its way
// there makes no subnormal number (a step out of silence pairs 2^64 with 1e-21).
TEST_P(Forms, AmplitudeSurvivesSquaresBeyondTheFloatRange) {
    std::vector<float> step(kSettle, 0x1p64f);
    std::fill_n(step.begin(), 64, 0.0f);
    for (auto input : {std::vector<float>(kSettle, 0x1p64f), step,
                       sig::sine(kSettle, 0.07, 0x1.cp64f, 0.4), sig::noise(kSettle, 0x1.cp64f)}) {
        clear_subnormal_flags();
        auto pair = render("quorrel~", input, GetParam());
        auto amp = render("lumbrisk~", input, GetParam())[0];
        EXPECT_FALSE(subnormal_flags_raised());
        int overflowed = 0;
        for (std::size_t i = 0; i < input.size(); i++) {
            float a = pair[0][i], b = pair[1][i];
            overflowed += std::isinf(b * b + a * a);
            double want = kRootHalf * std::hypot(static_cast<double>(a), static_cast<double>(b));
            ASSERT_TRUE(std::isfinite(amp[i])) << i;
            if (want == 0) { // the silence before the step
                ASSERT_EQ(amp[i], 0.0f) << i;
                continue;
            }
            ASSERT_GE(amp[i] / want, 1 - 0.0018) << i;
            ASSERT_LE(amp[i] / want, 1 + 3e-7) << i;
        }
        EXPECT_GT(overflowed, 1000) << "the input must reach the overflow";
    }
}

// Each library carries its own copy of the clearing function; it clears the 33 floats of
// the network and nothing after them.
TEST(InitCfilters, ClearsTheNetworkInEitherLibrary) {
    for (const char *cls : kClasses) {
        auto init = plugin_symbol<void (*)(t_cfilters *)>(cls, "init_cfilters");
        float state[40];
        for (float &v : state) v = 7.0f;
        init(reinterpret_cast<t_cfilters *>(state));
        for (int k = 0; k < 33; k++) ASSERT_EQ(bits(state[k]), 0u) << cls << " float " << k;
        for (int k = 33; k < 40; k++) ASSERT_EQ(state[k], 7.0f) << cls << " float " << k;
    }
}

} // namespace
