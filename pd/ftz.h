// Flush-to-zero arithmetic for the classes whose state can decay near 2^-126, and the
// order keys their fast paths test values with.
#pragma once

#include "tavrelle.h"

namespace tav {

// Flush-to-zero arithmetic. Pd runs with the FPU flushing results below 2^-126 to zero
// (FTZ/DAZ on x86, FZ on ARM); a host that does not flush would compute subnormals there,
// slowly (on the ARM11 each one traps to the kernel) and with other bits. Where a class's
// arithmetic could come that low, it uses these steps, which give what the flushing FPU
// gives (a result below 2^-126 in magnitude becomes a zero of its sign, the decision taken
// on the rounded result as x86 takes it) without ever forming a subnormal: a product or a
// sum that could land that low is formed 2^64 higher, where it rounds the same way, and
// scaled back only when it is normal.
namespace ftz {

constexpr float kUp = 0x1p64f, kDown = 0x1p-64f, kSmallestScaled = 0x1p-62f;

inline int exponent_field(float v) { return static_cast<int>((bits_of(v) >> 23) & 0xFFu); }
inline float zero_signed_as(float v) { return std::bit_cast<float>(bits_of(v) & 0x80000000u); }
inline float scaled_down(float s) {
    return (bits_of(s) & 0x7FFFFFFFu) < bits_of(kSmallestScaled) ? zero_signed_as(s) : s * kDown;
}

// A setting or rate-derived value as the flushing FPU leaves it.
inline float flush(float v) { return exponent_field(v) == 0 ? zero_signed_as(v) : v; }

inline float mul(float a, float b) {
    const int ea = exponent_field(a), eb = exponent_field(b);
    if (ea == 0 || eb == 0 || ea + eb >= 128) return a * b; // a zero, or at least 2^-126
    if (ea + eb < 64) return zero_signed_as(std::bit_cast<float>(bits_of(a) ^ bits_of(b)));
    return scaled_down(ea < eb ? (a * kUp) * b : a * (b * kUp)); // the smaller one scaled
}

// A sum lands below 2^-126 only when both terms are below 2^-101.
inline float add(float a, float b) {
    if (exponent_field(a) >= 26 || exponent_field(b) >= 26) return a + b;
    return scaled_down(a * kUp + b * kUp);
}
inline float sub(float a, float b) { return add(a, -b); }

// The two kinds of arithmetic a kernel can be written over: the FPU's own, for the common
// case where nothing can come near 2^-126, and the flushing steps above.
struct Plain {
    static float mul(float a, float b) { return a * b; }
    static float add(float a, float b) { return a + b; }
    static float sub(float a, float b) { return a - b; }
};
struct Flushing {
    static float mul(float a, float b) { return ftz::mul(a, b); }
    static float add(float a, float b) { return ftz::add(a, b); }
    static float sub(float a, float b) { return ftz::sub(a, b); }
};

// Zero, or at least `floor` in magnitude (a power of two), as one unsigned comparison:
// doubling drops the sign, and the minus one sends both zeros to the top.
inline std::uint32_t order_key(float v) { return (bits_of(v) << 1) - 1u; }
inline bool zero_or_at_least(float v, std::uint32_t floor_key) { return order_key(v) >= floor_key; }

// order_key as a fast loop wants it: the minus one kept in a register (the empty asm hides
// it from constant folding), so that on ARM the shift folds into the addition.
struct OrderKeys {
    std::uint32_t minus_one = ~0u;
    OrderKeys() { asm("" : "+r"(minus_one)); }
    std::uint32_t operator()(float v) const { return (bits_of(v) << 1) + minus_one; }
    static std::uint32_t least(std::uint32_t p, std::uint32_t q) { return p < q ? p : q; }
};

// 2^e as a float, for e from -126 to 127.
inline float power_of_two(int e) { return std::bit_cast<float>(static_cast<std::uint32_t>(e + 127) << 23); }

} // namespace ftz

} // namespace tav
