// Eight parallel feedback comb filters on one scaled input, summed to one output.
// The damped bank has a one-pole lowpass in each loop; the plain bank has none.
// A class picks its record (delay lengths and field order) and instantiates the
// templates below; they reach the fields by name, so the order does not matter.
#pragma once

#include "delay_lines.h"

namespace tav::comb {

constexpr float kInputGain = 0.015f;
constexpr float kDecayBase = 0.7f;
constexpr float kDecaySpan = 0.28f;
constexpr float kDecayCeiling = 0.98f;
constexpr float kToneScale = 0.9f;
constexpr float kDefaultFeedback = 0.84f; // "decay" 0.5
constexpr float kDefaultDamp = 0.63f;     // "tone" 0.3
constexpr float kDefaultAtten = 0.37f;

// Delay lines in comb order, with their lowpass states behind them.
template <int L1, int L2, int L3, int L4, int L5, int L6, int L7, int L8>
struct DampedFiltersFirst {
    t_object x_obj;
    t_float x_f;
    float x_buf1[L1], x_buf2[L2], x_buf3[L3], x_buf4[L4];
    float x_buf5[L5], x_buf6[L6], x_buf7[L7], x_buf8[L8];
    float x_filt1, x_filt2, x_filt3, x_filt4, x_filt5, x_filt6, x_filt7, x_filt8;
    float x_input;
    float x_damp;
    float x_atten;
    float x_feedback;
    int32_t x_idx1, x_idx2, x_idx3, x_idx4, x_idx5, x_idx6, x_idx7, x_idx8;
};

// The same fields with the input and the coefficients ahead of the lowpass states.
template <int L1, int L2, int L3, int L4, int L5, int L6, int L7, int L8>
struct DampedCoefficientsFirst {
    t_object x_obj;
    t_float x_f;
    float x_buf1[L1], x_buf2[L2], x_buf3[L3], x_buf4[L4];
    float x_buf5[L5], x_buf6[L6], x_buf7[L7], x_buf8[L8];
    float x_input;
    float x_damp;
    float x_atten;
    float x_feedback;
    float x_filt1, x_filt2, x_filt3, x_filt4, x_filt5, x_filt6, x_filt7, x_filt8;
    int32_t x_idx1, x_idx2, x_idx3, x_idx4, x_idx5, x_idx6, x_idx7, x_idx8;
};

template <int L1, int L2, int L3, int L4, int L5, int L6, int L7, int L8> struct Plain {
    t_object x_obj;
    t_float x_f;
    float x_buf1[L1], x_buf2[L2], x_buf3[L3], x_buf4[L4];
    float x_buf5[L5], x_buf6[L6], x_buf7[L7], x_buf8[L8];
    float x_input;
    float x_feedback;
    int32_t x_idx1, x_idx2, x_idx3, x_idx4, x_idx5, x_idx6, x_idx7, x_idx8;
};

template <class X> constexpr bool kDamped = requires(X x) { x.x_damp; };

// "decay": feedback from 0.7 to 0.98. A NaN is ignored.
template <class X> void set_decay(X *x, float d) {
    if (is_nan(d)) return;
    x->x_feedback =
        unit_map(d, kDecayBase, kDecayCeiling, [](float v) { return kDecayBase + kDecaySpan * v; });
}

// "tone": 0 is the darkest, 1 switches the lowpass off. A NaN is ignored.
template <class X> void set_tone(X *x, float t) {
    if (is_nan(t)) return;
    x->x_damp = unit_map(t, kToneScale, 0.0f, [](float v) { return (1.0f - v) * kToneScale; });
    x->x_atten = 1.0f - x->x_damp; // 1 - 0.9 below 0, 1 above 1
}

template <class X> void *create(t_class *c) {
    X *x = kDamped<X> ? new_object<X>(c, {"decay", "tone"}) : new_object<X>(c, {"decay"});
    x->x_input = 0.0f;
    x->x_feedback = kDefaultFeedback;
    if constexpr (kDamped<X>) {
        x->x_damp = kDefaultDamp;
        x->x_atten = kDefaultAtten;
    }
    return x;
}

template <class X> void post_coefficients(X *x) {
    post("feedback is %f", static_cast<double>(x->x_feedback));
    post("damp is %f", static_cast<double>(x->x_damp));
    post("attenuator is %f", static_cast<double>(x->x_atten));
}

// The scaled input as it enters the loops: a huge sample is dropped for the offset.
inline float condition(float in) {
    float s = in * kInputGain;
    return is_huge(s) ? kAntiDenormal : s + kAntiDenormal;
}

// A block's working state, held in locals: the lines, the lowpass states, the last
// conditioned input and the coefficients.
template <class X> struct Bank {
    static constexpr bool damped = kDamped<X>;
    DelayLines<8> lines;
    float filt[8] = {};
    float input, feedback, damp = 0.0f, atten = 0.0f;

    explicit Bank(X *x)
        : lines({x->x_idx1, x->x_idx2, x->x_idx3, x->x_idx4, x->x_idx5, x->x_idx6, x->x_idx7,
                 x->x_idx8},
                x->x_buf1, x->x_buf2, x->x_buf3, x->x_buf4, x->x_buf5, x->x_buf6, x->x_buf7,
                x->x_buf8),
          input(x->x_input), feedback(x->x_feedback) {
        if constexpr (damped) {
            damp = x->x_damp;
            atten = x->x_atten;
            filt[0] = x->x_filt1, filt[1] = x->x_filt2, filt[2] = x->x_filt3, filt[3] = x->x_filt4;
            filt[4] = x->x_filt5, filt[5] = x->x_filt6, filt[6] = x->x_filt7, filt[7] = x->x_filt8;
        }
    }

    void store(X *x) const {
        x->x_input = input;
        if constexpr (damped) {
            x->x_filt1 = filt[0], x->x_filt2 = filt[1], x->x_filt3 = filt[2], x->x_filt4 = filt[3];
            x->x_filt5 = filt[4], x->x_filt6 = filt[5], x->x_filt7 = filt[6], x->x_filt8 = filt[7];
        }
        lines.store(x->x_idx1, x->x_idx2, x->x_idx3, x->x_idx4, x->x_idx5, x->x_idx6, x->x_idx7,
                    x->x_idx8);
    }

    // The plain step, one sample, with u = condition(in) and back[k] what comb k's line
    // gives back:
    //     y = (damped ? filt[0] : back[0]); y += (damped ? filt[k] : back[k]), k = 1..7
    //     out = is_tiny(y) ? 0 : y
    //     for each comb k: damped: filt[k] = damp * filt[k] + atten * back[k]
    //                      line k takes u + feedback * (damped ? filt[k] : back[k])
    //     input = u
    // steps<S> is that step on S consecutive samples at once, stage by stage across the
    // eight combs and the S samples, so that independent work overlaps in the
    // floating-point pipeline. Every delay is longer than S, so no sample reads what
    // another writes: all reads come first and no load waits behind a store. Every value
    // comes from the same operations in the same order as in the plain step, so every
    // bit is the same; what it buys is in the note at perform. steps<1> is the plain step.
    template <int S> [[gnu::always_inline]] void steps(const t_sample *in, t_sample *out) {
        float u[S], back[S][8], state[S + 1][8], y[S];
#pragma GCC unroll 8
        for (int j = 0; j < S; j++) u[j] = condition(in[j]);
#pragma GCC unroll 8
        for (int k = 0; k < 8; k++)
#pragma GCC unroll 8
            for (int j = 0; j < S; j++) back[j][k] = lines.slot[k][j];
        if constexpr (damped) {
#pragma GCC unroll 8
            for (int k = 0; k < 8; k++) state[0][k] = filt[k];
#pragma GCC unroll 8
            for (int j = 0; j < S; j++)
#pragma GCC unroll 8
                for (int k = 0; k < 8; k++) state[j + 1][k] = damp * state[j][k] + atten * back[j][k];
        }
        // The damped bank sums its lowpass states, the plain bank its delay-line outputs;
        // a damped comb feeds back its new state, a plain one the delay-line output.
        auto summed = [&](int j, int k) { return damped ? state[j][k] : back[j][k]; };
        auto fed = [&](int j, int k) { return damped ? state[j + 1][k] : back[j][k]; };
#pragma GCC unroll 8
        for (int j = 0; j < S; j++) y[j] = summed(j, 0);
#pragma GCC unroll 8
        for (int k = 1; k < 8; k++)
#pragma GCC unroll 8
            for (int j = 0; j < S; j++) y[j] += summed(j, k);
#pragma GCC unroll 8
        for (int j = 0; j < S; j++) out[j] = is_tiny(y[j]) ? 0.0f : y[j];
#pragma GCC unroll 8
        for (int k = 0; k < 8; k++) {
#pragma GCC unroll 8
            for (int j = 0; j < S; j++) lines.slot[k][j] = u[j] + feedback * fed(j, k);
            lines.slot[k] += S;
        }
        if constexpr (damped) {
#pragma GCC unroll 8
            for (int k = 0; k < 8; k++) filt[k] = state[S][k];
        }
        input = u[S - 1];
    }
};

// Two samples at a time: the plain bank's sums are long chains of additions, and two of
// them interleave where one would leave the pipeline waiting. Against the plain step on
// every sample (steps<1>) it buys little on x86-64 (110 instructions a sample instead of
// 118 for the damped bank, 69 instead of 70 for the plain one) and much by the VFP11
// model of the ARM1176 (81 cycles a sample instead of 102, and 65 instead of 100).
template <class X> t_int *perform(t_int *w) {
    auto [x, in, out, n] = unpack<X>(w);
    Bank<X> bank(x);
    run_block<2>(bank, in, out, n);
    bank.store(x);
    return w + 5;
}

} // namespace tav::comb
