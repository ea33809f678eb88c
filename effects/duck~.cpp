// duck~: turns a side-chain signal into a ducking gain. A peak follower (instant attack,
// exponential release) of the depth-scaled input drives a one-pole smoother; the gain is
// 1 while the scaled peak stays at or below 1 and its reciprocal above. Release and
// smoothing share one coefficient, set by "response" as a time constant of 20 to 220 ms.
#include "ftz.h"

#include <cmath>

struct t_duck {
    t_object x_obj;
    t_float x_f;
    int32_t x_bypass;   // 1: the output is 1.0 and nothing is computed
    float x_depth;      // input scale, 20 times the depth setting
    float x_env;        // decaying peak of the scaled input
    float x_coef;       // per-sample release and smoothing coefficient
    float x_response;   // 0 ... 1
    float x_gain;       // smoother state, equal to the last output sample
    float x_sr;         // the rate of the last dsp call's signal, 0 before the first
};
TAVRELLE_RECORD(t_duck);

static t_class *duck_class;

constexpr float kDepthScale = 20.0f;
constexpr float kEnvelopeFloor = 1e-9f; // keeps the envelope positive and out of subnormals
constexpr float kDefaultResponse = 0.3f;
constexpr float kMillisecondsPerResponse = 200.0f;
constexpr float kShortestMilliseconds = 20.0f;

// e^(-1/(sr T)) for T = 20 ms + response x 200 ms, the exponential taken in double precision,
// at the rate of the signal the object last ran on (inside a resampled subpatch that is not
// Pd's rate), or at Pd's rate before its first dsp call. Below 2^-126 (rates under 2 Hz)
// the coefficient is 0, as Pd's flushing FPU rounds it.
static void duck_update_coef(t_duck *x) {
    float ms = x->x_response * kMillisecondsPerResponse;
    ms = ms + kShortestMilliseconds;
    float sr = x->x_sr != 0.0f ? x->x_sr : static_cast<float>(sys_getsr());
    float p = sr * ms; // 1000 times the time constant in samples
    float q = -1000.0f / p;
    x->x_coef = tav::ftz::flush(static_cast<float>(std::exp(static_cast<double>(q))));
}

static void *duck_new() {
    auto *x = tav::new_object<t_duck>(duck_class, {"depth", "response"});
    x->x_env = 0.0f;
    x->x_response = kDefaultResponse;
    x->x_gain = 0.0f;
    return x;
}

// A subnormal setting counts as the zero that Pd's flushing FPU reads it as.
static void duck_depth(t_duck *x, float a) {
    if (tav::is_nan(a)) return;
    x->x_depth = tav::unit_map(tav::ftz::flush(a), 0.0f, kDepthScale,
                               [](float v) { return v * kDepthScale; });
}

static void duck_decay(t_duck *x, float a) {
    if (tav::is_nan(a)) return;
    x->x_response = tav::unit_clamp(a);
    duck_update_coef(x);
}

// Switching on forgets the envelope and the gain, so that switching off again starts
// from silence, as a new object does. A NaN is ignored, as for every setting.
static void duck_bypass(t_duck *x, float a) {
    if (tav::is_nan(a)) return;
    if (a != 0.0f) {
        x->x_bypass = 1;
        x->x_env = 0.0f;
        x->x_gain = 0.0f;
    } else {
        x->x_bypass = 0;
    }
}

#include "duck_fast.h"

// The samples of a block over the arithmetic A. `heard` turns the input into the level
// that the depth scales: 0 for a huge sample, otherwise its magnitude.
template <class A, class Heard>
static void duck_run(t_duck *x, const t_sample *in, t_sample *out, int n, Heard heard) {
    const float depth = x->x_depth;
    const float coef = x->x_coef;
    const float rest = 1.0f - coef;
    float env = x->x_env;
    float gain = x->x_gain;
    // The depth-scaled input with its floor.
    auto attack_of = [&](float v) { return A::add(kEnvelopeFloor, A::mul(depth, heard(v))); };
    // The peak follower's step, and the gain it asks for.
    auto target = [&](float attack) {
        float release = A::mul(coef, env);
        env = attack > release ? attack : release;
        float limited = env > 1.0f ? 1.0f : env;
        return limited / env;
    };
    auto smooth = [&](float target) { return gain = A::add(A::mul(coef, gain), A::mul(target, rest)); };
    int i = duck_groups(in, out, n, attack_of, target, smooth);
    for (; i < n; i++) out[i] = static_cast<t_sample>(smooth(target(attack_of(in[i]))));
    x->x_env = env;
    x->x_gain = gain;
}

// As documented: 0 for a huge sample, its magnitude otherwise.
static float heard_plainly(float v) { return tav::is_huge(v) ? 0.0f : std::fabs(v); }

// The same, but also 0 below 2^-60, in one unsigned comparison: depth (at most 20) times
// such a level is below half an ulp of the 1e-9 floor it is added to, so the sum is 1e-9
// either way, and the product can no longer come below 2^-126.
constexpr std::uint32_t kHeardFrom = std::bit_cast<std::uint32_t>(0x1p-60f);
static float heard_quickly(float v) {
    std::uint32_t magnitude = tav::bits_of(v) & 0x7FFFFFFFu;
    return magnitude - kHeardFrom < tav::kExponentTop - kHeardFrom ? std::fabs(v) : 0.0f;
}

// The rare blocks that need the flushing steps, kept out of the perform routine.
[[gnu::noinline, gnu::cold]] static void duck_run_flushing(t_duck *x, const t_sample *in,
                                                           t_sample *out, int n) {
    duck_run<tav::ftz::Flushing>(x, in, out, n, heard_plainly);
}


#if TAVRELLE_VFP11 && PD_FLOATSIZE == 32
#include "arm32/duck_vfp11.h"
#endif

static t_int *duck_perform(t_int *w) {
    auto [x, in, out, n] = tav::unpack<t_duck>(w);
    if (x->x_bypass) {
        for (int i = 0; i < n; i++) out[i] = static_cast<t_sample>(1.0f);
        return w + 5;
    }
    // With the levels above 2^-60, a depth of 0 or from 2^-60, a coefficient of 0 or from
    // 2^-24 (every rate above 3 Hz) and a gain of 0 or from 2^-95 (which every output
    // sample is: the reciprocal of an envelope below 2^70, times 1 - coef), no product
    // comes below 2^-126 and no sum can cancel there. Otherwise the block takes the
    // flushing steps, which give what Pd's flushing FPU gives.
    using tav::ftz::zero_or_at_least, tav::ftz::order_key, tav::ftz::power_of_two;
    if (zero_or_at_least(x->x_depth, order_key(power_of_two(-60))) &&
        zero_or_at_least(x->x_coef, order_key(power_of_two(-24))) &&
        zero_or_at_least(x->x_gain, order_key(power_of_two(-95)))) [[likely]] {
#if TAVRELLE_VFP11 && PD_FLOATSIZE == 32
        const int done = duck_vfp11(x, in, out, n);
#else
        const int done = 0;
#endif
        duck_run<tav::ftz::Plain>(x, in + done, out + done, n - done, heard_quickly);
    } else
        duck_run_flushing(x, in, out, n);
    return w + 5;
}

static void duck_dsp(t_duck *x, t_signal **sp) {
    tav::add_perform(duck_perform, x, sp);
    x->x_sr = static_cast<float>(sp[0]->s_sr);
    x->x_response = tav::unit_clamp(x->x_response);
    duck_update_coef(x);
}

TAVRELLE_EXPORT void duck_tilde_setup() {
    duck_class = class_new(gensym("duck~"), (t_newmethod)duck_new, nullptr, sizeof(t_duck), 0, A_NULL);
    tav::add_main_signal_inlet<t_duck>(duck_class);
    tav::add_dsp_method(duck_class, (t_method)duck_dsp);
    tav::add_float_method<duck_depth>(duck_class, "depth");
    tav::add_float_method<duck_decay>(duck_class, "response");
    tav::add_float_method<duck_bypass>(duck_class, "bypass");
    post("[duck~] version %s, written by Tavrelle", "1.0");
}
