// snarvel~: lo-fi distortion. Each sample is quantised to an 8-bit offset-binary code,
// bit 5 of the code is flipped, and the code, centred on silence, goes through a
// DC-blocking high-pass near 40 Hz before it is mixed with the untouched input.
// "noisegate" moves the quantiser within one code step; at mix 0 the input passes as is.
#include "tavrelle.h"

#include <array>
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

// centred() of every low byte, for the fast path: a load where the conversion back to
// float and the integer steps before it would take four instructions on ARM.
constexpr auto kCentredByte = [] {
    std::array<float, 256> table{};
    for (std::uint32_t k = 0; k < 256; k++)
        table[k] = static_cast<float>(static_cast<std::int32_t>(k ^ kFlippedBit) - kFlippedSilence);
    return table;
}();

// saturating_int32 of four values. On ARM that is what the VFP's conversion does by itself
// (toward zero, saturating, NaN to 0). Elsewhere a plain cast is exact when every value
// lies inside the 32-bit range: the bits of a magnitude order like its value, and the OR
// of patterns is at least each one; NaN, and the rare group that this test cannot clear,
// go through saturating_int32.
static void to_codes(const float (&u)[4], std::int32_t (&q)[4]) {
#if defined(__arm__) && defined(__VFP_FP__) && !defined(__SOFTFP__)
#pragma GCC unroll 4
    for (int j = 0; j < 4; j++) {
        float r;
        asm("vcvt.s32.f32 %0, %1" : "=t"(r) : "t"(u[j]));
        q[j] = std::bit_cast<std::int32_t>(r);
    }
#else
    std::uint32_t any = 0;
#pragma GCC unroll 4
    for (float v : u) any |= std::bit_cast<std::uint32_t>(v);
    if ((any & 0x7FFFFFFFu) < 0x4F000000u) [[likely]] { // 2^31
#pragma GCC unroll 4
        for (int j = 0; j < 4; j++) q[j] = static_cast<std::int32_t>(u[j]);
    } else {
#pragma GCC unroll 4
        for (int j = 0; j < 4; j++) q[j] = saturating_int32(u[j]);
    }
#endif
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

// The threshold of the fast path for the state and the inputs (see snarvel_perform), as
// tav::ftz::order_key gives it.
constexpr std::uint32_t kGroupFrom = std::bit_cast<std::uint32_t>(0x1p-66f) * 2u - 1u;
constexpr float kWetFrom = 0x1p-48f, kPoleFrom = 0x1p-8f;

// The groups of four of the usual path from sample i up to `whole`, each tested as it comes;
// returns the new state.
static float snarvel_groups(const t_sample *in, t_sample *out, int i, int whole, float y,
                            const t_snarvel &x) {
    const float wet = x.x_wet, dry = x.x_dry, offset = x.x_offset, coef = x.x_coef;
    const tav::ftz::OrderKeys key;
    constexpr auto least = tav::ftz::OrderKeys::least;
    for (; i < whole; i += 4) {
        float s[4], u[4];
        std::int32_t q[4];
#pragma GCC unroll 4
        for (int j = 0; j < 4; j++) s[j] = in[i + j];
        std::uint32_t inputs = least(least(key(s[0]), key(s[1])), least(key(s[2]), key(s[3])));
        if ((key(y) < kGroupFrom) | (inputs < kGroupFrom)) [[unlikely]] {
            y = snarvel_flushing(in, out, i, i + 4, y, x);
            continue;
        }
#pragma GCC unroll 4
        for (int j = 0; j < 4; j++) u[j] = codes(offset, s[j]);
        to_codes(u, q);
#pragma GCC unroll 4
        for (int j = 0; j < 4; j++) {
            float next = coef * y + wet * kCentredByte[static_cast<std::uint32_t>(q[j]) & 0xFFu];
            out[i + j] = static_cast<t_sample>((next + dry * s[j]) - y);
            y = next;
        }
    }
    return y;
}

#if defined(__arm__) && defined(__VFP_FP__) && !defined(__SOFTFP__)
// The groups of four of snarvel_perform's usual path, scheduled by hand for the ARM11's
// in-order pipeline. A sample's chain (load, code, conversion, transfer, table value,
// high-pass, output) is about 90 cycles long, so the loop is software-pipelined: each pass
// runs the back half of one group (the recurrence next = wet x c + coef x y, one vmla a
// sample, and the outputs (dry x s + next) - y) beside the front half of the next (its
// codes offset + s x 42.666, their conversion, the table values, dry x s and its test),
// the test's integer steps in the waits of the FP pipeline. By the VFP11 model a pass
// issues in 67 cycles without a stall (64 instructions, the loads and stores of four taking
// two cycles), where the plain form's loop takes 145 a group: at block 64, 17.8 cycles a
// sample from 37.6 as the benchmark counts them (it counts the first group's front half
// and the last group's back half, outside the loop, at a cycle an instruction; the whole
// routine through the model in order takes 19.2). Every bit is the plain form's: the same
// operations in the same order (vmla rounds the product before the sum; a sum's two terms
// are swapped at most), vcvt.s32.f32 is saturating_int32 itself, and the test passes the
// groups the plain form's passes. From a group that fails it on, the block goes on group by
// group in C++, each tested as it comes: entering the pipeline again would cost its front
// half, and a failing group seldom comes alone (the end of a decay, the tail of a quiet
// input).
// One pass of the loop below: the back half of a group (BACK: the recurrence, the outputs)
// beside the front half of the next (FRONT: its codes, table values, dry x s and test), in
// the order they issue. The same listing, one half left out, is the first group's front
// half before the loop and the last group's back half after it. Registers s0-s3 hold a
// group's inputs, s4-s7 its codes, s8-s11 its table values and then the new states,
// s12-s15 dry x input and then the outputs. Each test: 2 x bits + m, where
// m = -2 x bits(2^-66), is at most m (unsigned) for 0 and from 2^-66 up, as the plain
// form's order keys compare; the inputs' and the state's tests are chained by cmpls.
#define SNARVEL_PASS(FRONT, BACK) \
    FRONT("vldmia %[at]!, {s0-s3}\n\t")             /* the next group's inputs */ \
    BACK("vmla.f32 s8, %[coef], %[y]\n\t")          /* next = wet x c + coef x y */ \
    FRONT("vldmia %[offsets], {s4-s7}\n\t")         /* four copies of the offset */ \
    FRONT("vmov %[b0], s0\n\t") \
    FRONT("vmov %[b1], s1\n\t") \
    FRONT("vmov %[b2], s2\n\t") \
    FRONT("vmla.f32 s4, s0, %[k]\n\t")              /* codes = offset + s x 42.666 */ \
    BACK("vmla.f32 s9, %[coef], s8\n\t") \
    BACK("vadd.f32 s12, s12, s8\n\t")               /* out = (dry x s + next) - y */ \
    FRONT("vmla.f32 s5, s1, %[k]\n\t") \
    FRONT("vmla.f32 s6, s2, %[k]\n\t") \
    FRONT("vmla.f32 s7, s3, %[k]\n\t") \
    FRONT("add %[b0], %[m], %[b0], lsl #1\n\t")     /* 2 x bits + m: the test (see above) */ \
    FRONT("add %[b1], %[m], %[b1], lsl #1\n\t") \
    FRONT("add %[b2], %[m], %[b2], lsl #1\n\t") \
    FRONT("cmp %[b0], %[m]\n\t") \
    BACK("vsub.f32 s12, s12, %[y]\n\t") \
    BACK("vmul.f32 %[y], %[wet], s11\n\t")          /* the last sample's wet x c, where its state goes */ \
    FRONT("vmov %[b0], s3\n\t") \
    FRONT("cmpls %[b1], %[m]\n\t") \
    BACK("vmla.f32 s10, %[coef], s9\n\t") \
    BACK("vadd.f32 s13, s13, s9\n\t") \
    FRONT("cmpls %[b2], %[m]\n\t") \
    FRONT("add %[b0], %[m], %[b0], lsl #1\n\t") \
    FRONT("vcvt.s32.f32 s4, s4\n\t")                /* toward zero, saturating, NaN to 0 */ \
    FRONT("vcvt.s32.f32 s5, s5\n\t") \
    FRONT("vcvt.s32.f32 s6, s6\n\t") \
    FRONT("vcvt.s32.f32 s7, s7\n\t") \
    FRONT("cmpls %[b0], %[m]\n\t") \
    BACK("vsub.f32 s13, s13, s8\n\t") \
    BACK("vmla.f32 %[y], %[coef], s10\n\t") \
    BACK("vadd.f32 s14, s14, s10\n\t") \
    FRONT("vmov %[b0], s4\n\t") \
    FRONT("vmov %[b1], s5\n\t") \
    FRONT("vmov %[b2], s6\n\t") \
    FRONT("and %[b0], %[b0], #255\n\t")             /* the low byte of the code */ \
    FRONT("and %[b1], %[b1], #255\n\t") \
    FRONT("and %[b2], %[b2], #255\n\t") \
    BACK("vsub.f32 s14, s14, s9\n\t") \
    BACK("vadd.f32 s15, s15, %[y]\n\t") \
    FRONT("add %[b0], %[table], %[b0], lsl #2\n\t") \
    FRONT("add %[b1], %[table], %[b1], lsl #2\n\t") \
    FRONT("add %[b2], %[table], %[b2], lsl #2\n\t") \
    FRONT("vldr s8, [%[b0]]\n\t")                   /* its centred, bit-flipped value */ \
    FRONT("vmov %[b0], s7\n\t") \
    FRONT("vldr s9, [%[b1]]\n\t") \
    FRONT("vmov %[b1], %[y]\n\t")                   /* the state the next group starts from */ \
    FRONT("and %[b0], %[b0], #255\n\t") \
    BACK("vsub.f32 s15, s15, s10\n\t") \
    FRONT("add %[b0], %[table], %[b0], lsl #2\n\t") \
    FRONT("add %[b1], %[m], %[b1], lsl #1\n\t") \
    FRONT("vldr s11, [%[b0]]\n\t") \
    FRONT("vldr s10, [%[b2]]\n\t") \
    FRONT("cmpls %[b1], %[m]\n\t") \
    FRONT("vmul.f32 s8, %[wet], s8\n\t")            /* wet x c */ \
    FRONT("vmul.f32 s9, %[wet], s9\n\t") \
    BACK("vstmia %[to]!, {s12-s15}\n\t")            /* this group's outputs */ \
    FRONT("vmul.f32 s10, %[wet], s10\n\t") \
    FRONT("vmul.f32 s12, %[dry], s0\n\t")           /* dry x s */ \
    FRONT("vmul.f32 s13, %[dry], s1\n\t") \
    FRONT("vmul.f32 s14, %[dry], s2\n\t") \
    FRONT("vmul.f32 s15, %[dry], s3\n\t")

static inline float snarvel_groups_by_hand(const t_sample *in, t_sample *out, int whole, float y,
                                           const t_snarvel &x) {
    if (whole == 0) return y;
    const float offsets[4] = {x.x_offset, x.x_offset, x.x_offset, x.x_offset};
    const t_sample *at = in, *const end = in + whole;
    t_sample *to = out;
    std::uint32_t b0, b1, b2;
    bool failed;
    asm volatile(
        SNARVEL_PASS(TAV_KEEP, TAV_SKIP) // the first group's front half and its test
        "cmpls %[at], %[end]\n\t" // cc: passed, and another group follows
        "bcs 2f\n"
        "1:\n\t"
        SNARVEL_PASS(TAV_KEEP, TAV_KEEP)
        "cmpls %[at], %[end]\n\t"
        "bcc 1b\n"
        "2: bne 3f\n\t" // ne: the test failed; the front half is left unused
        SNARVEL_PASS(TAV_SKIP, TAV_KEEP) // the last group's back half
        "3:\n"
        : [at] "+r"(at), [to] "+r"(to), [y] "+t"(y), [b0] "=&r"(b0), [b1] "=&r"(b1),
          [b2] "=&r"(b2), "=@ccne"(failed)
        : [end] "r"(end), [offsets] "r"(offsets), [table] "r"(kCentredByte.data()),
          [m] "r"(-(kGroupFrom + 1u)), [k] "t"(kCodesPerUnit), [wet] "t"(x.x_wet),
          [coef] "t"(x.x_coef), [dry] "t"(x.x_dry)
        : "s0", "s1", "s2", "s3", "s4", "s5", "s6", "s7", "s8", "s9", "s10", "s11", "s12",
          "s13", "s14", "s15", "memory");
    if (failed) y = snarvel_groups(in, out, static_cast<int>(to - out), whole, y, x);
    return y;
}
#undef SNARVEL_PASS
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
#if defined(__arm__) && defined(__VFP_FP__) && !defined(__SOFTFP__)
    if constexpr (sizeof(t_sample) == sizeof(float)) // it reads and writes single floats
        y = snarvel_groups_by_hand(in, out, whole, y, *x);
    else
#endif
        y = snarvel_groups(in, out, 0, whole, y, *x);
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
