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
// below; with a nonzero input at both chains the sections stay far above 2^-126.
inline bool zero_input(float u) { return (bits_of(u) << 1) == 0; }

// One section as the arithmetic goes with results below 2^-126 flushed to zeros of their
// sign (as Pd runs), without making a subnormal number (a kernel trap on ARM's VFP11). Only
// operands all below 2^-100 can give such a result; for them each step is done scaled up
// by 2^64, which is exact in the normal range, and a scaled result below 2^-62 is a zero.
namespace flushed {
constexpr float kUp = 0x1p64f, kDown = 0x1p-64f;
inline bool small(float v) { return (bits_of(v) & 0x7FFFFFFFu) < 0x0D800000u; } // < 2^-100
inline float down(float w) {
    return (bits_of(w) & 0x7FFFFFFFu) < 0x20800000u ? w * 0.0f : w * kDown;
}
inline float add(float a, float b) {
    return small(a) && small(b) ? down(a * kUp + b * kUp) : a + b;
}
inline float mul(float c, float a) { return small(a) ? down(c * (a * kUp)) : c * a; } // c > 1/8
inline float section(float c, float s, t_cfsection &q) {
    float y = add(mul(c, add(s, q.y2)), -q.x2);
    q.x2 = s, q.y2 = y;
    return y;
}
} // namespace flushed

// Advances both chains by one sample on bank b.
inline Pair cfilters_tick(t_cfilters &cf, int b, float v) {
    float u = guard(v);
    float d = cf.prev;
    cf.prev = u;
    t_cfsection *sec = cf.bank[b];
    if (zero_input(u) || zero_input(d)) [[unlikely]] {
        for (int k = 0; k < 4; k++) {
            u = flushed::section(kDirect[k], u, sec[2 * k]);
            d = flushed::section(kDelayed[k], d, sec[2 * k + 1]);
        }
        return {u, d};
    }
    // The chains are independent: one section of each per stage keeps both pipelines busy.
#pragma GCC unroll 4
    for (int k = 0; k < 4; k++) {
        t_cfsection &p = sec[2 * k], &q = sec[2 * k + 1];
        float y = kDirect[k] * (u + p.y2) - p.x2;
        float z = kDelayed[k] * (d + q.y2) - q.x2;
        p.x2 = u, p.y2 = y, u = y;
        q.x2 = d, q.y2 = z, d = z;
    }
    return {u, d};
}

// Two samples: cfilters_tick on bank 0, then on bank 1. Each bank only looks two samples
// back, so the two samples' four chains are independent of one another and advance
// section by section together, overlapping in the floating-point pipeline.
inline void cfilters_pair(t_cfilters &cf, float v0, float v1, Pair &first, Pair &second) {
    const float u0 = guard(v0), u1 = guard(v1);
    if (zero_input(u0) || zero_input(u1) || zero_input(cf.prev)) [[unlikely]] {
        first = cfilters_tick(cf, 0, v0);
        second = cfilters_tick(cf, 1, v1);
        return;
    }
    float s[4] = {u0, cf.prev, u1, u0}; // each sample's direct and delayed chain inputs
    cf.prev = u1;
    t_cfsection *chain[4] = {&cf.bank[0][0], &cf.bank[0][1], &cf.bank[1][0], &cf.bank[1][1]};
#pragma GCC unroll 4
    for (int k = 0; k < 4; k++)
#pragma GCC unroll 4
        for (int c = 0; c < 4; c++) {
            t_cfsection &q = chain[c][2 * k];
            float y = (c % 2 ? kDelayed[k] : kDirect[k]) * (s[c] + q.y2) - q.x2;
            q.x2 = s[c], q.y2 = y, s[c] = y;
        }
    first = {s[0], s[1]};
    second = {s[2], s[3]};
}

// Field by field, so that the copy stays in registers rather than becoming a memcpy.
inline void copy_state(t_cfilters &to, const t_cfilters &from) {
    to.prev = from.prev;
#pragma GCC unroll 2
    for (int b = 0; b < 2; b++)
#pragma GCC unroll 8
        for (int k = 0; k < kCfSections; k++) to.bank[b][k] = from.bank[b][k];
}

// A class says how a pair becomes outlet samples: `Outlets(w)` takes the outlet vectors
// from the perform arguments (w[3] onwards), `write(i, pair)` sets position i of each,
// `write_pair(i, first, second)` positions i and i + 1, and `overlap_shifted(in, n)`
// says whether an outlet vector overlaps the input without being the same vector.
template <class Outlets> constexpr int kBlockArg = 3 + Outlets::kCount; // index of n in w

// Block size 1: the bank alternates through x_phase; the block size is not read.
template <class X, class Outlets> t_int *perform_one(t_int *w) {
    X *x = reinterpret_cast<X *>(w[1]);
    const t_sample *in = reinterpret_cast<t_sample *>(w[2]);
    Outlets out(w);
    int phase = x->x_phase;
    out.write(0, cfilters_tick(x->x_cf, phase & 1, in[0]));
    x->x_phase = (phase + 1) & 1;
    return w + kBlockArg<Outlets> + 1;
}

// Any other block size: pairs of samples on bank 0 then bank 1, the state in locals for
// the block. An odd block (which Pd does not deliver) ends with one sample on bank 0, so
// that every outlet sample is still written.
template <class X, class Outlets> t_int *perform(t_int *w) {
    X *x = reinterpret_cast<X *>(w[1]);
    const t_sample *in = reinterpret_cast<t_sample *>(w[2]);
    Outlets out(w);
    const int n = static_cast<int>(w[kBlockArg<Outlets>]);

    t_cfilters cf;
    copy_state(cf, x->x_cf);

    int i = 0;
    if (out.overlap_shifted(in, n)) // each sample's outlets written before the next is read
        for (; i < n; i++) out.write(i, cfilters_tick(cf, i & 1, in[i]));
    for (; i + 1 < n; i += 2) {
        Pair first, second;
        cfilters_pair(cf, in[i], in[i + 1], first, second);
        out.write_pair(i, first, second);
    }
    if (i < n) out.write(i, cfilters_tick(cf, 0, in[i]));

    copy_state(x->x_cf, cf);
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
