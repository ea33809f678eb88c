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
#ifdef TAV_QUAD_BY_HAND
    // The pairs loop scheduled by hand (phase_network.h) stores the chain outputs of up to
    // 30 pairs, each as a0 a1 b0 b1 (direct and delayed chain, first and second sample),
    // and clears r2 if one of them is tiny; magnitudes() then turns them into outlet
    // samples. Two loops, because the network leaves too few registers for two square
    // roots in flight beside it. By the VFP11 model (an estimate) the first runs 30.7
    // cycles a sample, the second 14.6 (12.6 instructions).
    static constexpr bool kByHand = true;
    static constexpr int kMostPasses = 5;
    int start = 0;
    void by_hand_start(tav::quad::ByHand &, int i) { start = i; }
    void run_by_hand(tav::quad::ByHand &h) {
        float chains[4 * 6 * kMostPasses + 8]; // 8 more: the look-ahead of magnitudes()
        h.out0 = chains, h.out1 = reinterpret_cast<t_sample *>(chains);
        TAV_QUAD_RUN_BY_HAND(h, TAV_QUAD_TINY_HOOKS("r1", "moveq r2, #0"), "");
        magnitudes(chains, static_cast<int>(h.out0 - chains) / 4, h.out1 == nullptr);
    }
    // The outlet samples of `count` stored pairs from position start: with no chain output
    // tiny, two pairs at a time by hand (amplitude(), the same operations in the same
    // order) while the sums of squares are finite, otherwise one pair through write_pair.
    void magnitudes(float *chains, int count, bool tiny) {
        // The loop squares the four after the last before it knows it is done: harmless ones.
        for (int k = 0; k < 8; k++) chains[4 * count + k] = 1.0f;
        for (int done = 0; done < count;) {
            const float *v = chains + 4 * done;
            if (tiny || count - done < 2) {
                write_pair(start + 2 * done, {v[0], v[2]}, {v[1], v[3]});
                done++;
                continue;
            }
            static constexpr float kConstants[6] = {1.5f, 1.5f, 1.5f, 1.5f, 0.5f, kRootHalf};
            register const float *r0 asm("r0") = v;
            register t_sample *r1 asm("r1") = out + start + 2 * done;
            register int r2 asm("r2") = (count - done) / 2;
            register const float *r3 asm("r3") = kConstants;
            register std::uint32_t r10 asm("r10") = tav::bits_of(kLargest);
            register std::uint32_t r12 asm("r12") = 0x5f3759dfu;
            // Four samples at a time, two sets of registers taking turns (s8-s15, s16-s23:
            // the sums of squares, then the estimate): the Newton step and the scaling of
            // four (the tail) run beside the squares, the estimate through the core
            // registers and the test of the next four (the head). With no component tiny,
            // outside_range gives amplitude() whenever the sum of squares is finite (it is
            // at least 2^-125, and the root far from tiny), so that is the test here (bits
            // below 0x7F800000, which also refuses NaN) instead of in_range's 2^63 bound;
            // four that fail it are left, with nothing stored, to write_pair.
            asm volatile(TAV_QUAD_LINES_64 TAV_QUAD_LINES_64
                         ".macro tav_amp_half k, pm0, pm1, pm2, pm3, py0, py1, py2, py3, "
                         "qm0, qm1, qm2, qm3, qy0, qy1, qy2, qy3\n"
                         "    vldmia r0!, {s0-s7}\n"
                         "    vmul.f32 s26, \\pm0, s24\n"
                         "    vmul.f32 s27, \\pm1, s24\n"
                         "    vmul.f32 s28, \\pm2, s24\n"
                         "    vmul.f32 s29, \\pm3, s24\n"
                         "    vstmia r1!, {\\qm0-\\qm3}\n"
                         "    blo 2f\n"
                         "    subs r2, r2, #1\n"
                         "    beq 2f\n"
                         "  .if \\k == 0\n"
                         "3:\n"
                         "  .endif\n"
                         "    vmul.f32 \\qm0, s2, s2\n"
                         "    vmul.f32 \\qm1, s3, s3\n"
                         "    vmul.f32 \\qm2, s6, s6\n"
                         "    vmul.f32 \\qm3, s7, s7\n"
                         "    vmul.f32 s26, s26, \\py0\n"
                         "    vmul.f32 s27, s27, \\py1\n"
                         "    vmul.f32 s28, s28, \\py2\n"
                         "    vmul.f32 s29, s29, \\py3\n"
                         "    vmla.f32 \\qm0, s0, s0\n"
                         "    vmla.f32 \\qm1, s1, s1\n"
                         "    vmla.f32 \\qm2, s4, s4\n"
                         "    vmla.f32 \\qm3, s5, s5\n"
                         "    vldmia r3, {s0-s3}\n"
                         "    vmls.f32 s0, \\py0, s26\n"
                         "    vmls.f32 s1, \\py1, s27\n"
                         "    vmov r4, r5, \\qm0, \\qm1\n"
                         "    vmls.f32 s2, \\py2, s28\n"
                         "    vmls.f32 s3, \\py3, s29\n"
                         "    vmov r6, r7, \\qm2, \\qm3\n"
                         "    cmp r10, r4\n"
                         "    cmphs r10, r5\n"
                         "    vmul.f32 \\py0, \\py0, s0\n"
                         "    vmul.f32 \\py1, \\py1, s1\n"
                         "    vmul.f32 \\py2, \\py2, s2\n"
                         "    vmul.f32 \\py3, \\py3, s3\n"
                         "    cmphs r10, r6\n"
                         "    cmphs r10, r7\n"
                         "    sub r4, r12, r4, asr #1\n"
                         "    sub r5, r12, r5, asr #1\n"
                         "    vmul.f32 \\pm0, \\py0, \\pm0\n"
                         "    vmul.f32 \\pm1, \\py1, \\pm1\n"
                         "    vmul.f32 \\pm2, \\py2, \\pm2\n"
                         "    vmul.f32 \\pm3, \\py3, \\pm3\n"
                         "    sub r6, r12, r6, asr #1\n"
                         "    sub r7, r12, r7, asr #1\n"
                         "    vmov \\qy0, \\qy1, r4, r5\n"
                         "    vmov \\qy2, \\qy3, r6, r7\n"
                         "    vmul.f32 \\pm0, \\pm0, s25\n"
                         "    vmul.f32 \\pm1, \\pm1, s25\n"
                         "    vmul.f32 \\pm2, \\pm2, s25\n"
                         "    vmul.f32 \\pm3, \\pm3, s25\n"
                         ".endm\n"
                         "    vldr s24, [r3, #16]\n"
                         "    vldr s25, [r3, #20]\n"
                         "    vldmia r0!, {s0-s7}\n"
                         "    vmul.f32 s8, s2, s2\n"
                         "    vmul.f32 s9, s3, s3\n"
                         "    vmul.f32 s10, s6, s6\n"
                         "    vmul.f32 s11, s7, s7\n"
                         "    vmla.f32 s8, s0, s0\n"
                         "    vmla.f32 s9, s1, s1\n"
                         "    vmla.f32 s10, s4, s4\n"
                         "    vmla.f32 s11, s5, s5\n"
                         "    vmov r4, r5, s8, s9\n"
                         "    vmov r6, r7, s10, s11\n"
                         "    cmp r10, r4\n"
                         "    cmphs r10, r5\n"
                         "    cmphs r10, r6\n"
                         "    cmphs r10, r7\n"
                         "    sub r4, r12, r4, asr #1\n"
                         "    sub r5, r12, r5, asr #1\n"
                         "    sub r6, r12, r6, asr #1\n"
                         "    sub r7, r12, r7, asr #1\n"
                         "    vmov s12, s13, r4, r5\n"
                         "    vmov s14, s15, r6, r7\n"
                         "    vldmia r0!, {s0-s7}\n"
                         "    vmul.f32 s26, s8, s24\n"
                         "    vmul.f32 s27, s9, s24\n"
                         "    vmul.f32 s28, s10, s24\n"
                         "    vmul.f32 s29, s11, s24\n"
                         "    blo 2f\n"
                         "    b 3f\n"
                         "1:  tav_amp_half 0, s8, s9, s10, s11, s12, s13, s14, s15, "
                         "s16, s17, s18, s19, s20, s21, s22, s23\n"
                         "    tav_amp_half 1, s16, s17, s18, s19, s20, s21, s22, s23, "
                         "s8, s9, s10, s11, s12, s13, s14, s15\n"
                         "    b 1b\n"
                         "2:\n"
                         ".purgem tav_amp_half\n"
                         : "+r"(r0), "+r"(r1), "+r"(r2)
                         : "r"(r3), "r"(r10), "r"(r12)
                         : "r4", "r5", "r6", "r7", "cc", "memory", "d0", "d1", "d2", "d3", "d4",
                           "d5", "d6", "d7", "d8", "d9", "d10", "d11", "d12", "d13", "d14");
            done = static_cast<int>(r1 - out - start) / 2;
            if (done < count) {
                v = chains + 4 * done;
                write_pair(start + 2 * done, {v[0], v[2]}, {v[1], v[3]});
                done++;
            }
        }
    }
#else
    static constexpr bool kByHand = false;
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
#ifdef TAV_QUAD_ONE_BY_HAND
static_assert(tav::quad::by_hand_layout<t_lumbrisk>());
static_assert(std::bit_cast<std::uint32_t>(kRootHalf) == 0x3f3504f3, "the constant loaded below");
TAV_QUAD_ONE_FLUSHED(lumbrisk_one_flushed, t_lumbrisk, Amplitude)
// write's other way, for the pair the routine below leaves in s0 and s1.
static t_int *lumbrisk_one_outside(t_int *w, float a, float b) asm("lumbrisk_one_outside");
[[gnu::used]] static t_int *lumbrisk_one_outside(t_int *w, float a, float b) {
    reinterpret_cast<t_sample *>(w[3])[0] = outside_range(a, b);
    return w + 5;
}
// perform_one by hand (see phase_network.h), then write's usual way: each output's range
// test (v in [2^-63, 2^63) when (bits - 2^29) << 1 is below 0x7E000000), whose pass lets
// its square issue, then amplitude. a comes first, so a x a is the vmul and b x b joins
// it in the vmla (the sum is the same either way round); the estimate's bits go to the
// core and back, and 1.5 - y0 t is a vmls on a loaded 1.5. Testing each output on its own
// passes a few pairs that write's test of the OR of both magnitudes sends to
// outside_range; for those outside_range computes exactly amplitude's operations, so the
// output is the same.
[[gnu::naked]] static t_int *lumbrisk_perform_one(t_int *) {
    asm(TAV_QUAD_ONE_NETWORK("lumbrisk_one_flushed")
        "mvn r1, #0x82000000\n"       // 0x7DFFFFFF, the range's bound
        "vldr s8, =0x3f000000\n"      // 0.5
        "vldr s9, =0x3fc00000\n"      // 1.5
        "vstr s0, [r3, #4]\n"         // the network's last two stores
        "vmov r2, s0\n"
        "vldr s12, =0x3f3504f3\n"     // the square root of one half
        "sub r2, r2, #0x20000000\n"
        "cmp r1, r2, lsl #1\n"        // a in range: hs
        "vmulhs.f32 s2, s0, s0\n"     // a x a
        "vmov ip, s1\n"
        "vstr s1, [r3, #12]\n"
        "sub ip, ip, #0x20000000\n"
        "cmphs r1, ip, lsl #1\n"      // and b: hs
        "blo lumbrisk_one_outside\n"
        "ldr r3, [r0, #12]\n"         // out
        "vmla.f32 s2, s1, s1\n"       // x = b x b + a x a
        "ldr r1, =0x5f3759df\n"
        "add r0, r0, #20\n"           // w + 5
        "vmul.f32 s4, s2, s8\n"       // x x 0.5
        "vmov r2, s2\n"
        "sub r2, r1, r2, asr #1\n"    // the estimate's bits
        "vmov s5, r2\n"               // y0
        "vmul.f32 s6, s4, s5\n"       // t = (x x 0.5) y0
        "vmls.f32 s9, s5, s6\n"       // 1.5 - y0 t
        "vmul.f32 s10, s5, s9\n"      // y1
        "vmul.f32 s11, s10, s2\n"     // y1 x
        "vmul.f32 s11, s11, s12\n"    // times the square root of one half
        "vstr s11, [r3]\n"
        "bx lr\n"
        ".ltorg\n");
}
#else
static t_int *lumbrisk_perform_one(t_int *w) { return tav::quad::perform_one<t_lumbrisk, Amplitude>(w); }
#endif
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
