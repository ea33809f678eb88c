// What each class promises about its output whatever it is fed: which input samples it
// lets into its state, how far a sample it refuses may spoil the output, and the range
// the output keeps while every sample it took in has magnitude at most m.
//
// The ranges are the peak gains of the filters as they are built (the sum of the
// absolute values of the impulse response), taken at their largest settings; they hold
// for any input, any sequence of settings and any length of run.
#pragma once

#include "tavrelle.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace rules {

// Which outputs a sample the class refuses (takes() false) may spoil.
enum class Spoils {
    kNothing,       // the sample enters as silence
    kItsOwnSample,  // the output at the same position only
    kRestOfItsBlock // that output and the rest of its block, not the next block
};

struct Range {
    double lo, hi;
    bool holds(float v) const { return v >= lo && v <= hi; } // false for NaN
};

struct Rule {
    std::string cls;
    bool (*takes)(float x);
    Spoils spoils;
    double max_level;                        // the ranges are claimed up to this input level
    std::vector<Range (*)(double m)> outlets; // the range of each outlet at input level m
};

constexpr double kRounding = 1.001; // room for single-precision rounding in the recursions
constexpr float kLargest = std::numeric_limits<float>::max();

// Comb banks: eight combs of feedback at most 0.98 on the input scaled by 0.015; the
// lowpass in a damped loop has unit gain at 0 Hz and never overshoots.
inline Range comb_bank(double m) {
    double h = 8.0 * (0.015 * m + 1e-21) / (1.0 - 0.98) * kRounding;
    return {-h, h};
}

// Diffusers: each stage answers an impulse with -1 and then 1, 0.5, 0.25, ... (3 in all).
inline Range diffuser(double m) {
    double h = 3.0 * 3.0 * 3.0 * 3.0 * (m + 1e-21) * kRounding;
    return {-h, h};
}

// Phase-difference network: a section (c - z^-2) / (1 - c z^-2) sums to 1 + 2c.
inline double chain_gain(const float (&c)[4]) {
    double g = 1.0;
    for (float k : c) g *= 1.0 + 2.0 * k;
    return g;
}
constexpr float kDirectChain[4] = {0.161758f, 0.733029f, 0.94535f, 0.990598f};
constexpr float kDelayedChain[4] = {0.479401f, 0.876218f, 0.976599f, 0.9975f};

inline Range direct_chain(double m) {
    double h = chain_gain(kDirectChain) * (m + 1e-21) * kRounding;
    return {-h, h};
}
inline Range delayed_chain(double m) {
    double h = chain_gain(kDelayedChain) * (m + 1e-21) * kRounding;
    return {-h, h};
}
inline Range amplitude(double m) {
    double a = direct_chain(m).hi, b = delayed_chain(m).hi;
    return {0.0, 0.70710677 * std::sqrt(a * a + b * b)};
}

// Ducker: a gain, 0 to 1, exactly 1 in bypass.
inline Range gain(double) { return {0.0, 1.0}; }

// Bit-flip: the wet path is the first difference of a leaky integrator of at most
// 0.005 x 160 = 0.8, so at most 1.6; the dry path at most the input.
inline Range bit_flip(double m) {
    double h = (1.6 + m) * kRounding;
    return {-h, h};
}

// Damping lowpass: at coefficient 1 its impulse response 0, 1, -0.4, 0.56, ... sums to 5
// in magnitude, at smaller coefficients to less; twice that leaves room for coefficients
// that change between blocks.
inline Range damping(double m) {
    double h = 2.0 * 5.0 * m * kRounding;
    return {-h, h};
}

inline bool comb_takes(float x) { return !tav::is_huge(x * 0.015f); }
inline bool not_huge(float x) { return !tav::is_huge(x); }
inline bool network_takes(float x) { return !tav::is_huge(x + tav::kAntiDenormal); }
inline bool finite(float x) { return std::isfinite(x); }

inline const std::vector<Rule> &all() {
    static const std::vector<Rule> table = {
        {"velmarR~", comb_takes, Spoils::kNothing, kLargest, {comb_bank}},
        {"velmarL~", comb_takes, Spoils::kNothing, kLargest, {comb_bank}},
        {"plenthR~", comb_takes, Spoils::kNothing, kLargest, {comb_bank}},
        {"plenthL~", comb_takes, Spoils::kNothing, kLargest, {comb_bank}},
        {"skavelR~", not_huge, Spoils::kNothing, kLargest, {diffuser}},
        {"skavelL~", not_huge, Spoils::kNothing, kLargest, {diffuser}},
        {"lumbrisk~", network_takes, Spoils::kNothing, kLargest, {amplitude}},
        {"quorrel~", network_takes, Spoils::kNothing, kLargest, {direct_chain, delayed_chain}},
        {"duck~", not_huge, Spoils::kNothing, kLargest, {gain}},
        {"snarvel~", finite, Spoils::kItsOwnSample, kLargest, {bit_flip}},
        {"damp~", finite, Spoils::kRestOfItsBlock, kLargest / 20.0, {damping}},
    };
    return table;
}

inline const Rule *find(const std::string &cls) {
    for (const Rule &r : all())
        if (r.cls == cls) return &r;
    return nullptr;
}

// Follows one object's run block by block and reports the first output sample outside
// its class's range.
class OutputCheck {
  public:
    explicit OutputCheck(const Rule &rule) : rule_(rule) {}

    // The block's input (n samples) and its outlets; an empty string when all is well.
    std::string block(const float *in, int n, const std::vector<const float *> &outs) {
        int spoiled_from = n;
        std::vector<bool> refused(n, false);
        for (int i = 0; i < n; i++) {
            if (rule_.takes(in[i])) level_ = std::max(level_, std::fabs(static_cast<double>(in[i])));
            else refused[i] = true, spoiled_from = std::min(spoiled_from, i);
        }
        if (level_ > rule_.max_level) return "";
        for (std::size_t k = 0; k < outs.size() && k < rule_.outlets.size(); k++) {
            Range r = rule_.outlets[k](level_);
            for (int i = 0; i < n; i++) {
                if (rule_.spoils == Spoils::kItsOwnSample && refused[i]) continue;
                if (rule_.spoils == Spoils::kRestOfItsBlock && i >= spoiled_from) break;
                if (!r.holds(outs[k][i])) {
                    char what[200];
                    std::snprintf(what, sizeof what,
                                  " outlet %zu sample %d is %.9g (input %.9g), outside %.9g ... %.9g", k,
                                  i, outs[k][i], in[i], r.lo, r.hi);
                    return rule_.cls + what;
                }
            }
        }
        return "";
    }

    double level() const { return level_; }

  private:
    const Rule &rule_;
    double level_ = 0.0; // the largest magnitude taken in so far
};

} // namespace rules
