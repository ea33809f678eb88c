// Test signals and exact comparisons shared by the unit and the Pure Data tests.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace sig {

inline std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

inline std::vector<float> impulse(int length, float height = 1.0f) {
    std::vector<float> v(length, 0.0f);
    if (length > 0) v[0] = height;
    return v;
}

// Deterministic noise in -amp ... amp (a 32-bit LCG, the same on every machine).
inline std::vector<float> noise(int length, float amp = 1.0f, std::uint32_t seed = 12345u) {
    std::vector<float> v(length);
    for (auto &s : v) {
        seed = seed * 1664525u + 1013904223u;
        s = amp * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }
    return v;
}

inline std::vector<float> sine(int length, double cycles_per_sample, float amp = 1.0f,
                               double phase = 0.0) {
    std::vector<float> v(length);
    for (int i = 0; i < length; i++)
        v[i] = static_cast<float>(amp * std::sin(2.0 * M_PI * cycles_per_sample * i + phase));
    return v;
}

// Noise with non-finite and huge samples at fixed places.
inline std::vector<float> hostile(int length, const std::vector<float> &bad, int every = 97) {
    std::vector<float> v = noise(length);
    for (int i = 5, k = 0; i < length; i += every, k++) v[i] = bad[k % bad.size()];
    return v;
}

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Index of the first sample whose bits differ, or -1.
inline long first_difference(const std::vector<float> &a, const std::vector<float> &b) {
    if (a.size() != b.size()) return static_cast<long>(std::min(a.size(), b.size()));
    for (std::size_t i = 0; i < a.size(); i++)
        if (bits(a[i]) != bits(b[i])) return static_cast<long>(i);
    return -1;
}

} // namespace sig
