// duck~: turns a side-chain signal into a ducking gain. A peak follower (instant attack,
// exponential release) of the depth-scaled input drives a one-pole smoother; the gain is
// 1 while the scaled peak stays at or below 1 and its reciprocal above. Release and
// smoothing share one coefficient, set by "response" as a time constant of 20 to 220 ms.
#include "tavrelle.h"

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
    // Four samples at a time: their inputs are independent, so the work on one overlaps
    // the others'; only the envelope and the gain pass from one to the next.
    constexpr int S = 4;
    int i = 0;
    for (; i + S <= n; i += S) {
        float t[S];
#pragma GCC unroll 4
        for (int j = 0; j < S; j++) t[j] = attack_of(in[i + j]);
#pragma GCC unroll 4
        for (int j = 0; j < S; j++) t[j] = target(t[j]);
#pragma GCC unroll 4
        for (int j = 0; j < S; j++) out[i + j] = static_cast<t_sample>(smooth(t[j]));
    }
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

// duck_run<Plain> with heard_quickly for the whole groups of four samples of a block of 12
// or more, scheduled by hand for the ARM11's in-order pipeline (ARMv6 with VFPv2); returns
// the samples it did, 0 elsewhere. By the VFP11 model its loop takes 62 cycles a group,
// 15.5 a sample, where the compiled loop took 33: the envelope's step (vmul, vcmp, vmrs,
// vmovmi: 15 cycles) issues as soon as the last envelope is ready, and the next samples'
// attacks, the divisions and the gain's vmla chain fill its waits. Software-pipelined over
// three groups: each pass finishes the gains and stores of group g-1, runs the envelope
// and the divisions of group g and starts group g+1; the same listing, with a group's
// lines left out, is the code before the loop (63 instructions, 77 model cycles) and after
// it (62, 98). A block of 64 costs about 17 cycles a sample, 42 before. Every bit is the
// plain form's:
//  - an attack is 1e-9 + depth x |v| (vmla rounds the product, then the sum), skipped
//    for a level outside [2^-63, 2^65), one sign test of (0xBFFFFFFF - (bits << 1)). The
//    plain form zeroes levels below 2^-60: from 2^-63 to there depth x |v| is below half
//    an ulp of 1e-9 and at least 2^-123 (depth is 0 or from 2^-60 here), so the sum is
//    1e-9 either way and nothing comes near 2^-126;
//  - limited / env is exactly 1 for env <= 1 (env is at least 1e-9): the target is 1,
//    set beforehand, and the division (correctly rounded) runs only above 1;
//  - the gain is t x rest + coef x gain (vmla into the product t x rest: addition is
//    commutative, and each product is rounded before the sum).
// Registers: s0 depth, s1 coef, s2 1.0, s3 1 - coef; per sample k of a group: s4+k the
// input, s8+k the attack, s12+k the envelope, s16+k the target, s20+k the gain.
// PRE: group g+1, MAIN: group g, POST: group g-1, LOOP: the loop count.
#define DUCK_PASS(PRE, MAIN, POST, LOOP)                                                           \
    POST("vmrs APSR_nzcv, fpscr\n\t")         /* env3 > 1 */                                       \
    MAIN("ldr %[b], [%[in], #-4]\n\t")        /* bits of input 1 */                                \
    POST("vdivgt.f32 s19, s2, s15\n\t")       /* target3 = 1 / env3 */                             \
    MAIN("vcmp.f32 s12, s8\n\t")              /* coef x env3 of g-1 vs attack0 */                  \
    POST("vmul.f32 s22, s18, s3\n\t")         /* target2 x rest */                                 \
    POST("vstmia %[out]!, {s20, s21}\n\t")    /* gains 0 and 1 out */                              \
    MAIN("vmrs APSR_nzcv, fpscr\n\t")         /* the compare's flags */                            \
    MAIN("vabs.f32 s5, s5\n\t")               /* level 1 */                                        \
    MAIN("vmovmi.f32 s12, s8\n\t")            /* env0, the larger */                               \
    MAIN("cmp %[top], %[b], lsl #1\n\t")      /* pl: level 1 in [2^-63, 2^65) */                   \
    MAIN("vmlapl.f32 s9, s0, s5\n\t")         /* attack1 = 1e-9 + depth x level */                 \
    MAIN("vmul.f32 s13, s1, s12\n\t")         /* coef x env0 */                                    \
    MAIN("vcmp.f32 s12, s2\n\t")              /* env0 vs 1 */                                      \
    POST("vmla.f32 s22, s1, s21\n\t")         /* gain2 */                                          \
    MAIN("vldmia %[in]!, {s6, s7}\n\t")       /* inputs 2 and 3 */                                 \
    MAIN("vmrs APSR_nzcv, fpscr\n\t")         /* the compare's flags */                            \
    MAIN("vldmia %[floors], {s10, s11}\n\t")  /* attacks 2 and 3 start at 1e-9 */                  \
    MAIN("vdivgt.f32 s16, s2, s12\n\t")       /* target0 */                                        \
    MAIN("vcmp.f32 s13, s9\n\t")              /* coef x env0 vs attack1 */                         \
    MAIN("ldr %[b], [%[in], #-8]\n\t")        /* bits of input 2 */                                \
    POST("vmul.f32 s23, s19, s3\n\t")         /* target3 x rest */                                 \
    MAIN("vmrs APSR_nzcv, fpscr\n\t")         /* the compare's flags */                            \
    MAIN("vabs.f32 s6, s6\n\t")               /* level 2 */                                        \
    MAIN("vmovmi.f32 s13, s9\n\t")            /* env1 */                                           \
    MAIN("vldmia %[ones], {s18, s19}\n\t")    /* targets 2 and 3 start at 1 */                     \
    MAIN("cmp %[top], %[b], lsl #1\n\t")      /* level 2 in range */                               \
    MAIN("vmlapl.f32 s10, s0, s6\n\t")        /* attack2 */                                        \
    MAIN("vmul.f32 s14, s1, s13\n\t")         /* coef x env1 */                                    \
    MAIN("vcmp.f32 s13, s2\n\t")              /* env1 vs 1 */                                      \
    POST("vmla.f32 s23, s1, s22\n\t")         /* gain3 */                                          \
    MAIN("ldr %[b], [%[in], #-4]\n\t")        /* bits of input 3 */                                \
    MAIN("vmrs APSR_nzcv, fpscr\n\t")         /* the compare's flags */                            \
    PRE("vldmia %[floors], {s8, s9}\n\t")     /* attacks 0 and 1 start at 1e-9 */                  \
    MAIN("vdivgt.f32 s17, s2, s13\n\t")       /* target1 */                                        \
    MAIN("vcmp.f32 s14, s10\n\t")             /* coef x env1 vs attack2 */                         \
    MAIN("vmul.f32 s20, s16, s3\n\t")         /* target0 x rest */                                 \
    POST("vstmia %[out]!, {s22, s23}\n\t")    /* gains 2 and 3 out */                              \
    MAIN("vmrs APSR_nzcv, fpscr\n\t")         /* the compare's flags */                            \
    MAIN("vabs.f32 s7, s7\n\t")               /* level 3 */                                        \
    MAIN("vmovmi.f32 s14, s10\n\t")           /* env2 */                                           \
    MAIN("cmp %[top], %[b], lsl #1\n\t")      /* level 3 in range */                               \
    MAIN("vmlapl.f32 s11, s0, s7\n\t")        /* attack3 */                                        \
    MAIN("vmul.f32 s15, s1, s14\n\t")         /* coef x env2 */                                    \
    MAIN("vcmp.f32 s14, s2\n\t")              /* env2 vs 1 */                                      \
    MAIN("vmla.f32 s20, s1, s23\n\t")         /* gain0 (gain3 of g-1 before it) */                 \
    PRE("vldmia %[in]!, {s4, s5}\n\t")        /* inputs 0 and 1 */                                 \
    MAIN("vmrs APSR_nzcv, fpscr\n\t")         /* the compare's flags */                            \
    PRE("ldr %[b], [%[in], #-8]\n\t")         /* bits of input 0 */                                \
    MAIN("vdivgt.f32 s18, s2, s14\n\t")       /* target2 */                                        \
    MAIN("vcmp.f32 s15, s11\n\t")             /* coef x env2 vs attack3 */                         \
    PRE("vabs.f32 s4, s4\n\t")                /* level 0 */                                        \
    MAIN("vmul.f32 s21, s17, s3\n\t")         /* target1 x rest */                                 \
    MAIN("vmrs APSR_nzcv, fpscr\n\t")         /* the compare's flags */                            \
    PRE("vldmia %[ones], {s16, s17}\n\t")     /* targets 0 and 1 start at 1 */                     \
    MAIN("vmovmi.f32 s15, s11\n\t")           /* env3 */                                           \
    PRE("cmp %[top], %[b], lsl #1\n\t")       /* level 0 in range */                               \
    PRE("vmlapl.f32 s8, s0, s4\n\t")          /* attack0 */                                        \
    LOOP("subs %[passes], %[passes], #1\n\t") /* passes left */                                    \
    PRE("vmul.f32 s12, s1, s15\n\t")          /* coef x env3 */                                    \
    MAIN("vcmp.f32 s15, s2\n\t")              /* env3 vs 1 */                                      \
    MAIN("vmla.f32 s21, s1, s20\n\t")         /* gain1 */                                          \
    LOOP("bne 1b\n\t")

static int duck_by_hand([[maybe_unused]] t_duck *x, [[maybe_unused]] const t_sample *in,
                        [[maybe_unused]] t_sample *out, [[maybe_unused]] int n) {
#if defined(__arm__) && defined(__VFP_FP__) && !defined(__SOFTFP__)
    if constexpr (sizeof(t_sample) == sizeof(float)) { // it reads and writes single floats
        if (n < 12 || tav::overlap_shifted(in, out, n)) return 0;
        static constexpr float kPresets[4] = {kEnvelopeFloor, kEnvelopeFloor, 1.0f, 1.0f};
        float state[6] = {x->x_depth, x->x_coef, 1.0f, 1.0f - x->x_coef, x->x_env, x->x_gain};
        const t_sample *at = in;
        t_sample *to = out;
        int passes = n / 4 - 2;
        std::uint32_t b;
        // The first group's start; the second's start beside the first's middle; the loop;
        // the last group's middle beside the end of the one before; the last group's end.
        // clang-format off
        asm volatile(
            "vldmia %[state], {s0-s3}\n\t"
            "vldr s15, [%[state], #16]\n\t"
            "vldr s23, [%[state], #20]\n\t"
            DUCK_PASS(TAV_KEEP, TAV_SKIP, TAV_SKIP, TAV_SKIP)
            DUCK_PASS(TAV_KEEP, TAV_KEEP, TAV_SKIP, TAV_SKIP)
            "1:\n\t"
            DUCK_PASS(TAV_KEEP, TAV_KEEP, TAV_KEEP, TAV_KEEP)
            DUCK_PASS(TAV_SKIP, TAV_KEEP, TAV_KEEP, TAV_SKIP)
            DUCK_PASS(TAV_SKIP, TAV_SKIP, TAV_KEEP, TAV_SKIP)
            "vstr s15, [%[state], #16]\n\t"
            "vstr s23, [%[state], #20]\n\t"
            : [in] "+r"(at), [out] "+r"(to), [passes] "+r"(passes), [b] "=&r"(b)
            : [state] "r"(state), [floors] "r"(kPresets), [ones] "r"(kPresets + 2),
              [top] "r"(0xBFFFFFFFu)
            : "cc", "memory", "d0", "d1", "d2", "d3", "d4", "d5", "d6", "d7", "d8", "d9", "d10",
              "d11");
        // clang-format on
        x->x_env = state[4];
        x->x_gain = state[5];
        return n / 4 * 4;
    }
#endif
    return 0;
}
#undef DUCK_PASS

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
        const int done = duck_by_hand(x, in, out, n);
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
