// lumbrisk~'s kernels for the ARM11 (ARMv6, VFPv2): its outlet's part of the pairs loop, the
// magnitudes of the chain outputs that loop stores, and its block-size-1 routine, on the
// network's kernels (network_vfp11.h).
#pragma once

#include "vfp11.h"

// The pairs loop scheduled by hand (network_vfp11.h) stores the chain outputs of up to
// 30 pairs, each as a0 a1 b0 b1 (direct and delayed chain, first and second sample),
// and clears r2 if one of them is tiny; magnitudes() then turns them into outlet
// samples. Two loops, because the network leaves too few registers for two square
// roots in flight beside it. By the VFP11 model (an estimate) the first runs 30.7
// cycles a sample, the second 14.6 (12.6 instructions).
inline void Amplitude::run_by_hand(tav::quad::ByHand &h) {
    float chains[4 * 6 * kMostPasses + 8]; // 8 more: the look-ahead of magnitudes()
    h.out0 = chains, h.out1 = reinterpret_cast<t_sample *>(chains);
    TAV_QUAD_RUN_BY_HAND(h, TAV_QUAD_TINY_HOOKS("r1", "moveq r2, #0"), "");
    magnitudes(chains, static_cast<int>(h.out0 - chains) / 4, h.out1 == nullptr);
}

// The outlet samples of `count` stored pairs from position start: with no chain output
// tiny, two pairs at a time by hand (amplitude(), the same operations in the same
// order) while the sums of squares are finite, otherwise one pair through write_pair.
inline void Amplitude::magnitudes(float *chains, int count, bool tiny) {
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

static_assert(tav::quad::by_hand_layout<t_lumbrisk>());
static_assert(std::bit_cast<std::uint32_t>(kRootHalf) == 0x3f3504f3, "the constant loaded below");
TAV_QUAD_ONE_FLUSHED(lumbrisk_one_flushed, t_lumbrisk, Amplitude)
// write's other way, for the pair the routine below leaves in s0 and s1.
static t_int *lumbrisk_one_outside(t_int *w, float a, float b) asm("lumbrisk_one_outside");
[[gnu::used]] static t_int *lumbrisk_one_outside(t_int *w, float a, float b) {
    reinterpret_cast<t_sample *>(w[3])[0] = outside_range(a, b);
    return w + 5;
}
// perform_one by hand (the network's part from network_vfp11.h), then write's usual way:
// each output's range test (v in [2^-63, 2^63) when (bits - 2^29) << 1 is below 0x7E000000), whose pass lets
// its square issue, then amplitude. a comes first, so a x a is the vmul and b x b joins
// it in the vmla (the sum is the same either way round); the estimate's bits go to the
// core and back, and 1.5 - y0 t is a vmls on a loaded 1.5. Testing each output on its own
// passes a few pairs that write's test of the OR of both magnitudes sends to
// outside_range; for those outside_range computes exactly amplitude's operations, so the
// output is the same.
[[gnu::naked]] static t_int *lumbrisk_one_vfp11(t_int *) {
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
