// snarvel~: lo-fi distortion. Each sample is quantised to an 8-bit offset-binary code,
// bit 5 of the code is flipped, and the code, centred on silence, goes through a
// DC-blocking high-pass near 40 Hz before it is mixed with the untouched input.
// "noisegate" moves the quantiser within one code step; at mix 0 the input passes as is.
#include "ftz.h"

#include <cmath>
#include <limits>

struct t_snarvel {
    t_object x_obj;
    t_float x_f;
    float x_wet;      // gain of the bit-flipped path, 0 ... 0.005
    float x_dry;      // gain of the untouched input, 0 ... 1
    float x_offset;   // quantiser offset, 128 ... 129
    float x_coef;     // high-pass pole, from the input signal's own rate
    float x_state;    // the high-pass's leaky integrator
};
TAVRELLE_RECORD(t_snarvel);

// Exported beside the setup entry; the declaration gives the C name and visibility,
// the definition follows it.
TAVRELLE_EXPORT t_class *snarvel_class;
t_class *snarvel_class;

constexpr float kWetPerMix = 0.005f;
constexpr float kCodesPerUnit = 42.666f;
constexpr float kSilentOffset = 128.0f;
constexpr float kDefaultOffset = 128.2f;
constexpr float kPoleDistance = 251.32742f; // 2 pi x 40 Hz: 1 - pole, times the rate
constexpr std::uint32_t kFlippedBit = 0x20u;
constexpr std::int32_t kFlippedSilence = 160; // code 128 with bit 5 flipped

// Rounds toward zero like a cast, but defined for every float: beyond the 32-bit range
// the nearest limit, NaN 0.
static std::int32_t saturating_int32(float u) {
    using limits = std::numeric_limits<std::int32_t>;
    if (tav::is_nan(u)) return 0;
    if (u >= 2147483648.0f) return limits::max();
    if (u < -2147483648.0f) return limits::min();
    return static_cast<std::int32_t>(u);
}

// The quantiser's input for a sample, in codes.
static float codes(float offset, float s) { return offset + s * kCodesPerUnit; }

// The 8-bit code of q with bit 5 flipped, less the flipped code of silence.
static float centred(std::int32_t q) {
    std::uint32_t code = (static_cast<std::uint32_t>(q) & 0xFFu) ^ kFlippedBit;
    return static_cast<float>(static_cast<std::int32_t>(code) - kFlippedSilence);
}

static void *snarvel_new() {
    auto *x = tav::new_object<t_snarvel>(snarvel_class, {"mix", "noisegate"});
    x->x_state = 0.0f;
    x->x_wet = 0.0f;
    x->x_offset = kDefaultOffset;
    x->x_dry = 1.0f;
    return x;
}

// A negative mix also clears the high-pass; mix 0 only pauses it.
static void snarvel_mix(t_snarvel *x, float a) {
    if (tav::is_nan(a)) return;
    if (a < 0.0f) {
        x->x_wet = 0.0f;
        x->x_dry = 1.0f;
        x->x_state = 0.0f;
    } else if (a > 1.0f) {
        x->x_wet = kWetPerMix;
        x->x_dry = 0.0f;
    } else {
        // A setting or a gain below 2^-126 is the zero that Pd's flushing FPU makes of it.
        a = tav::ftz::flush(a);
        x->x_wet = tav::ftz::flush(a * kWetPerMix);
        x->x_dry = 1.0f - a;
    }
}

static void snarvel_noisegate(t_snarvel *x, float a) {
    if (tav::is_nan(a)) return;
    x->x_offset = tav::unit_map(a, kSilentOffset, kSilentOffset + 1.0f,
                                [](float v) { return kSilentOffset + v; });
}

// One sample over the arithmetic A, its code q given: the high-pass takes the wet code in,
// the output adds the dry path.
template <class A>
static inline float snarvel_step(float &y, float s, std::int32_t q, float coef, float wet, float dry) {
    float next = A::add(A::mul(coef, y), A::mul(wet, centred(q)));
    float o = A::sub(A::add(next, A::mul(dry, s)), y);
    y = next;
    return o;
}

// Samples from..to-1 with the flushing steps, from the state y; returns the new state.
[[gnu::noinline]] static float snarvel_flushing(const t_sample *in, t_sample *out, int from, int to, float y,
                                                const t_snarvel &x) {
    for (int i = from; i < to; i++) {
        float s = in[i];
        out[i] = static_cast<t_sample>(snarvel_step<tav::ftz::Flushing>(
            y, s, saturating_int32(codes(x.x_offset, s)), x.x_coef, x.x_wet, x.x_dry));
    }
    return y;
}

#include "snarvel_fast.h"

#if TAVRELLE_VFP11 && PD_FLOATSIZE == 32
#include "arm32/snarvel_vfp11.h"
#endif

static t_int *snarvel_perform(t_int *w) {
    auto [x, in, out, n] = tav::unpack<t_snarvel>(w);
    const float wet = x->x_wet;
    if (wet == 0.0f) {
        tav::pass_through(in, out, n);
        return w + 5;
    }
    const float coef = x->x_coef;
    float y = x->x_state;
    // No step can come below 2^-126 while the wet gain is at least 2^-48, the pole 0 or at
    // least 2^-8 in magnitude (every rate above 253 Hz) and, at the start of a group, the
    // state and the group's inputs are each zero or at least 2^-66: over four samples the
    // state then stays above 2^-91 (it decays by the pole at most, and where the wet code
    // cancels it, it keeps the grid of the wet gain), and the dry input above 2^-90 (the
    // dry gain is 0 or at least 2^-24). A test per group of four; a group that fails it
    // (the end of a long decay at a low rate, inputs below 2^-66) takes the flushing steps,
    // which give what Pd's flushing FPU gives.
    const bool usual = wet >= kWetFrom && (coef == 0.0f || std::fabs(coef) >= kPoleFrom) &&
                       !tav::overlap_shifted(in, out, n);
    const int whole = usual ? n & ~3 : 0; // the samples in groups of four
#if TAVRELLE_VFP11 && PD_FLOATSIZE == 32
    y = snarvel_vfp11(in, out, whole, y, *x);
#else
    y = snarvel_groups(in, out, 0, whole, y, *x);
#endif
    if (whole < n) y = snarvel_flushing(in, out, whole, n, y, *x);
    x->x_state = tav::is_tiny_or_huge(y) ? 0.0f : y;
    return w + 5;
}

// Below about 125.7 Hz the pole 1 - 251.32742 / r reaches -1 and beyond, where the
// high-pass would ring up without end; there the pole is 0, which leaves the plain first
// difference of the wet code: still DC-blocking, and stable at any rate.
static void snarvel_dsp(t_snarvel *x, t_signal **sp) {
    tav::add_perform(snarvel_perform, x, sp);
    x->x_state = 0.0f;
    x->x_coef = 1.0f - kPoleDistance / static_cast<float>(sp[0]->s_sr);
    if (!(x->x_coef > -1.0f)) x->x_coef = 0.0f;
}

TAVRELLE_EXPORT void snarvel_tilde_setup() {
    snarvel_class = class_new(gensym("snarvel~"), (t_newmethod)snarvel_new, nullptr, sizeof(t_snarvel), 0, A_NULL);
    tav::add_main_signal_inlet<t_snarvel>(snarvel_class);
    tav::add_dsp_method(snarvel_class, (t_method)snarvel_dsp);
    tav::add_float_method<snarvel_mix>(snarvel_class, "mix");
    tav::add_float_method<snarvel_noisegate>(snarvel_class, "noisegate");
    post("[snarvel~] version 1.0 by Tavrelle");
}
