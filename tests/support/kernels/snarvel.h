// snarvel~'s groups against the flushing step on every sample. State: wet, dry, offset,
// coef, the high-pass state; every setting here is in the range of the usual path.
namespace probe_snarvel {

t_snarvel record(const float *st) {
    t_snarvel x{};
    x.x_wet = st[0], x.x_dry = st[1], x.x_offset = st[2], x.x_coef = st[3];
    return x;
}

void plain(float *st, const float *in, float *out, float *, int n) {
    st[4] = snarvel_flushing(in, out, 0, n, st[4], record(st));
}

template <bool kArm> void fast(float *st, const float *in, float *out, float *, int n) {
    const t_snarvel x = record(st);
    const int whole = n & ~3;
    float y = st[4];
#if TAVRELLE_VFP11
    if constexpr (kArm) y = snarvel_vfp11(in, out, whole, y, x);
#endif
    if constexpr (!kArm) y = snarvel_groups(in, out, 0, whole, y, x);
    st[4] = snarvel_flushing(in, out, whole, n, y, x);
}

std::vector<std::vector<float>> states() {
    std::vector<std::vector<float>> all;
    for (float wet : {0.005f, 0.0025f, 0x1p-48f})
        for (float coef : {0.99430096f, 0x1p-8f, -0.99f, 0.0f})
            for (float y : {0.0f, 0x1p-66f, -0x1p-66f, 0x1p-67f, 0.003f}) {
                all.push_back({wet, 1.0f - wet / 0.005f, 128.2f, coef, y});
                all.push_back({wet, 0.0f, 129.0f, coef, y});
            }
    return all;
}

std::vector<float> inputs() {
    std::vector<float> all;
    for (float v : probe::around(0x1p-66f))
        all.push_back(v), all.push_back(-v);
    for (float v : {2147483648.0f, -2147483648.0f, 3.0f, -3.0f, 1.0f / 42.666f})
        all.push_back(v);
    return all;
}

const probe::KernelRegistration registration({
    {"snarvel_groups", plain, fast<false>, states(), inputs(), true},
#if TAVRELLE_VFP11 && PD_FLOATSIZE == 32
        {"snarvel_vfp11", plain, fast<true>, states(), inputs(), true},
#endif
});

} // namespace probe_snarvel
