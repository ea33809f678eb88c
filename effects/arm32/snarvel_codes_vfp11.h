// saturating_int32 of four values on the VFP: its conversion rounds toward zero,
// saturates and turns NaN into 0 by itself, so it is saturating_int32 bit for bit, one
// instruction a value where the portable form tests the group first.
#pragma once

#include "vfp11.h"

#include <bit>
#include <cstdint>

inline void snarvel_codes_vfp11(const float (&u)[4], std::int32_t (&q)[4]) {
#pragma GCC unroll 4
    for (int j = 0; j < 4; j++) {
        float r;
        asm("vcvt.s32.f32 %0, %1" : "=t"(r) : "t"(u[j]));
        q[j] = std::bit_cast<std::int32_t>(r);
    }
}
