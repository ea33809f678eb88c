// Four allpass stages in series, feedback 0.5, longest delay first.
// Each stage: output = delayed - input, line input = input + delayed * 0.5.
#pragma once

#include "tavrelle.h"

namespace tav::diffuser {

constexpr float kFeedback = 0.5f;

template <int L1, int L2, int L3, int L4> struct Record {
    t_object x_obj;
    t_float x_f;
    t_float x_buf1[L1];
    t_float x_buf2[L2];
    t_float x_buf3[L3];
    t_float x_buf4[L4];
    int32_t x_idx1, x_idx2, x_idx3, x_idx4;
};

template <class X> void *create(t_class *c) {
    X *x = reinterpret_cast<X *>(pd_new(c));
    outlet_new(&x->x_obj, &s_signal);
    return x;
}

template <class X> t_int *perform(t_int *w) {
    auto [x, in, out, n] = unpack<X>(w);
    constexpr int len[4] = {
        std::extent_v<decltype(X::x_buf1)>, std::extent_v<decltype(X::x_buf2)>,
        std::extent_v<decltype(X::x_buf3)>, std::extent_v<decltype(X::x_buf4)>};
    float *const line[4] = {x->x_buf1, x->x_buf2, x->x_buf3, x->x_buf4};
    int pos[4] = {x->x_idx1, x->x_idx2, x->x_idx3, x->x_idx4};

    for (int i = 0; i < n; i++) {
        float v = in[i];
        float u = is_huge(v) ? kAntiDenormal : v + kAntiDenormal;
#pragma GCC unroll 4
        for (int k = 0; k < 4; k++) {
            float *slot = &line[k][pos[k]];
            float delayed = *slot;
            float y = delayed - u;
            *slot = u + delayed * kFeedback;
            u = y;
        }
        out[i] = is_tiny(u) ? 0.0f : u;
#pragma GCC unroll 4
        for (int k = 0; k < 4; k++)
            if (++pos[k] == len[k]) pos[k] = 0;
    }

    x->x_idx1 = pos[0], x->x_idx2 = pos[1], x->x_idx3 = pos[2], x->x_idx4 = pos[3];
    return w + 5;
}

} // namespace tav::diffuser
