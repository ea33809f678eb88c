#pragma once

#include "vfp11.h"

static_assert(sizeof(t_sample) == sizeof(float), "the kernel reads and writes single floats");

// snarvel~'s kernel for the ARM11's in-order pipeline (ARMv6, VFPv2): snarvel_groups, the
// groups of four of snarvel_perform's usual path, scheduled by hand. Contract: as
// snarvel_groups from sample 0 up to `whole`; returns the new state.
// A sample's chain (load, code, conversion, transfer, table value,
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
// The next group's dry x s runs only where its test passed (vmulls): for an input below
// 2^-66 it could be a subnormal product, which the ARM11 computes in the kernel without
// flushing.
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
    FRONT("vmulls.f32 s12, %[dry], s0\n\t")         /* dry x s, if the group passed */ \
    FRONT("vmulls.f32 s13, %[dry], s1\n\t") \
    FRONT("vmulls.f32 s14, %[dry], s2\n\t") \
    FRONT("vmulls.f32 s15, %[dry], s3\n\t")

static inline float snarvel_vfp11(const t_sample *in, t_sample *out, int whole, float y,
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
