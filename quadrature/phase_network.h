// The 90-degree phase-difference network shared by lumbrisk~ and quorrel~: two chains of
// four allpass sections in z^-2, the direct chain fed the current input and the delayed
// chain the input one sample late. Their outputs keep unit gain and stay 90 degrees apart
// over nearly the whole band.
//
// Each section only looks two samples back, so the state is split into two banks that
// serve alternate samples. Block size 1 takes its bank from x_phase; every other block
// size is processed in pairs, bank 0 then bank 1, so both forms give the same samples.
//
// Each plug-in includes this header from its one source and so carries its own copy.
#pragma once

#include "tavrelle.h"

#include <cstring>

// One allpass section: its input and output at the last step that used its bank.
struct t_cfsection {
    float x2;
    float y2;
};

constexpr int kCfSections = 8; // per bank: stage by stage, the direct chain first

struct t_cfilters {
    float prev;                       // guarded input of the previous sample
    t_cfsection bank[2][kCfSections]; // bank 0: even positions, bank 1: odd positions
};
static_assert(sizeof(t_cfilters) == 33 * sizeof(float), "t_cfilters is 33 floats");

// Clears the whole network. Defined here because exactly one source per plug-in includes
// this header; the constructors are its only callers.
TAVRELLE_EXPORT void init_cfilters(t_cfilters *cf) { std::memset(cf, 0, sizeof *cf); }

namespace tav::quad {

constexpr float kDirect[4] = {0.161758f, 0.733029f, 0.94535f, 0.990598f};
constexpr float kDelayed[4] = {0.479401f, 0.876218f, 0.976599f, 0.9975f};

struct Pair {
    float direct;
    float delayed;
};

// A huge or non-finite sample (after the anti-denormal offset) enters as 0, and so does
// what the delayed chain sees of it next.
inline float guard(float v) {
    float u = v + kAntiDenormal;
    return is_huge(u) ? 0.0f : u;
}

// A chain input of exactly 0 comes only from a huge or non-finite sample or from -1e-21
// (the offset keeps any other sum at least 2^-94 from 0). Fed zeros, the chains decay
// geometrically through the subnormal range, so such samples take the flushed sections
// below. With both chain inputs nonzero every section sees an operand at the offset's
// scale (about 2^-70) or above, and its results stay far above 2^-126; the decay tests
// check that no flag is raised.
inline bool zero_input(float u) { return (bits_of(u) << 1) == 0; }

// One section as the arithmetic goes with results below 2^-126 flushed to zeros of their
// sign (as Pd runs), without making a subnormal number (a kernel trap on ARM's VFP11).
namespace flushed {
inline float section(float c, float s, t_cfsection &q) {
    using tav::ftz::add, tav::ftz::mul, tav::ftz::sub;
    float y = sub(mul(c, add(s, q.y2)), q.x2);
    q.x2 = s, q.y2 = y;
    return y;
}
} // namespace flushed

// cfilters_tick for a sample whose chain inputs are not both nonzero.
[[gnu::noinline, gnu::cold]] inline Pair tick_flushed(t_cfilters &cf, int b, float v) {
    float u = guard(v);
    float d = cf.prev;
    cf.prev = u;
    t_cfsection *sec = cf.bank[b];
    for (int k = 0; k < 4; k++) {
        u = flushed::section(kDirect[k], u, sec[2 * k]);
        d = flushed::section(kDelayed[k], d, sec[2 * k + 1]);
    }
    return {u, d};
}

// Whether sample v enters the chains as itself plus the offset, and so not as 0: neither
// huge (bits 30 and 29 set: 2^65 or more, infinities, NaNs) nor exactly -1e-21. Read
// from the raw bits, so that the test stays off the floating-point pipeline.
inline bool plain_input(float v) {
    const std::uint32_t b = bits_of(v);
    return (b & kExponentTop) != kExponentTop && b != bits_of(-kAntiDenormal);
}

// One section on one sample, exactly as stated: y = c * (s + y2) - x2, then x2 = s and
// y2 = y; y feeds the next section.
inline float section(float c, float s, t_cfsection &q) {
    float y = c * (s + q.y2) - q.x2;
    q.x2 = s, q.y2 = y;
    return y;
}

// Advances both chains by one sample on bank b. The chains are independent: one section
// of each per stage keeps both pipelines busy.
inline Pair cfilters_tick(t_cfilters &cf, int b, float v) {
    if (!plain_input(v) || zero_input(cf.prev)) [[unlikely]]
        return tick_flushed(cf, b, v);
    float u = v + kAntiDenormal;
    float d = cf.prev;
    cf.prev = u;
    t_cfsection *sec = cf.bank[b];
    u = section(kDirect[0], u, sec[0]), d = section(kDelayed[0], d, sec[1]);
    u = section(kDirect[1], u, sec[2]), d = section(kDelayed[1], d, sec[3]);
    u = section(kDirect[2], u, sec[4]), d = section(kDelayed[2], d, sec[5]);
    u = section(kDirect[3], u, sec[6]), d = section(kDelayed[3], d, sec[7]);
    return {u, d};
}

// A class says how a pair becomes outlet samples: `Outlets(w)` takes the outlet vectors
// from the perform arguments (w[3] onwards), `write(i, pair)` sets position i of each,
// `write_pair(i, first, second)` positions i and i + 1, and `overlap_shifted(in, n)`
// says whether an outlet vector overlaps the input without being the same vector.
template <class Outlets> constexpr int kBlockArg = 3 + Outlets::kCount; // index of n in w

// One chain of one bank for the length of a block: the y2 of its four sections. The x2
// of section k + 1 is the y2 of section k, so only section 1's x2 is kept apart (by the
// caller: it is a chain input of two samples before, which the pairs pass along).
struct Chain {
    float y[4];
    float held; // section 3's x2 while its half of the step waits
    // cfilters_tick's four sections with x2 taken from there: the same operations in the
    // same order, one value fewer to carry per section. Split in halves so that a pair's
    // sections 3 and 4 can run beside the next pair's sections 1 and 2.
    void front(const float (&c)[4], float s, float x2) {
        float y1 = c[0] * (s + y[0]) - x2;
        float y2 = c[1] * (y1 + y[1]) - y[0];
        held = y[1], y[0] = y1, y[1] = y2;
    }
    float back(const float (&c)[4]) {
        float y3 = c[2] * (y[1] + y[2]) - held;
        float y4 = c[3] * (y3 + y[3]) - y[2];
        y[2] = y3, y[3] = y4;
        return y4;
    }
    void load(const t_cfsection *sec) {
        for (int k = 0; k < 4; k++) y[k] = sec[2 * k].y2;
    }
    void store(t_cfsection *sec, float x2) const {
        for (int k = 0; k < 4; k++) sec[2 * k].x2 = k ? y[k - 1] : x2, sec[2 * k].y2 = y[k];
    }
};

// Block size 1 for a sample whose chain inputs are not both nonzero: a routine of its own,
// so that the usual one saves no registers for a call.
template <class X, class Outlets>
[[gnu::noinline, gnu::cold]] t_int *perform_one_flushed(t_int *w) {
    X *x = reinterpret_cast<X *>(w[1]);
    const float v = reinterpret_cast<t_sample *>(w[2])[0];
    Outlets out(w);
    int phase = x->x_phase;
    out.write(0, tick_flushed(x->x_cf, phase & 1, v));
    x->x_phase = (phase + 1) & 1;
    return w + kBlockArg<Outlets> + 1;
}

// Block size 1: the bank alternates through x_phase; the block size is not read. This is
// cfilters_tick through Chain: the x2 of sections 2 to 4 are not loaded, being the y2
// before them, and the state is stored before the outlets, so that the stores fill the
// waits of the last sections. On x86-64 the tests for inputs that enter as 0 cost
// quorrel~ 12 instructions a sample (92 instead of 80). The 32-bit ARM build runs the
// same steps scheduled by hand (below).
template <class X, class Outlets> t_int *perform_one(t_int *w) {
    X *x = reinterpret_cast<X *>(w[1]);
    const float v = reinterpret_cast<t_sample *>(w[2])[0];
    t_cfilters &cf = x->x_cf;
    if (!plain_input(v) || zero_input(cf.prev)) [[unlikely]]
        return perform_one_flushed<X, Outlets>(w);
    Outlets out(w);
    const int phase = x->x_phase;
    const float u = v + kAntiDenormal, d = cf.prev;
    t_cfsection *sec = cf.bank[phase & 1];
    Chain direct, delayed;
    direct.load(sec), delayed.load(sec + 1);
    direct.front(kDirect, u, sec[0].x2), delayed.front(kDelayed, d, sec[1].x2);
    const Pair p{direct.back(kDirect), delayed.back(kDelayed)};
    direct.store(sec, u), delayed.store(sec + 1, d);
    cf.prev = u;
    x->x_phase = (phase + 1) & 1;
    out.write(0, p);
    return w + kBlockArg<Outlets> + 1;
}

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
#if defined(__arm__) && defined(__VFP_FP__) && !defined(__SOFTFP__) && PD_FLOATSIZE == 32
#define TAV_QUAD_ONE_BY_HAND 1
static_assert(sizeof(t_sample) == sizeof(float), "the hand-scheduled form reads single floats");

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

#endif

// Pairs of samples, bank 0 then bank 1, with the network in 19 locals rather than the
// record's 33 floats: the four chains' y2 and three inputs. After a pair, section 1's x2
// is u0 for the direct chain of bank 0 and the delayed chain of bank 1, u1 (which is also
// prev) for the direct chain of bank 1, and the previous prev for the delayed chain of
// bank 0. The four chains of a pair are independent and interleave in the pipeline.
// Each pair's sections 1 and 2 run beside the previous pair's sections 3 and 4, and five
// pairs a pass bring the register names round again. Exactly cfilters_tick on bank 0
// then bank 1, each section's three operations in the stated order, so every bit is the
// same. What it buys, at block size 64 against the previous form (all 33 floats in a
// local copy, spilled and copied every pair): by the VFP11 model of the ARM1176 about
// 57 cycles a sample instead of 71 for quorrel~ and 72 instead of 112 for lumbrisk~; on
// x86-64 about 88 instructions a sample instead of 90 for lumbrisk~, while quorrel~ with
// the tests for inputs that enter as 0 takes 66 instead of 59. Stops before such a sample
// (returning its position; the caller goes on sample by sample) and stores the state.
// This is the form x86-64 and aarch64 run; on the ARM1176 it finishes what the loop
// below leaves (the last pairs of a block).
template <class Outlets>
int pairs(t_cfilters &cf, const t_sample *in, Outlets &out, int from, int n) {
    int end = from; // the pairs before the first sample that would enter as 0
    while (end + 1 < n && plain_input(in[end]) && plain_input(in[end + 1])) end += 2;
    if (end == from || zero_input(cf.prev)) return from;
    Chain d0, q0, d1, q1;
    d0.load(&cf.bank[0][0]), q0.load(&cf.bank[0][1]);
    d1.load(&cf.bank[1][0]), q1.load(&cf.bank[1][1]);
    float u0 = float(in[from]) + kAntiDenormal, u1 = float(in[from + 1]) + kAntiDenormal,
          p = cf.prev;
    d0.front(kDirect, u0, cf.bank[0][0].x2), q0.front(kDelayed, p, cf.bank[0][1].x2);
    d1.front(kDirect, u1, cf.bank[1][0].x2), q1.front(kDelayed, u0, cf.bank[1][1].x2);
    float a = u0, b = p;
    p = u1;
    auto back = [&](int i) __attribute__((always_inline)) {
        out.write_pair(i, {d0.back(kDirect), q0.back(kDelayed)},
                       {d1.back(kDirect), q1.back(kDelayed)});
    };
    // Pair i's first halves beside pair i - 2's second halves.
    auto step = [&](int i) __attribute__((always_inline)) {
        const float w0 = float(in[i]) + kAntiDenormal, w1 = float(in[i + 1]) + kAntiDenormal;
        back(i - 2);
        d0.front(kDirect, w0, a), q0.front(kDelayed, p, b);
        d1.front(kDirect, w1, p), q1.front(kDelayed, w0, a);
        a = w0, b = p, p = w1;
    };
    int i = from + 2;
    for (; i + 10 <= end; i += 10) step(i), step(i + 2), step(i + 4), step(i + 6), step(i + 8);
    for (; i < end; i += 2) step(i);
    back(end - 2);
    d0.store(&cf.bank[0][0], a), q0.store(&cf.bank[0][1], b);
    d1.store(&cf.bank[1][0], p), q1.store(&cf.bank[1][1], a);
    cf.prev = p;
    return end;
}

#if defined(__arm__) && defined(__VFP_FP__) && !defined(__SOFTFP__) && PD_FLOATSIZE == 32
#define TAV_QUAD_BY_HAND 1 // it reads and writes single floats
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
int pairs_by_hand(t_cfilters &cf, const t_sample *in, Outlets &out, int from, int n) {
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
#endif

// Any other block size: pairs of samples on bank 0 then bank 1, the state in locals for
// the block. An odd block (which Pd does not deliver) ends with one sample on bank 0, so
// that every outlet sample is still written. Sample by sample where an outlet vector is
// the input shifted (each sample's outlets written before the next is read) and from a
// sample that enters the chains as 0.
template <class X, class Outlets> t_int *perform(t_int *w) {
    X *x = reinterpret_cast<X *>(w[1]);
    const t_sample *in = reinterpret_cast<t_sample *>(w[2]);
    Outlets out(w);
    const int n = static_cast<int>(w[kBlockArg<Outlets>]);
    int i = 0;
    if (!out.overlap_shifted(in, n)) {
#ifdef TAV_QUAD_BY_HAND
        if constexpr (Outlets::kByHand) // the loop scheduled by hand, then the plain pairs
            for (int k; (k = pairs_by_hand(x->x_cf, in, out, i, n)) != i;) i = k;
#endif
        i = pairs(x->x_cf, in, out, i, n);
    }
    for (; i < n; i++) out.write(i, cfilters_tick(x->x_cf, i & 1, in[i]));
    return w + kBlockArg<Outlets> + 1;
}

// Block size 1 takes the one-sample form and restarts the alternation at bank 0; any
// other size takes the pairs and leaves x_phase as it is. The state carries on either way.
template <class Outlets, class X>
void add_perform(X *x, t_signal **sp, t_perfroutine one, t_perfroutine pairs) {
    const int n = sp[0]->s_n;
    t_perfroutine f = n == 1 ? one : pairs;
    if constexpr (Outlets::kCount == 1)
        dsp_add(f, 4, x, sp[0]->s_vec, sp[1]->s_vec, static_cast<t_int>(n));
    else
        dsp_add(f, 5, x, sp[0]->s_vec, sp[1]->s_vec, sp[2]->s_vec, static_cast<t_int>(n));
    if (n == 1) x->x_phase = 0;
}

template <class X, class Outlets> void *create(t_class *c) {
    X *x = new_object<X>(c, {}, Outlets::kCount);
    init_cfilters(&x->x_cf);
    return x;
}

} // namespace tav::quad
