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
// same magnitude (the estimate commutes with a power of four) instead of -infinity.
[[gnu::noinline, gnu::cold]] float large_magnitude(float a, float b) {
    float as = a * kDown, bs = b * kDown;
    return approx_sqrt(bs * bs + as * as) * kUp;
}

// Chain outputs both below 2^-65 (silence leaves them near 1e-21) have squares and a sum
// below 2^-129, all subnormal: slow on most floating-point units, a trap on ARM's VFP11.
// The square root of any sum that small is below 2^-63 (its estimate never exceeds
// 2 x 10^19 times the sum), so the output is the 0 the tiny test would give, and it is
// written without that arithmetic.
constexpr std::uint32_t kQuiet = 0x1F000000u; // the magnitude bits of 2^-65

// True when every value is below 2^-65: the OR of magnitude patterns is at least each one.
template <class... F> bool quiet(F... v) {
    return ((std::bit_cast<std::uint32_t>(v) | ...) & 0x7FFFFFFFu) < kQuiet;
}

struct Amplitude {
    static constexpr int kCount = 1;
    t_sample *out;
    explicit Amplitude(t_int *w) : out(reinterpret_cast<t_sample *>(w[3])) {}
    bool overlap_shifted(const t_sample *in, int n) const { return tav::overlap_shifted(in, out, n); }
    static float squares(tav::quad::Pair p) { return p.delayed * p.delayed + p.direct * p.direct; }
    static float magnitude(tav::quad::Pair p, float m) {
        return m <= kLargest ? approx_sqrt(m) : large_magnitude(p.direct, p.delayed);
    }
    static float scaled(float r) { return tav::is_tiny(r) ? 0.0f : r * kRootHalf; }
    void write(int i, tav::quad::Pair p) {
        out[i] = quiet(p.direct, p.delayed) ? 0.0f : scaled(magnitude(p, squares(p)));
    }
    // Both square roots in one stretch of code, so that they overlap in the pipeline.
    // Sums of squares are never negative, so one test of their total covers both; only
    // the rare pair beyond the float range takes the way that tests each one.
    void write_pair(int i, tav::quad::Pair first, tav::quad::Pair second) {
        if (quiet(first.direct, first.delayed, second.direct, second.delayed)) {
            out[i] = out[i + 1] = 0.0f;
            return;
        }
        float m0 = squares(first), m1 = squares(second);
        float r0, r1;
        if (m0 + m1 <= kLargest) [[likely]] {
            r0 = approx_sqrt(m0);
            r1 = approx_sqrt(m1);
        } else {
            r0 = magnitude(first, m0);
            r1 = magnitude(second, m1);
        }
        out[i] = scaled(r0);
        out[i + 1] = scaled(r1);
    }
};

} // namespace

TAVRELLE_EXPORT float cheapsqrt(float x) { return approx_sqrt(x); }

static void *lumbrisk_new() { return tav::quad::create<t_lumbrisk, Amplitude>(lumbrisk_class); }
static t_int *lumbrisk_perform_one(t_int *w) { return tav::quad::perform_one<t_lumbrisk, Amplitude>(w); }
static t_int *lumbrisk_perform(t_int *w) { return tav::quad::perform<t_lumbrisk, Amplitude>(w); }
static void lumbrisk_dsp(t_lumbrisk *x, t_signal **sp) {
    tav::quad::add_perform<Amplitude>(x, sp, lumbrisk_perform_one, lumbrisk_perform);
}

TAVRELLE_EXPORT void lumbrisk_tilde_setup() {
    lumbrisk_class = class_new(gensym("lumbrisk~"), (t_newmethod)lumbrisk_new, nullptr, sizeof(t_lumbrisk), 0, A_NULL);
    tav::add_main_signal_inlet<t_lumbrisk>(lumbrisk_class);
    tav::add_dsp_method(lumbrisk_class, (t_method)lumbrisk_dsp);
    post("[lumbrisk~] version %s, written by Tavrelle", "1.0");
}
