// damp~'s fast path scheduled by hand for the ARM11's in-order pipeline (ARMv6, VFPv2):
// damp_step<Plain> for every sample, with the test of the next sample between its steps.
// Each step of the recurrence issues as its operand arrives (28 cycles a sample, the
// recurrence's own latency) and the test's integer steps fill the waits. By the VFP11
// model this takes the block at 28.9 cycles a sample against 29.4 when the loop stopped
// before the last sample and the block began with a test for overlapping vectors.
// Why every bit is the plain form's: the arithmetic is damp_step<Plain>'s, step for step
// (vmla and vmls round the product before the sum), and the test is damp_fast's: the
// least order key of band, the next input, low and high against the floor.
// Contract: the block's first sample has passed the test. Runs samples from 0 while each
// next one passes, and returns how many it wrote, each with its output; the last sample
// reads its own input again as the "next" one and leaves the loop. Each input is read
// after the output before it is written, so vectors that overlap in any way see strict
// sample order.
#pragma once

#include "vfp11.h"

static_assert(sizeof(t_sample) == sizeof(float), "the kernel reads and writes single floats");

[[gnu::always_inline]] inline int damp_vfp11(float &low, float &band, float f, float damping,
                                             std::uint32_t floor_key, std::uint32_t minus_one,
                                             const t_sample *in, t_sample *out, int n) {
    const t_sample *at = in, *last = in + n - 1;
    t_sample *to = out;
    float s = in[0], d;
    const std::uint32_t below_floor = floor_key - 1u;
    std::uint32_t kb, kx, kl; // the least key so far, and two in hand
    asm volatile(
        "1: vmla.f32 %[low], %[band], %[f]\n\t"      // low += band x f
        "vmov %[kb], %[band]\n\t"
        "cmp %[at], %[last]\n\t"
        "addne %[at], %[at], #4\n\t"                 // the next input, or the last again
        "add %[kb], %[m1], %[kb], lsl #1\n\t"
        "moveq %[kb], #0\n\t"                        // the last sample: leave the loop
        "vsub.f32 %[d], %[s], %[low]\n\t"            // input - low
        "vstr %[low], [%[to]]\n\t"                   // out = low
        "ldr %[kx], [%[at]]\n\t"                     // the next input's bits
        "vldr %[s], [%[at]]\n\t"                     // and the next input
        "vmov %[kl], %[low]\n\t"
        "add %[kx], %[m1], %[kx], lsl #1\n\t"
        "add %[kl], %[m1], %[kl], lsl #1\n\t"
        "vmls.f32 %[d], %[band], %[damping]\n\t"     // high = (input - low) - band x 1.4
        "cmp %[kb], %[kx]\n\t"
        "movhi %[kb], %[kx]\n\t"
        "cmp %[kb], %[kl]\n\t"
        "movhi %[kb], %[kl]\n\t"
        "add %[to], %[to], #4\n\t"
        "cmp %[kb], %[below]\n\t"
        "vmla.f32 %[band], %[d], %[f]\n\t"           // band += high x f
        "vmov %[kx], %[d]\n\t"
        "add %[kx], %[m1], %[kx], lsl #1\n\t"
        "cmphi %[kx], %[below]\n\t"
        "bhi 1b\n\t"
        : [low] "+t"(low), [band] "+t"(band), [s] "+t"(s), [d] "=&t"(d), [at] "+r"(at), [to] "+r"(to),
          [kb] "=&r"(kb), [kx] "=&r"(kx), [kl] "=&r"(kl)
        : [f] "t"(f), [damping] "t"(damping), [m1] "r"(minus_one), [below] "r"(below_floor), [last] "r"(last)
        : "cc", "memory");
    return static_cast<int>(to - out);
}
