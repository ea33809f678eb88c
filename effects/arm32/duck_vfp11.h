#pragma once

#include "vfp11.h"

static_assert(sizeof(t_sample) == sizeof(float), "the kernel reads and writes single floats");

// duck~'s kernel for the ARM11's in-order pipeline (ARMv6 with VFPv2): duck_run<Plain> with
// heard_quickly for the whole groups of four samples of a block of 12 or more, scheduled
// by hand. Contract: x's settings passed duck_perform's test; returns the samples it did
// (0 for a shorter block or vectors that overlap shifted), with the envelope and the gain
// stored in x.
// By the VFP11 model its loop takes 62 cycles a group,
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

static int duck_vfp11(t_duck *x, const t_sample *in, t_sample *out, int n) {
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
#undef DUCK_PASS
