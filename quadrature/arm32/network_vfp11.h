// The phase-difference network's kernels for the ARM11's in-order pipeline (ARMv6, VFPv2,
// single-precision samples): the one-sample network that each class's naked perform_one
// routine begins with, and the pairs loop with the hooks a class's outlets fill in.
// Included by phase_network.h in the 32-bit VFP build only.
#pragma once

#include "vfp11.h"

static_assert(sizeof(t_sample) == sizeof(float), "the hand-scheduled forms read single floats");

namespace tav::quad {

// Block size 1 scheduled by hand for the ARM1176 (ARMv6, VFPv2, single-precision samples).
// A sample is a chain of dependent operations: the input's load, the offset and four
// sections of a vadd and a vnmls each, 7 cycles apiece on the VFP11, so that the usual
// sample is latency-bound. Each class's perform_one is then one routine of hand-placed
// instructions (a naked function, so that no prologue comes first and the constants sit
// in a literal pool just after it): the network's part below, written once, then the
// class's outlets, each operation issued as its operand arrives and the loads, stores
// and tests in the waits between. By the VFP11 model (an estimate) that takes quorrel~
// from 111 to 81 cycles a sample and lumbrisk~ from 179 to 134. Every bit is the same:
// the same operations in the same order on the same values as perform_one (vnmls rounds
// the product, then the difference, which is c * t - x2; a vadd or a product may swap
// its operands), only the tests are arranged otherwise, and the state is stored as
// Chain::store stores it. Samples perform_one sends elsewhere go to the same routines.

// The bits of the constants the instructions load, checked against the plain form's.
#define TAV_QUAD_OFFSET_BITS 0x1c971da0
#define TAV_QUAD_D0_BITS 0x3e25a3e4
#define TAV_QUAD_D1_BITS 0x3f3ba7ca
#define TAV_QUAD_D2_BITS 0x3f720275
#define TAV_QUAD_D3_BITS 0x3f7d97d5
#define TAV_QUAD_Q0_BITS 0x3ef5740c
#define TAV_QUAD_Q1_BITS 0x3f604fd3
#define TAV_QUAD_Q2_BITS 0x3f7a0264
#define TAV_QUAD_Q3_BITS 0x3f7f5c29
static_assert(std::bit_cast<std::uint32_t>(kAntiDenormal) == TAV_QUAD_OFFSET_BITS &&
              std::bit_cast<std::uint32_t>(kDirect[0]) == TAV_QUAD_D0_BITS &&
              std::bit_cast<std::uint32_t>(kDirect[1]) == TAV_QUAD_D1_BITS &&
              std::bit_cast<std::uint32_t>(kDirect[2]) == TAV_QUAD_D2_BITS &&
              std::bit_cast<std::uint32_t>(kDirect[3]) == TAV_QUAD_D3_BITS &&
              std::bit_cast<std::uint32_t>(kDelayed[0]) == TAV_QUAD_Q0_BITS &&
              std::bit_cast<std::uint32_t>(kDelayed[1]) == TAV_QUAD_Q1_BITS &&
              std::bit_cast<std::uint32_t>(kDelayed[2]) == TAV_QUAD_Q2_BITS &&
              std::bit_cast<std::uint32_t>(kDelayed[3]) == TAV_QUAD_Q3_BITS,
              "the instructions' constants are the network's");
#define TAV_QUAD_STR_(x) #x
#define TAV_QUAD_STR(x) TAV_QUAD_STR_(x)
#define TAV_QUAD_LOAD(reg, bits) "vldr " reg ", =" TAV_QUAD_STR(bits) "\n"

// Where the instructions find the record's fields.
template <class X> constexpr bool by_hand_layout() {
    return offsetof(X, x_phase) == 32 && offsetof(X, x_cf) == 36 && offsetof(t_cfilters, bank) == 4;
}

// A class's way to perform_one_flushed, under a name the instructions can branch to.
#define TAV_QUAD_ONE_FLUSHED(name, X, Outlets)                                                    \
    static t_int *name(t_int *w) asm(#name);                                                       \
    [[gnu::used]] static t_int *name(t_int *w) { return tav::quad::perform_one_flushed<X, Outlets>(w); }

// The network's part, from the perform arguments (w in r0) to the two chain outputs: the
// direct one (a) in s0, three cycles before the delayed one (b) in s1. Branches to
// `flushed` (with w in r0) when the sample or the previous one enters as 0: the test is
// on u = v + 1e-21, which is 0 exactly when v is -1e-21 and huge exactly when v is, and
// only the first section's vadds (which cannot come near 2^-126) go before it. Every
// state store is done but the two outputs' own, [r3, #4] for a and [r3, #12] for b,
// left to the class so that they can wait for their values without holding up the rest.
// The class may use r1, r2, ip, s2-s15 and, after those stores, r3; it returns
// w + kBlockArg + 1 in r0.
#define TAV_QUAD_ONE_NETWORK(flushed)                                                              \
    "ldr r2, [r0, #8]\n"            /* the input vector */                                         \
    "ldr r1, [r0, #4]\n"            /* x */                                                        \
    TAV_QUAD_LOAD("s15", TAV_QUAD_OFFSET_BITS)                                                     \
    "vldr s2, [r2]\n"               /* v */                                                        \
    "ldr r3, [r1, #32]\n"           /* x_phase */                                                  \
    "vldr s8, [r1, #36]\n"          /* prev, the delayed chain's input */                          \
    "add r2, r1, #40\n"             /* bank 0 */                                                   \
    "vadd.f32 s2, s2, s15\n"        /* u = v + 1e-21 */                                            \
    "and r3, r3, #1\n"                                                                             \
    "add r3, r2, r3, lsl #6\n"      /* the bank in use */                                          \
    "vldmia r3!, {s3, s4}\n"        /* section 1, direct: x2, y2 */                                \
    "vldmia r3, {s9, s10}\n"        /* section 1, delayed: x2, y2 (r3 is the bank + 8) */          \
    "ldr ip, [r1, #36]\n"           /* prev's bits */                                              \
    TAV_QUAD_LOAD("s15", TAV_QUAD_D0_BITS)                                                         \
    "vadd.f32 s7, s2, s4\n"         /* direct: u + y2 */                                           \
    "vmov r2, s2\n"                 /* u's bits */                                                 \
    "vadd.f32 s13, s8, s10\n"       /* delayed: prev + y2 */                                       \
    "lsls ip, ip, #1\n"             /* prev is 0, */                                               \
    "movnes r2, r2, lsl #1\n"       /* or u is, */                                                 \
    "rsbnes r2, r2, #0xC0000000\n"  /* or u is 2^65 or more, infinite or NaN: ls */               \
    TAV_QUAD_LOAD("s14", TAV_QUAD_Q0_BITS)                                                         \
    "vnmlshi.f32 s3, s7, s15\n"     /* direct y1 = c0 (u + y2) - x2, if usual */                  \
    "bls " flushed "\n"                                                                            \
    "vldr s5, [r3, #12]\n"          /* direct y2 of section 2 */                                   \
    "vnmls.f32 s9, s13, s14\n"      /* delayed y1 */                                               \
    "vldr s11, [r3, #20]\n"         /* delayed y2 of section 2 */                                  \
    TAV_QUAD_LOAD("s15", TAV_QUAD_D1_BITS)                                                         \
    "vstr s2, [r1, #36]\n"          /* prev = u */                                                 \
    "vadd.f32 s7, s3, s5\n"                                                                        \
    "ldr r2, [r1, #32]\n"                                                                          \
    TAV_QUAD_LOAD("s14", TAV_QUAD_Q1_BITS)                                                         \
    "vadd.f32 s13, s9, s11\n"                                                                      \
    "add r2, r2, #1\n"                                                                             \
    "and r2, r2, #1\n"                                                                             \
    "str r2, [r1, #32]\n"           /* x_phase = (x_phase + 1) & 1 */                              \
    "vnmls.f32 s4, s7, s15\n"       /* direct y2: its x2 is section 1's old y2 */                  \
    "vldr s0, [r3, #28]\n"          /* direct y2 of section 3 */                                   \
    "vldr s1, [r3, #36]\n"          /* delayed y2 of section 3 */                                  \
    "vnmls.f32 s10, s13, s14\n"     /* delayed y2 */                                               \
    "vldr s6, [r3, #44]\n"          /* direct y2 of section 4 */                                   \
    "vldr s12, [r3, #52]\n"         /* delayed y2 of section 4 */                                  \
    TAV_QUAD_LOAD("s15", TAV_QUAD_D2_BITS)                                                         \
    "vadd.f32 s7, s4, s0\n"                                                                        \
    "sub r3, r3, #8\n"              /* the bank again, now for the stores */                       \
    "vstmia r3!, {s2, s3}\n"        /* section 1, direct: x2 = u, y2 = y1 */                       \
    "vadd.f32 s13, s10, s1\n"                                                                      \
    "vstmia r3!, {s8, s9}\n"        /* section 1, delayed: x2 = prev, y2 = y1 */                   \
    TAV_QUAD_LOAD("s14", TAV_QUAD_Q2_BITS)                                                         \
    "vnmls.f32 s5, s7, s15\n"       /* direct y3 */                                                \
    "vstmia r3!, {s3, s4}\n"        /* section 2, direct: x2 = y1, y2 = y2 */                      \
    "vnmls.f32 s11, s13, s14\n"     /* delayed y3 */                                               \
    "vstmia r3!, {s9, s10}\n"       /* section 2, delayed */                                       \
    TAV_QUAD_LOAD("s15", TAV_QUAD_D3_BITS)                                                         \
    "vadd.f32 s7, s5, s6\n"                                                                        \
    TAV_QUAD_LOAD("s14", TAV_QUAD_Q3_BITS)                                                         \
    "vadd.f32 s13, s11, s12\n"                                                                     \
    "vstmia r3!, {s4, s5}\n"        /* section 3, direct */                                        \
    "vstmia r3!, {s10, s11}\n"      /* section 3, delayed */                                       \
    "vstr s5, [r3]\n"               /* section 4's x2, direct */                                   \
    "vnmls.f32 s0, s7, s15\n"       /* a */                                                        \
    "vstr s11, [r3, #8]\n"          /* section 4's x2, delayed */                                  \
    "vnmls.f32 s1, s13, s14\n"      /* b */

// The pairs form scheduled by hand for the ARM11's in-order pipeline (ARMv6, VFPv2): by
// the VFP11 model at block size 64 (an estimate), quorrel~ takes 40.0 cycles a sample
// instead of 54.4 and lumbrisk~ 55.5 instead of 70.9; the loop runs a pass of six pairs
// in 368 cycles (344 instructions), where GCC's form spent 27 to 41 copies every five
// pairs. Each bit is the plain form's: every section is its vadd (s + y2, which commutes)
// then vnmls (round(c x t) - x2, not fused on VFP11), banks and chains as in pairs(),
// and the loop stops before a pair that plain_input refuses: its bits shifted left by
// one above 0xBFFFFFFF (bits 30 and 29 set) or equal to -1e-21's.
// Each chain keeps six registers: this pair's input S, the input two samples before X
// (section 1's x2), and the y2 of its four sections. vnmls (round(c x t) - x2, not
// fused on VFP11, so the plain form's c * (s + y2) - x2 bit for bit) writes each
// section's output over the x2 it no longer needs, so a pair turns the six names round
// by one; six pairs a pass bring them back. The direct chains of bank 0 and 1 (a, b)
// sit in s0-s11 and the delayed ones (c, e) in s12-s23, a beside b and c beside e, so
// that a pair's two outlet samples move in one instruction. The delayed chains run one
// step behind the direct ones, each step of a chain 7 cycles after its last, with the
// class's outlet work, the next input and its test between them. s24-s27 hold the
// sums, s28/s29 a section's two coefficients, s30 the offset. Core registers: r0 the
// next input, r1/r2 the outlets, r3 the coefficients, r4-r7 bits to test, r8 and r9
// constants of the input test, r10 the passes left, r12 the registers' image.
// tav_pair_b8: the delayed chains' last vnmls of the pair before. tav_pair: one pair,
// with the test of its input before its first vnmls (slot k leaves at label 8k, the
// pair not begun) and the next pair's input loaded into the registers it frees; the
// class's hooks get the chain outputs of the pair before (its outlet samples). The loop
// is entered inside its first pair, past the hooks (there is no pair before it here),
// after the steps before them, which the entry repeats; a pass ends at slot 0.
// GCC sizes an asm statement by its lines, to keep its literal pools in reach; the six
// tav_pair lines stand for about 370 instructions, and as many empty lines say so.
#define TAV_QUAD_LINES_8 "\n\n\n\n\n\n\n\n"
#define TAV_QUAD_LINES_64                                                                          \
    TAV_QUAD_LINES_8 TAV_QUAD_LINES_8 TAV_QUAD_LINES_8 TAV_QUAD_LINES_8 TAV_QUAD_LINES_8           \
        TAV_QUAD_LINES_8 TAV_QUAD_LINES_8 TAV_QUAD_LINES_8
#define TAV_QUAD_LENGTH                                                                            \
    TAV_QUAD_LINES_64 TAV_QUAD_LINES_64 TAV_QUAD_LINES_64 TAV_QUAD_LINES_64 TAV_QUAD_LINES_64      \
        TAV_QUAD_LINES_64
#define TAV_QUAD_NETWORK_ASM                                                                       \
    ".macro tav_pair_b8 c4, e4\n"                                                                  \
    "    vnmls.f32 \\c4, s29, s26\n"                                                               \
    "    vnmls.f32 \\e4, s29, s27\n"                                                               \
    ".endm\n"                                                                                      \
    ".macro tav_pair k, aS,bS,cS,eS, aX,bX,cX,eX, a1,b1,c1,e1, "                                   \
    "a2,b2,c2,e2, a3,b3,c3,e3, a4,b4,c4,e4\n"                                                      \
    "    vldmia r3!, {s28, s29}\n"                                                                 \
    "    vadd.f32 s24, \\aS, \\a1\n"                                                               \
    "    vadd.f32 s25, \\bS, \\b1\n"                                                               \
    "    vmov.f32 \\eS, \\aS\n"                                                                    \
    "  .if \\k == 0\n"                                                                             \
    "    subs r10, r10, #1\n"                                                                      \
    "    cmpne r8, r6, lsl #1\n"                                                                   \
    "  .else\n"                                                                                    \
    "    cmp r8, r6, lsl #1\n"                                                                     \
    "  .endif\n"                                                                                   \
    "    teqhi r6, r9\n"                                                                           \
    "    cmphi r8, r7, lsl #1\n"                                                                   \
    "    teqhi r7, r9\n"                                                                           \
    "    vadd.f32 s26, \\cS, \\c1\n"                                                               \
    "    vadd.f32 s27, \\eS, \\e1\n"                                                               \
    "    bls 8\\k\\()f\n"                                                                          \
    "    vnmls.f32 \\aX, s28, s24\n"                                                               \
    "    vnmls.f32 \\bX, s28, s25\n"                                                               \
    "    tav_hook2 \\a4, \\b4, \\c4, \\e4\n"                                                       \
    "    vnmls.f32 \\cX, s29, s26\n"                                                               \
    "    vnmls.f32 \\eX, s29, s27\n"                                                               \
    "    vldmia r3!, {s28, s29}\n"                                                                 \
    "    vadd.f32 s24, \\aX, \\a2\n"                                                               \
    "    vadd.f32 s25, \\bX, \\b2\n"                                                               \
    "    tav_hook3 \\a4, \\b4, \\c4, \\e4\n"                                                       \
    "  .if \\k == 0\n"                                                                             \
    "5:\n"                                                                                         \
    "  .endif\n"                                                                                   \
    "    vadd.f32 s26, \\cX, \\c2\n"                                                               \
    "    vadd.f32 s27, \\eX, \\e2\n"                                                               \
    "    vnmls.f32 \\a1, s28, s24\n"                                                               \
    "    vnmls.f32 \\b1, s28, s25\n"                                                               \
    "    tav_hook4 \\a4, \\b4, \\c4, \\e4\n"                                                       \
    "    vnmls.f32 \\c1, s29, s26\n"                                                               \
    "    vnmls.f32 \\e1, s29, s27\n"                                                               \
    "    vldmia r3!, {s28, s29}\n"                                                                 \
    "    vadd.f32 s24, \\a1, \\a3\n"                                                               \
    "    vadd.f32 s25, \\b1, \\b3\n"                                                               \
    "    tav_hook5 \\a4, \\b4, \\c4, \\e4\n"                                                       \
    "    vadd.f32 s26, \\c1, \\c3\n"                                                               \
    "    vadd.f32 s27, \\e1, \\e3\n"                                                               \
    "    tav_hook6 \\a4, \\b4, \\c4, \\e4\n"                                                       \
    "    vnmls.f32 \\a2, s28, s24\n"                                                               \
    "    vnmls.f32 \\b2, s28, s25\n"                                                               \
    "    vnmls.f32 \\c2, s29, s26\n"                                                               \
    "    vnmls.f32 \\e2, s29, s27\n"                                                               \
    "    vldmia r3!, {s28, s29}\n"                                                                 \
    "    vadd.f32 s24, \\a2, \\a4\n"                                                               \
    "    vadd.f32 s25, \\b2, \\b4\n"                                                               \
    "    vldmia r0!, {\\a4, \\b4}\n"                                                               \
    "    sub r3, r3, #32\n"                                                                        \
    "    vadd.f32 s26, \\c2, \\c4\n"                                                               \
    "    vadd.f32 s27, \\e2, \\e4\n"                                                               \
    "    vmov.f32 \\c4, \\bS\n"                                                                    \
    "    vmov r6, r7, \\a4, \\b4\n"                                                                \
    "    vadd.f32 \\a4, \\a4, s30\n"                                                               \
    "    vadd.f32 \\b4, \\b4, s30\n"                                                               \
    "    vnmls.f32 \\a3, s28, s24\n"                                                               \
    "    vnmls.f32 \\b3, s28, s25\n"                                                               \
    ".endm\n"                                                                                      \
    "    vldmia r12, {d0-d15}\n"                                                                   \
    "    vldmia r3!, {s28, s29}\n"                                                                 \
    "    vadd.f32 s24, s0, s4\n"                                                                   \
    "    vadd.f32 s25, s1, s5\n"                                                                   \
    "    vmov.f32 s13, s0\n"                                                                       \
    "    vadd.f32 s26, s12, s16\n"                                                                 \
    "    vadd.f32 s27, s13, s17\n"                                                                 \
    "    vnmls.f32 s2, s28, s24\n"                                                                 \
    "    vnmls.f32 s3, s28, s25\n"                                                                 \
    "    vnmls.f32 s14, s29, s26\n"                                                                \
    "    vnmls.f32 s15, s29, s27\n"                                                                \
    "    vldmia r3!, {s28, s29}\n"                                                                 \
    "    vadd.f32 s24, s2, s6\n"                                                                   \
    "    vadd.f32 s25, s3, s7\n"                                                                   \
    "    tav_hook_entry\n"                                                                         \
    "    b 5f\n"                                                                                   \
    "0:  tav_pair_b8 s22, s23\n"                                                                   \
    "    tav_pair 0, s0, s1, s12, s13, s2, s3, s14, s15, s4, s5, s16, s17, "                       \
    "s6, s7, s18, s19, s8, s9, s20, s21, s10, s11, s22, s23\n"                                     \
    "    tav_pair_b8 s20, s21\n"                                                                   \
    "    tav_pair 1, s10, s11, s22, s23, s0, s1, s12, s13, s2, s3, s14, s15, "                     \
    "s4, s5, s16, s17, s6, s7, s18, s19, s8, s9, s20, s21\n"                                       \
    "    tav_pair_b8 s18, s19\n"                                                                   \
    "    tav_pair 2, s8, s9, s20, s21, s10, s11, s22, s23, s0, s1, s12, s13, "                     \
    "s2, s3, s14, s15, s4, s5, s16, s17, s6, s7, s18, s19\n"                                       \
    "    tav_pair_b8 s16, s17\n"                                                                   \
    "    tav_pair 3, s6, s7, s18, s19, s8, s9, s20, s21, s10, s11, s22, s23, "                     \
    "s0, s1, s12, s13, s2, s3, s14, s15, s4, s5, s16, s17\n"                                       \
    "    tav_pair_b8 s14, s15\n"                                                                   \
    "    tav_pair 4, s4, s5, s16, s17, s6, s7, s18, s19, s8, s9, s20, s21, "                       \
    "s10, s11, s22, s23, s0, s1, s12, s13, s2, s3, s14, s15\n"                                     \
    "    tav_pair_b8 s12, s13\n"                                                                   \
    "    tav_pair 5, s2, s3, s14, s15, s4, s5, s16, s17, s6, s7, s18, s19, "                       \
    "s8, s9, s20, s21, s10, s11, s22, s23, s0, s1, s12, s13\n"                                     \
    "    b 0b\n"                                                                                   \
    "80: mov r4, #0\n"                                                                             \
    "    b 9f\n"                                                                                   \
    "81: mov r4, #1\n"                                                                             \
    "    b 9f\n"                                                                                   \
    "82: mov r4, #2\n"                                                                             \
    "    b 9f\n"                                                                                   \
    "83: mov r4, #3\n"                                                                             \
    "    b 9f\n"                                                                                   \
    "84: mov r4, #4\n"                                                                             \
    "    b 9f\n"                                                                                   \
    "85: mov r4, #5\n"                                                                             \
    "9:  vstmia r12, {d0-d11}\n"                                                                   \
    ".purgem tav_pair_b8\n"                                                                        \
    ".purgem tav_pair\n"

// Hooks for a class whose outlet work needs the chain outputs tested for tiny ones (bits
// 30 and 29 clear): each pair stores the four of the pair before (the first two through
// r1, the other two through SECOND), and ON_TINY runs with the flags eq if one is tiny.
#define TAV_QUAD_TINY_HOOKS(SECOND, ON_TINY)                                                       \
    ".macro tav_hook_entry\n" /* no pair before the first: bits that pass the test */            \
    "    mov r4, #0x3f800000\n"                                                                    \
    "    mov r5, r4\n"                                                                             \
    "    mov r6, r4\n"                                                                             \
    "    mov r7, r4\n"                                                                             \
    "    tst r4, #0x60000000\n"                                                                    \
    ".endm\n"                                                                                      \
    ".macro tav_hook2 a4, b4, c4, e4\n"                                                            \
    "    vstmia r1!, {\\a4, \\b4}\n"                                                               \
    "    vmov r4, r5, \\a4, \\b4\n"                                                                \
    ".endm\n"                                                                                      \
    ".macro tav_hook3 a4, b4, c4, e4\n"                                                            \
    "    vstmia " SECOND "!, {\\c4, \\e4}\n"                                                       \
    "    vmov r6, r7, \\c4, \\e4\n"                                                                \
    "    tst r4, #0x60000000\n"                                                                    \
    ".endm\n"                                                                                      \
    ".macro tav_hook4 a4, b4, c4, e4\n"                                                            \
    "    tstne r5, #0x60000000\n"                                                                  \
    ".endm\n"                                                                                      \
    ".macro tav_hook5 a4, b4, c4, e4\n"                                                            \
    "    tstne r6, #0x60000000\n"                                                                  \
    "    tstne r7, #0x60000000\n"                                                                  \
    ".endm\n"                                                                                      \
    ".macro tav_hook6 a4, b4, c4, e4\n"                                                            \
    "    " ON_TINY "\n"                                                                            \
    ".endm\n"

// The registers of the loop above, with the slot (0 to 5) at which it stopped.
struct ByHand {
    float regs[32];
    const t_sample *in; // the next pair's input
    t_sample *out0, *out1;
    int passes;
    int slot;
};

// The loop above with a class's hooks: HOOKS defines the macros tav_hook2 to tav_hook6
// (each given the four chain outputs of the pair before, in registers) and tav_hook_entry
// (what they need on entry), TAIL what they may branch to, out of the loop's way. It runs
// h.passes passes of six pairs, or stops before a pair whose input would enter as 0.
#define TAV_QUAD_RUN_BY_HAND(h, HOOKS, TAIL)                                                       \
    do {                                                                                           \
        static constexpr float kCoefficients[8] = {                                                \
            tav::quad::kDirect[0], tav::quad::kDelayed[0], tav::quad::kDirect[1],                  \
            tav::quad::kDelayed[1], tav::quad::kDirect[2], tav::quad::kDelayed[2],                 \
            tav::quad::kDirect[3], tav::quad::kDelayed[3]};                                        \
        register const t_sample *r0 asm("r0") = (h).in;                                            \
        register t_sample *r1 asm("r1") = (h).out0;                                                \
        register t_sample *r2 asm("r2") = (h).out1;                                                \
        register const float *r3 asm("r3") = kCoefficients;                                        \
        register std::uint32_t r4 asm("r4"), r5 asm("r5");                                         \
        register std::uint32_t r6 asm("r6"), r7 asm("r7");                                         \
        register std::uint32_t r8 asm("r8") = 0xBFFFFFFFu;                                         \
        register std::uint32_t r9 asm("r9") = tav::bits_of(-tav::kAntiDenormal);                   \
        register int r10 asm("r10") = (h).passes;                                                  \
        register float *r12 asm("r12") = (h).regs;                                                 \
        asm volatile(HOOKS TAV_QUAD_NETWORK_ASM TAV_QUAD_LENGTH                                    \
                     "    b 6f\n" TAIL                                                             \
                     ".purgem tav_hook2\n.purgem tav_hook3\n.purgem tav_hook4\n"                   \
                     ".purgem tav_hook5\n.purgem tav_hook6\n.purgem tav_hook_entry\n"              \
                     "6:\n"                                                                        \
                     : "+r"(r0), "+r"(r1), "+r"(r2), "+r"(r3), "=&r"(r4), "=&r"(r5),               \
                       "=&r"(r6), "=&r"(r7), "+r"(r10)                                             \
                     : "r"(r8), "r"(r9), "r"(r12)                                                  \
                     : "lr", "cc", "memory", "d0", "d1", "d2", "d3", "d4", "d5", "d6", "d7",       \
                       "d8", "d9", "d10", "d11", "d12", "d13", "d14", "d15");                      \
        (h).in = r0, (h).out0 = r1, (h).out1 = r2;                                                 \
        (h).slot = static_cast<int>(r4);                                                           \
    } while (0)

// Pairs from position `from` through the loop above: whole passes, while at least one
// pair follows them (the loop loads each pair's input one pair ahead), at most
// Outlets::kMostPasses. Returns the position reached (from itself if the loop cannot
// start), with the state stored and every outlet sample before it written: the loop's
// last pair through write_pair, from the chain outputs it leaves in registers.
template <class Outlets>
int pairs_vfp11(t_cfilters &cf, const t_sample *in, Outlets &out, int from, int n) {
    const int passes = (n / 2 - from / 2 - 1) / 6;
    if (passes < 1 || zero_input(cf.prev) || !plain_input(in[from]) || !plain_input(in[from + 1]))
        return from;
    t_cfsection *b0 = cf.bank[0], *b1 = cf.bank[1];
    ByHand h;
    float *r = h.regs;
    // Slot 0: role m (S, X, y2 of sections 1 to 4) of chain a in s(2m), b in s(2m + 1),
    // c in s(12 + 2m), e in s(13 + 2m).
    const float u0 = float(in[from]) + kAntiDenormal, u1 = float(in[from + 1]) + kAntiDenormal;
    r[0] = u0, r[1] = u1, r[12] = cf.prev, r[13] = u0;
    r[2] = b0[0].x2, r[3] = b1[0].x2, r[14] = b0[1].x2, r[15] = b1[1].x2;
    for (int m = 0; m < 4; m++) {
        r[4 + 2 * m] = b0[2 * m].y2, r[5 + 2 * m] = b1[2 * m].y2;
        r[16 + 2 * m] = b0[2 * m + 1].y2, r[17 + 2 * m] = b1[2 * m + 1].y2;
    }
    r[30] = kAntiDenormal;
    h.in = in + from + 2;
    h.passes = passes < Outlets::kMostPasses ? passes : Outlets::kMostPasses;
    out.by_hand_start(h, from);
    out.run_by_hand(h);
    const int end = static_cast<int>(h.in - in) - 2;
    // Role m of the chains now sits 2 * ((m - slot) mod 6) above their slot-0 place.
    int at[6];
    for (int m = 0, k = 6 - h.slot; m < 6; m++, k++) at[m] = 2 * (k < 6 ? k : k - 6);
    for (int m = 0; m < 4; m++) {
        const float *x = r + at[1 + m], *y = r + at[2 + m];
        b0[2 * m].x2 = x[0], b0[2 * m].y2 = y[0], b1[2 * m].x2 = x[1], b1[2 * m].y2 = y[1];
        b0[2 * m + 1].x2 = x[12], b0[2 * m + 1].y2 = y[12];
        b1[2 * m + 1].x2 = x[13], b1[2 * m + 1].y2 = y[13];
    }
    cf.prev = r[at[1] + 1];
    const float *o = r + at[5];
    out.write_pair(end - 2, {o[0], o[12]}, {o[1], o[13]});
    return end;
}

} // namespace tav::quad
