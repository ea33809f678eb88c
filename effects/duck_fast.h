// duck~'s fast path: duck_run's steps four samples at a time; each sample's steps in their
// own order and the envelope and the gain passed on in sample order, so every bit is the
// per-sample loop's; it buys the overlap of four independent attacks with the chain.
#pragma once

// The whole groups of four of the block, through duck_run's steps; returns the samples done.
template <class Attack, class Target, class Smooth>
[[gnu::always_inline]] static inline int duck_groups(const t_sample *in, t_sample *out, int n,
                                                     Attack &attack_of, Target &target, Smooth &smooth) {
    constexpr int S = 4;
    int i = 0;
    for (; i + S <= n; i += S) {
        float t[S];
#pragma GCC unroll 4
        for (int j = 0; j < S; j++) t[j] = attack_of(in[i + j]);
#pragma GCC unroll 4
        for (int j = 0; j < S; j++) t[j] = target(t[j]);
#pragma GCC unroll 4
        for (int j = 0; j < S; j++) out[i + j] = static_cast<t_sample>(smooth(t[j]));
    }
    return i;
}
