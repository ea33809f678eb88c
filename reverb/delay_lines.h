// The delay lines of a comb bank or a diffuser during one block, each held as a pointer
// to its current slot. A block is cut into runs in which no line reaches its end, so a
// sample only advances the pointers; a line wraps (compare and reset) at the end of the
// run that reached it.
#pragma once

#include "tavrelle.h"

#include <algorithm>
#include <cstddef>

namespace tav {

template <int N> struct DelayLines {
    float *begin[N], *end[N], *slot[N];

    // The record's positions, then its lines in the same order.
    template <std::size_t... L>
    DelayLines(const int32_t (&pos)[N], float (&...line)[L])
        : begin{line...}, end{(line + L)...} {
#pragma GCC unroll 8
        for (int k = 0; k < N; k++) slot[k] = begin[k] + pos[k];
    }

    // Writes the positions back into the record's fields, in line order.
    template <class... P> void store(P &...pos) const {
        int k = 0;
        ((pos = static_cast<int32_t>(slot[k] - begin[k]), k++), ...);
    }

    // Samples before the first line reaches its end, at most `left`.
    int run(int left) const {
#pragma GCC unroll 8
        for (int k = 0; k < N; k++) left = std::min(left, static_cast<int>(end[k] - slot[k]));
        return left;
    }

    void wrap() {
#pragma GCC unroll 8
        for (int k = 0; k < N; k++)
            if (slot[k] == end[k]) slot[k] = begin[k];
    }
};

// Runs a block of n samples through `kernel`: kernel.steps<S>(in, out) takes S samples at
// once where a run has that many left, kernel.steps<1> the rest; steps advance the
// kernel's `lines`.
template <int S, class Kernel>
[[gnu::always_inline]] inline void run_block(Kernel &kernel, const t_sample *in, t_sample *out,
                                              int n) {
    for (int left = n; left > 0;) {
        int run = kernel.lines.run(left);
        left -= run;
        for (; run >= S; run -= S, in += S, out += S) kernel.template steps<S>(in, out);
        for (; run > 0; run--, in++, out++) kernel.template steps<1>(in, out);
        kernel.lines.wrap();
    }
}

} // namespace tav
