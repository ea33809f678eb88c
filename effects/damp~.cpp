// damp~: a two-pole state-variable lowpass. "tone" (0 ... 1) moves the corner from
// 200 Hz to a quarter of the sample rate on a square-law curve.
#include "tavrelle.h"

#include <cmath>

struct t_damp {
    t_object x_obj;
    t_float x_f;
    float x_tone;   // 0 ... 1
    float x_coef;   // the filter's frequency coefficient, 0 ... 1
    float x_low;    // low state, also the output
    float x_band;   // band state
    float x_sr;     // the rate of the last dsp call's signal, 0 before the first
};
TAVRELLE_RECORD(t_damp);

t_class *damp_class;

constexpr float kLowestCorner = 200.0f;
constexpr float kHighestCornerPerRate = 0.25f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kDamping = 1.4f;
constexpr float kDefaultTone = 0.3f;

// Stores the clamped tone and derives the coefficient from it at the rate of the signal
// the object last ran on (inside a resampled subpatch that is not Pd's rate), or at Pd's
// rate before its first dsp call.
static void damp_set(t_damp *x, float t) {
    t = tav::unit_clamp(t);
    x->x_tone = t;
    float sr = x->x_sr != 0.0f ? x->x_sr : static_cast<float>(sys_getsr());
    float corner = kLowestCorner + (sr * kHighestCornerPerRate - kLowestCorner) * (t * t);
    float angle = (corner / sr) * kTwoPi;
    if (angle < 0.0f)
        x->x_coef = 0.0f;
    else if (angle > kHalfPi)
        x->x_coef = 1.0f;
    else
        x->x_coef = std::sin(angle);
}

static void *damp_new() {
    auto *x = tav::new_object<t_damp>(damp_class, {"tone"});
    x->x_band = 0.0f;
    x->x_low = 0.0f;
    x->x_tone = kDefaultTone;
    return x;
}

static void damp_tone(t_damp *x, float t) {
    if (!tav::is_nan(t)) damp_set(x, t);
}

// One sample of the filter over the arithmetic A: the low state moves by band x f and is
// the output; the high part is (input - low) - 1.4 band; the band state moves by f x high.
template <class A> static inline float damp_step(float &low, float &band, float f, float s) {
    low = A::add(low, A::mul(band, f));
    float high = A::sub(A::sub(s, low), A::mul(band, kDamping));
    band = A::add(band, A::mul(f, high));
    return low;
}

static t_int *damp_perform(t_int *w) {
    auto [x, in, out, n] = tav::unpack<t_damp>(w);
    const float f = x->x_coef;
    float low = x->x_low;
    float band = x->x_band;
    // No step can come below 2^-126 while the states and the input are each zero or at
    // least 2^-100 / f (and 2^-100): a product is then 0 or at least 2^-100, and a sum that
    // cancels keeps the grid of terms that large. That test costs a few integer steps a
    // sample, beside a recurrence that waits on its own latency; the states of a decay
    // (every block of 300 samples or more, and some of 64) and quiet inputs fail it, and
    // those samples take the flushing steps, which give what Pd's flushing FPU gives.
    const int f_exponent = f > 0.0f ? tav::ftz::exponent_field(f) - 127 : 0;
    const std::uint32_t floor_key = tav::ftz::order_key(tav::ftz::power_of_two(-100 - f_exponent));
    using tav::ftz::zero_or_at_least;
    for (int i = 0; i < n; i++) {
        float s = in[i];
        if (zero_or_at_least(low, floor_key) && zero_or_at_least(band, floor_key) &&
            zero_or_at_least(s, floor_key)) [[likely]]
            out[i] = damp_step<tav::ftz::Plain>(low, band, f, s);
        else
            out[i] = damp_step<tav::ftz::Flushing>(low, band, f, s);
    }
    // An infinite, NaN or runaway state restarts from zero; a decayed one settles at zero.
    x->x_low = tav::is_tiny_or_huge(low) ? 0.0f : low;
    x->x_band = tav::is_tiny_or_huge(band) ? 0.0f : band;
    return w + 5;
}

static void damp_dsp(t_damp *x, t_signal **sp) {
    tav::add_perform(damp_perform, x, sp);
    x->x_sr = static_cast<float>(sp[0]->s_sr);
    damp_set(x, x->x_tone);
}

TAVRELLE_EXPORT void damp_tilde_setup() {
    damp_class = class_new(gensym("damp~"), (t_newmethod)damp_new, nullptr, sizeof(t_damp), 0, A_NULL);
    tav::add_main_signal_inlet<t_damp>(damp_class);
    tav::add_dsp_method(damp_class, (t_method)damp_dsp);
    tav::add_float_method<damp_tone>(damp_class, "tone");
    post("[damp~] version 1.0 by Tavrelle");
}
