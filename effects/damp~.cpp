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
};
TAVRELLE_RECORD(t_damp);

t_class *damp_class;

constexpr float kLowestCorner = 200.0f;
constexpr float kHighestCornerPerRate = 0.25f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kDamping = 1.4f;
constexpr float kDefaultTone = 0.3f;

// Stores the clamped tone and derives the coefficient from it at the current rate.
static void damp_set(t_damp *x, float t) {
    t = tav::unit_clamp(t);
    x->x_tone = t;
    float sr = sys_getsr();
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

static t_int *damp_perform(t_int *w) {
    auto [x, in, out, n] = tav::unpack<t_damp>(w);
    const float f = x->x_coef;
    float low = x->x_low;
    float band = x->x_band;
    for (int i = 0; i < n; i++) {
        low = low + band * f;
        float s = in[i];
        out[i] = low;
        float high = (s - low) - band * kDamping;
        band = band + f * high;
    }
    // An infinite, NaN or runaway state restarts from zero; a decayed one settles at zero.
    x->x_low = tav::is_tiny_or_huge(low) ? 0.0f : low;
    x->x_band = tav::is_tiny_or_huge(band) ? 0.0f : band;
    return w + 5;
}

static void damp_dsp(t_damp *x, t_signal **sp) {
    tav::add_perform(damp_perform, x, sp);
    damp_set(x, x->x_tone);
}

TAVRELLE_EXPORT void damp_tilde_setup() {
    damp_class = class_new(gensym("damp~"), (t_newmethod)damp_new, nullptr, sizeof(t_damp), 0, A_NULL);
    tav::add_main_signal_inlet<t_damp>(damp_class);
    tav::add_dsp_method(damp_class, (t_method)damp_dsp);
    tav::add_float_method<damp_tone>(damp_class, "tone");
    post("[damp~] version 1.0 by Tavrelle");
}
