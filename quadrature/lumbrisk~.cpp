// lumbrisk~: instantaneous amplitude, the magnitude of the phase-difference network's
// pair scaled by the square root of one half, so a steady sine gives its RMS value.
#include "phase_network.h"

#include <limits>

struct t_lumbrisk {
    t_object x_obj;
    t_float x_f;
    int32_t x_phase;
    t_cfilters x_cf;
};
TAVRELLE_RECORD(t_lumbrisk);

t_class *lumbrisk_class;

namespace {

constexpr float kRootHalf = 0.70710677f;
constexpr float kLargest = std::numeric_limits<float>::max();
constexpr float kDown = 0x1p-64f, kUp = 0x1p64f; // an even power of two scales sqrt exactly
constexpr std::uint32_t kMagnitude = 0x7FFFFFFFu;
constexpr std::uint32_t kTwoTo32 = 0x4F800000u, kTwoTo63 = 0x5F000000u; // magnitude bits

// Square root from the bit-pattern estimate of 1/sqrt(x) and one Newton step, times x.
// Low by at most about 0.18 percent. Unsigned arithmetic keeps arguments it is not meant
// for (negative ones) free of overflow.
inline float approx_sqrt(float x) {
    std::int32_t i = std::bit_cast<std::int32_t>(x);
    float y0 = std::bit_cast<float>(0x5f3759dfu - static_cast<std::uint32_t>(i >> 1));
    float t = (x * 0.5f) * y0;
    float y1 = y0 * (1.5f - y0 * t);
    return y1 * x;
}

// Chain outputs near 2^64 overflow the sum of squares; scaled down first they give the
// same magnitude (the estimate commutes with a power of four) instead of -infinity. A
// component below 2^32 is left out: its scaled square is under half an ulp of the other
// one's (at least 1/2 here), so the sum is the same, and scaled it would be subnormal.
[[gnu::noinline, gnu::cold]] float large_magnitude(float a, float b) {
    auto down = [](float v) {
        return (tav::bits_of(v) & kMagnitude) < kTwoTo32 ? 0.0f : v * kDown;
    };
    float as = down(a), bs = down(b);
    return approx_sqrt(bs * bs + as * as) * kUp;
}

// True when every chain output lies in [2^-63, 2^63): then each square, their sum and its
// half inside the square root are normal numbers, the sum is finite, and the root is at
// least 2^-63 (the estimate is low by under 0.2 percent), so it never meets the tiny test.
// Everything else takes outside_range. The OR of magnitudes is at least each of them.
template <class... F> bool in_range(F... v) {
    return ((!tav::is_tiny(v)) & ...) &&
           ((std::bit_cast<std::uint32_t>(v) | ...) & kMagnitude) < kTwoTo63;
}

// The output where a chain output is below 2^-63 or at least 2^63, computed as the
// arithmetic goes when subnormal results are flushed to zero (as Pd runs), but without
// making a subnormal number: on ARM's VFP11 each one traps to the kernel, and without
// flushing the result would differ from Pd's. A square below 2^-126 is +0; a sum below
// 2^-125 has a subnormal half, so the Newton step sees t = 0 and y1 = 1.5 y0. Decays pass
// here for a fraction of a second, silence (both outputs tiny) gives 0 straight away.
[[gnu::noinline]] float outside_range(float a, float b) {
    if (tav::is_tiny(a) && tav::is_tiny(b)) return 0.0f;
    float bb = tav::is_tiny(b) ? 0.0f : b * b, aa = tav::is_tiny(a) ? 0.0f : a * a;
    float m = bb + aa, r;
    if (!(m <= kLargest))
        r = large_magnitude(a, b);
    else if (m >= 0x1p-125f)
        r = approx_sqrt(m);
    else {
        std::int32_t i = std::bit_cast<std::int32_t>(m);
        float y0 = std::bit_cast<float>(0x5f3759dfu - static_cast<std::uint32_t>(i >> 1));
        r = (y0 * 1.5f) * m;
    }
    return tav::is_tiny(r) ? 0.0f : r * kRootHalf;
}

struct Amplitude {
    static constexpr int kCount = 1;
    t_sample *out;
    explicit Amplitude(t_int *w) : out(reinterpret_cast<t_sample *>(w[3])) {}
    bool overlap_shifted(const t_sample *in, int n) const { return tav::overlap_shifted(in, out, n); }
#if TAVRELLE_VFP11 && PD_FLOATSIZE == 32
    // The pairs loop scheduled by hand (arm32/lumbrisk_vfp11.h).
    static constexpr int kMostPasses = 5;
    int start = 0;
    void by_hand_start(tav::quad::ByHand &, int i) { start = i; }
    void run_by_hand(tav::quad::ByHand &h);
    void magnitudes(float *chains, int count, bool tiny);
#endif
    // In range, the scaled root of the sum of squares with no test left to make.
    static float amplitude(float a, float b) { return approx_sqrt(b * b + a * a) * kRootHalf; }
    // One sample: the tests one by one, which suits block size 1 best.
    void write(int i, tav::quad::Pair p) {
        const float a = p.direct, b = p.delayed;
        const bool usual = !tav::is_tiny(a) && !tav::is_tiny(b) &&
                           ((tav::bits_of(a) | tav::bits_of(b)) & kMagnitude) < kTwoTo63;
        out[i] = usual ? amplitude(a, b) : outside_range(a, b);
    }
    // One test for the pair, so that both square roots run in one stretch of code and
    // overlap in the pipeline.
    void write_pair(int i, tav::quad::Pair first, tav::quad::Pair second) {
        if (in_range(first.direct, first.delayed, second.direct, second.delayed)) [[likely]] {
            float r0 = amplitude(first.direct, first.delayed);
            float r1 = amplitude(second.direct, second.delayed);
            out[i] = r0;
            out[i + 1] = r1;
        } else {
            out[i] = outside_range(first.direct, first.delayed);
            out[i + 1] = outside_range(second.direct, second.delayed);
        }
    }
};

} // namespace

TAVRELLE_EXPORT float cheapsqrt(float x) { return approx_sqrt(x); }

static void *lumbrisk_new() { return tav::quad::create<t_lumbrisk, Amplitude>(lumbrisk_class); }
#if TAVRELLE_VFP11 && PD_FLOATSIZE == 32
#include "arm32/lumbrisk_vfp11.h" // lumbrisk_one_vfp11: the routine below, by hand
#endif
[[maybe_unused]] static t_int *lumbrisk_perform_one(t_int *w) {
    return tav::quad::perform_one<t_lumbrisk, Amplitude>(w);
}
static t_int *lumbrisk_perform(t_int *w) { return tav::quad::perform<t_lumbrisk, Amplitude>(w); }
static void lumbrisk_dsp(t_lumbrisk *x, t_signal **sp) {
#if TAVRELLE_VFP11 && PD_FLOATSIZE == 32
    tav::quad::add_perform<Amplitude>(x, sp, lumbrisk_one_vfp11, lumbrisk_perform);
#else
    tav::quad::add_perform<Amplitude>(x, sp, lumbrisk_perform_one, lumbrisk_perform);
#endif
}

TAVRELLE_EXPORT void lumbrisk_tilde_setup() {
    lumbrisk_class = class_new(gensym("lumbrisk~"), (t_newmethod)lumbrisk_new, nullptr, sizeof(t_lumbrisk), 0, A_NULL);
    tav::add_main_signal_inlet<t_lumbrisk>(lumbrisk_class);
    tav::add_dsp_method(lumbrisk_class, (t_method)lumbrisk_dsp);
    post("[lumbrisk~] version %s, written by Tavrelle", "1.0");
}
