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

#include "ftz.h"

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
// same steps scheduled by hand (arm32/network_vfp11.h).
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


// The network's fast path: cfilters_tick on bank 0 then bank 1, section for section in
// the stated order, so every bit is the same; what it buys is said below.
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
// scheduled by hand (arm32/network_vfp11.h) leaves (the last pairs of a block).
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


} // namespace tav::quad

#if TAVRELLE_VFP11 && PD_FLOATSIZE == 32
#include "arm32/network_vfp11.h"
#endif

namespace tav::quad {

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
#if TAVRELLE_VFP11 && PD_FLOATSIZE == 32
        // The loop scheduled by hand, then the plain pairs.
        for (int k; (k = pairs_vfp11(x->x_cf, in, out, i, n)) != i;) i = k;
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
