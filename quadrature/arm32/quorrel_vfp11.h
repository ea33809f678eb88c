// quorrel~'s kernels for the ARM11 (ARMv6, VFPv2): its outlets' part of the pairs loop
// and its block-size-1 routine, on the network's kernels (network_vfp11.h).
#pragma once

#include "vfp11.h"

// The pairs loop scheduled by hand: each pair stores the outlet samples of the pair before
// as they are and tests their bits as write_pair does; a pair with a tiny one calls label
// 7, which stores all four again through write's test. r4-r7 carry the bits to the call.
inline void AnalyticPair::run_by_hand(tav::quad::ByHand &h) {
    TAV_QUAD_RUN_BY_HAND(
        h, TAV_QUAD_TINY_HOOKS("r2", "bleq 7f"),
        // A pair with a tiny outlet sample: all four again, each through write's test.
        "7:  tst r4, #0x60000000\n"
        "    moveq r4, #0\n"
        "    tst r5, #0x60000000\n"
        "    moveq r5, #0\n"
        "    tst r6, #0x60000000\n"
        "    moveq r6, #0\n"
        "    tst r7, #0x60000000\n"
        "    moveq r7, #0\n"
        "    stmdb r1, {r4, r5}\n"
        "    stmdb r2, {r6, r7}\n"
        "    bx lr\n");
}

static_assert(tav::quad::by_hand_layout<t_quorrel>());
TAV_QUAD_ONE_FLUSHED(quorrel_one_flushed, t_quorrel, AnalyticPair)
// perform_one by hand (the network's part from network_vfp11.h), then write: each output
// stored, then overwritten with the 0 its tiny test leaves in the register when it is
// below 2^-63.
[[gnu::naked]] static t_int *quorrel_one_vfp11(t_int *) {
    asm(TAV_QUAD_ONE_NETWORK("quorrel_one_flushed")
        "ldr r1, [r0, #12]\n"         // re
        "ldr r2, [r0, #16]\n"         // im
        "add r0, r0, #24\n"           // w + 6
        "vstr s0, [r3, #4]\n"         // the network's last two stores
        "vmov ip, s0\n"
        "vstr s0, [r1]\n"
        "vstr s1, [r3, #12]\n"
        "vmov r3, s1\n"
        "ands ip, ip, #0x60000000\n"  // tiny: bits 30 and 29 clear
        "streq ip, [r1]\n"
        "vstr s1, [r2]\n"
        "ands r3, r3, #0x60000000\n"
        "streq r3, [r2]\n"
        "bx lr\n"
        ".ltorg\n");
}
