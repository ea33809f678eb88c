// duck~'s fast paths against the flushing steps with the plain level on every sample.
// State: depth, coef, env, gain; every state here passes duck_perform's test.
namespace probe_duck {

t_duck record(const float *st) {
    t_duck x{};
    x.x_depth = st[0], x.x_coef = st[1], x.x_env = st[2], x.x_gain = st[3];
    return x;
}
void keep(float *st, const t_duck &x) { st[2] = x.x_env, st[3] = x.x_gain; }

void plain(float *st, const float *in, float *out, float *, int n) {
    t_duck x = record(st);
    duck_run_flushing(&x, in, out, n);
    keep(st, x);
}

template <bool kArm> void fast(float *st, const float *in, float *out, float *, int n) {
    t_duck x = record(st);
    int done = 0;
#if TAVRELLE_VFP11
    if constexpr (kArm) done = duck_vfp11(&x, in, out, n);
#endif
    duck_run<tav::ftz::Plain>(&x, in + done, out + done, n - done, heard_quickly);
    keep(st, x);
}

// The release coefficients of 44.1 kHz at the shortest and longest response, the smallest
// one the test lets through, and 0; gains and envelopes at their floors.
std::vector<std::vector<float>> states() {
    std::vector<std::vector<float>> all;
    for (float coef : {0.99886727f, 0.9998969f, 0x1p-24f, 0.0f})
        for (float depth : {20.0f, 1.0f, 0x1p-60f, 0.0f}) {
            all.push_back({depth, coef, 1e-9f, 0.0f});
            all.push_back({depth, coef, 3.5f, 0x1p-95f});
            all.push_back({depth, coef, 1.0f, 0.25f});
        }
    return all;
}

std::vector<float> inputs() {
    std::vector<float> all;
    for (float level : {0x1p-63f, 0x1p-60f, 0x1p65f, 0.05f, 1.0f / 20.0f})
        for (float v : probe::around(level))
            all.push_back(v), all.push_back(-v);
    return all;
}

const probe::KernelRegistration registration({
    {"duck_run<Plain>", plain, fast<false>, states(), inputs(), false},
#if TAVRELLE_VFP11
        {"duck_vfp11", plain, fast<true>, states(), inputs(), false},
#endif
});

} // namespace probe_duck
