// snarvel~'s fast path: snarvel_step<Plain> four samples at a time, with one test per group
// for the state and the inputs; the same operations in the same order, the code's table
// value being centred() itself, so every bit is the plain step's; it buys the test once a
// group and a load for each code's conversion. Included by snarvel~.cpp after snarvel_flushing.
#pragma once

#include <array>

// centred() of every low byte, for the fast path: a load where the conversion back to
// float and the integer steps before it would take four instructions on ARM.
constexpr auto kCentredByte = [] {
    std::array<float, 256> table{};
    for (std::uint32_t k = 0; k < 256; k++)
        table[k] = static_cast<float>(static_cast<std::int32_t>(k ^ kFlippedBit) - kFlippedSilence);
    return table;
}();

#if TAVRELLE_VFP11
#include "arm32/snarvel_codes_vfp11.h"
#endif

// saturating_int32 of four values. On ARM that is what the VFP's conversion does by itself
// (toward zero, saturating, NaN to 0). Elsewhere a plain cast is exact when every value
// lies inside the 32-bit range: the bits of a magnitude order like its value, and the OR
// of patterns is at least each one; NaN, and the rare group that this test cannot clear,
// go through saturating_int32.
static void to_codes(const float (&u)[4], std::int32_t (&q)[4]) {
#if TAVRELLE_VFP11
    snarvel_codes_vfp11(u, q);
#else
    std::uint32_t any = 0;
#pragma GCC unroll 4
    for (float v : u) any |= std::bit_cast<std::uint32_t>(v);
    if ((any & 0x7FFFFFFFu) < 0x4F000000u) [[likely]] { // 2^31
#pragma GCC unroll 4
        for (int j = 0; j < 4; j++) q[j] = static_cast<std::int32_t>(u[j]);
    } else {
#pragma GCC unroll 4
        for (int j = 0; j < 4; j++) q[j] = saturating_int32(u[j]);
    }
#endif
}

// The threshold of the fast path for the state and the inputs (see snarvel_perform), as
// tav::ftz::order_key gives it.
constexpr std::uint32_t kGroupFrom = std::bit_cast<std::uint32_t>(0x1p-66f) * 2u - 1u;
constexpr float kWetFrom = 0x1p-48f, kPoleFrom = 0x1p-8f;

// The groups of four of the usual path from sample i up to `whole`, each tested as it comes;
// returns the new state.
static float snarvel_groups(const t_sample *in, t_sample *out, int i, int whole, float y,
                            const t_snarvel &x) {
    const float wet = x.x_wet, dry = x.x_dry, offset = x.x_offset, coef = x.x_coef;
    const tav::ftz::OrderKeys key;
    constexpr auto least = tav::ftz::OrderKeys::least;
    for (; i < whole; i += 4) {
        float s[4], u[4];
        std::int32_t q[4];
#pragma GCC unroll 4
        for (int j = 0; j < 4; j++) s[j] = in[i + j];
        std::uint32_t inputs = least(least(key(s[0]), key(s[1])), least(key(s[2]), key(s[3])));
        if ((key(y) < kGroupFrom) | (inputs < kGroupFrom)) [[unlikely]] {
            y = snarvel_flushing(in, out, i, i + 4, y, x);
            continue;
        }
#pragma GCC unroll 4
        for (int j = 0; j < 4; j++) u[j] = codes(offset, s[j]);
        to_codes(u, q);
#pragma GCC unroll 4
        for (int j = 0; j < 4; j++) {
            float next = coef * y + wet * kCentredByte[static_cast<std::uint32_t>(q[j]) & 0xFFu];
            out[i + j] = static_cast<t_sample>((next + dry * s[j]) - y);
            y = next;
        }
    }
    return y;
}
