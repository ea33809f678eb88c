// damp~'s fast path: damp_step<Plain> with the test of the next sample between its steps;
// the same operations in the same order, so every bit is the plain step's; it buys the
// test's integer steps in the waits of the recurrence instead of a test before each sample.
// Included by damp~.cpp after damp_step and kDamping.
#pragma once

// The floor of the fast path's test (see damp_perform), 2^-76 / f^2 (f taken down to a
// power of two; below 2^-101, which no rate gives, as if it were 2^-101, when every state
// takes the flushing steps): as an order key, ((127 - 76 - 2 (e - 127)) << 24) - 1 for
// f's exponent field e, which is 0x31000000 - (e << 25) - 1 modulo 2^32 (f is not
// negative).
static std::uint32_t damp_floor_key(float f) {
    const std::uint32_t f_field = std::max(tav::bits_of(f) >> 23, 26u);
    return 0x31000000u - (f_field << 25) - 1u;
}

// damp_step<Plain> for the samples before the last, with the test of the next sample (see
// damp_perform) written between its steps: the next input is read first, and high,
// computed last, is folded in last. Moves i past the samples it wrote: it stops before
// the last sample and after a sample whose successor fails the test. For vectors that are
// the same or apart.
[[gnu::always_inline]] static inline void damp_fast(int &i, float &low, float &band, float f,
                                                    std::uint32_t floor_key,
                                                    const tav::ftz::OrderKeys &key,
                                                    const t_sample *in, t_sample *out, int n) {
    constexpr auto least = tav::ftz::OrderKeys::least;
    for (; i < n - 1; i++) {
        float s = in[i];
        std::uint32_t least_key = key(band);
        low = low + band * f;
        least_key = least(least_key, key(in[i + 1]));
        float d = s - low;
        out[i] = static_cast<t_sample>(low);
        least_key = least(least_key, key(low));
        float high = d - band * kDamping;
        band = band + f * high;
        if (least(least_key, key(high)) < floor_key) [[unlikely]] {
            i++;
            break;
        }
    }
}
