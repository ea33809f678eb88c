// The phase-difference network's kernels of one class (X, its record, and Outlets, its
// outlets' part) against cfilters_tick and the outlets' one-sample write on every sample.
// State: the network's 33 floats, then the bank of the next one-sample block (0 or 1).
#pragma once

#if TAVRELLE_VFP11
#include "checked_call_arm.h"
#endif

#include <cstring>

namespace probe_network {

constexpr int kFloats = sizeof(t_cfilters) / sizeof(float);

template <class X> X record(const float *st) {
    X x{};
    std::memcpy(&x.x_cf, st, sizeof x.x_cf);
    x.x_phase = st[kFloats] != 0.0f;
    return x;
}
template <class X> void keep(float *st, const X &x) {
    std::memcpy(st, &x.x_cf, sizeof x.x_cf);
    st[kFloats] = static_cast<float>(x.x_phase);
}

// The perform arguments of a block: x, the input, then one or two outlets, then n.
template <class Outlets> struct Args {
    t_int w[6];
    Args(void *x, const float *in, float *out, float *out2, int n) {
        w[0] = 0, w[1] = reinterpret_cast<t_int>(x), w[2] = reinterpret_cast<t_int>(in);
        w[3] = reinterpret_cast<t_int>(out), w[4] = reinterpret_cast<t_int>(out2), w[5] = n;
        w[tav::quad::kBlockArg<Outlets>] = n;
    }
};

// A block of size n as samples on alternate banks, from bank 0.
template <class X, class Outlets>
void plain(float *st, const float *in, float *out, float *out2, int n) {
    X x = record<X>(st);
    Args<Outlets> a(&x, in, out, out2, n);
    Outlets o(a.w);
    for (int i = 0; i < n; i++)
        o.write(i, tav::quad::cfilters_tick(x.x_cf, i & 1, in[i]));
    keep(st, x);
}

// The pairs, then sample by sample from where they stop.
template <class X, class Outlets>
void pairs(float *st, const float *in, float *out, float *out2, int n) {
    X x = record<X>(st);
    Args<Outlets> a(&x, in, out, out2, n);
    Outlets o(a.w);
    int i = o.overlap_shifted(in, n) ? 0 : tav::quad::pairs(x.x_cf, in, o, 0, n);
    for (; i < n; i++)
        o.write(i, tav::quad::cfilters_tick(x.x_cf, i & 1, in[i]));
    keep(st, x);
}

// The whole perform routine, which on the ARM11 runs the loop scheduled by hand first.
template <class X, class Outlets>
void perform(float *st, const float *in, float *out, float *out2, int n) {
    X x = record<X>(st);
    Args<Outlets> a(&x, in, out, out2, n);
    tav::quad::perform<X, Outlets>(a.w);
    keep(st, x);
}

// n blocks of size 1, the bank alternating from the state's.
template <class X, class Outlets>
void plain_one(float *st, const float *in, float *out, float *out2, int n) {
    X x = record<X>(st);
    for (int i = 0; i < n; i++) {
        Args<Outlets> a(&x, in + i, out + i, out2 ? out2 + i : nullptr, 1);
        Outlets o(a.w);
        o.write(0, tav::quad::cfilters_tick(x.x_cf, x.x_phase, in[i]));
        x.x_phase ^= 1;
    }
    keep(st, x);
}

// A one-sample routine on n blocks of size 1; on the ARM11 through the checked call.
template <class X, class Outlets, t_perfroutine kOne>
void one(float *st, const float *in, float *out, float *out2, int n) {
    X x = record<X>(st);
    for (int i = 0; i < n; i++) {
        Args<Outlets> a(&x, in + i, out + i, out2 ? out2 + i : nullptr, 1);
#if TAVRELLE_VFP11
        std::uint32_t changed = 0;
        t_int *next = probe_checked_call(kOne, a.w, &changed);
        if (changed & 1) probe::kernel_fault() = "changed one of r4-r11";
        if (changed & 2) probe::kernel_fault() = "changed one of s16-s31";
        if (changed & 4) probe::kernel_fault() = "changed the FPSCR's control bits";
#else
        t_int *next = kOne(a.w);
#endif
        if (next != a.w + tav::quad::kBlockArg<Outlets> + 1)
            probe::kernel_fault() = "returned the wrong position";
    }
    keep(st, x);
}

// States the network reaches: from silence, 40 samples of noise at each scale, the last
// one as it is or entering as 0 (-1e-21), then either bank next.
inline std::vector<std::vector<float>> states() {
    std::vector<std::vector<float>> all{std::vector<float>(kFloats + 1)};
    for (float scale : {1.0f, 0x1p-60f, 0x1p62f})
        for (bool enters_as_zero : {false, true})
            for (float phase : {0.0f, 1.0f}) {
                t_cfilters cf{};
                std::uint32_t seed = 99u;
                for (int i = 0; i < 40; i++) {
                    seed = seed * 1664525u + 1013904223u;
                    const float v = scale * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
                    tav::quad::cfilters_tick(cf, i & 1, i == 39 && enters_as_zero ? -1e-21f : v);
                }
                std::vector<float> st(kFloats + 1);
                std::memcpy(st.data(), &cf, sizeof cf);
                st[kFloats] = phase;
                all.push_back(st);
            }
    return all;
}

inline std::vector<float> inputs() {
    std::vector<float> all{-1e-21f, 1e-21f, 0x1p-70f};
    for (float v : probe::around(0x1p65f))
        all.push_back(v), all.push_back(-v);
    for (float v : probe::around(0x1p-63f))
        all.push_back(v), all.push_back(-v);
    for (float v : probe::around(0x1p63f))
        all.push_back(v);
    return all;
}

} // namespace probe_network
