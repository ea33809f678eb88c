// damp~'s fast paths against damp_samples, the plain step with its own test at every
// sample; the ARM11 kernel also stops where damp_fast's test stops. State: low, band, f.
namespace probe_damp {

constexpr int kLongestBlock = 256;

template <bool kArm> void fast(float *st, const float *in, float *out, float *, int n) {
    float low = st[0], band = st[1];
    const float f = st[2];
    const std::uint32_t floor_key = damp_floor_key(f);
    const tav::ftz::OrderKeys key;
    constexpr auto least = tav::ftz::OrderKeys::least;
    int i = 0;
    if (n > 0 && least(least(key(low), key(band)), key(in[0])) >= floor_key) {
#if TAVRELLE_VFP11
        if constexpr (kArm) {
            // Where it must stop: where damp_fast stops on the same samples, the last one
            // read again as the next, as the kernel reads it (with vectors that do not
            // overlap shifted, whose inputs the outputs do not change).
            float ahead[kLongestBlock + 1], scratch[kLongestBlock + 1];
            std::copy(in, in + n, ahead);
            ahead[n] = in[n - 1];
            float l = low, b = band;
            int stop = 0;
            damp_fast(stop, l, b, f, floor_key, key, ahead, scratch, n + 1);
            i = damp_vfp11(low, band, f, kDamping, floor_key, key.minus_one, in, out, n);
            if (i != stop && !tav::overlap_shifted(in, out, n))
                probe::kernel_fault() = "stopped elsewhere than its test says";
        }
#endif
        if constexpr (!kArm) damp_fast(i, low, band, f, floor_key, key, in, out, n);
    }
    const DampState s = damp_samples({low, band}, f, floor_key, in, out, i, n);
    st[0] = s.low, st[1] = s.band;
}

void plain(float *st, const float *in, float *out, float *, int n) {
    const DampState s = damp_samples({st[0], st[1]}, st[2], damp_floor_key(st[2]), in, out, 0, n);
    st[0] = s.low, st[1] = s.band;
}

// States at and beside the floor of each coefficient, the smallest ones included.
std::vector<std::vector<float>> states() {
    std::vector<std::vector<float>> all;
    for (float f : {1.0f, 0x1p-12f, 0x1p-30f, 0x1p-101f}) {
        const float floor = std::bit_cast<float>((damp_floor_key(f) + 1u) >> 1);
        for (float low : probe::around(floor))
            for (float band : {0.0f, floor, -floor, 0.25f * (1.0f + low)})
                all.push_back({low, band, f});
        all.push_back({0.5f, -0.25f, f});
        all.push_back({0.0f, 0.0f, f});
    }
    return all;
}

std::vector<float> inputs() {
    std::vector<float> all;
    for (float f : {1.0f, 0.6f, 0x1p-12f, 0x1p-30f}) {
        const float floor = std::bit_cast<float>((damp_floor_key(f) + 1u) >> 1);
        for (float v : probe::around(floor))
            all.push_back(v), all.push_back(-v);
    }
    return all;
}

const probe::KernelRegistration registration({
    {"damp_fast", plain, fast<false>, states(), inputs(), true},
#if TAVRELLE_VFP11
        {"damp_vfp11", plain, fast<true>, states(), inputs(), false},
#endif
});

} // namespace probe_damp
