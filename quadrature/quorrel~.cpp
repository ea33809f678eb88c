// quorrel~: the analytic-signal pair of the phase-difference network, the direct chain
// (real part) on the left outlet and the delayed chain (imaginary part) on the right.
#include "phase_network.h"

struct t_quorrel {
    t_object x_obj;
    t_float x_f;
    int32_t x_phase;
    t_cfilters x_cf;
};
TAVRELLE_RECORD(t_quorrel);

t_class *quorrel_class;

namespace {

// Each chain output is flushed on its own; the network keeps the raw values.
constexpr std::uint32_t kExponentTop = tav::kExponentTop;

struct AnalyticPair {
    static constexpr int kCount = 2;
    t_sample *re, *im;
    explicit AnalyticPair(t_int *w)
        : re(reinterpret_cast<t_sample *>(w[3])), im(reinterpret_cast<t_sample *>(w[4])) {}
    bool overlap_shifted(const t_sample *in, int n) const {
        return tav::overlap_shifted(in, re, n) || tav::overlap_shifted(in, im, n);
    }
    // The tiny test and its 0 on the bit pattern, so that no floating-point conditional
    // waits for the flags: the same value either way.
    static float flushed(float v) {
        std::uint32_t b = tav::bits_of(v);
        return std::bit_cast<float>(b & kExponentTop ? b : 0u);
    }
    void write(int i, tav::quad::Pair p) {
        re[i] = flushed(p.direct);
        im[i] = flushed(p.delayed);
    }
    void write_pair(int i, tav::quad::Pair first, tav::quad::Pair second) {
        write(i, first);
        write(i + 1, second);
    }
};

} // namespace

static void *quorrel_new() { return tav::quad::create<t_quorrel, AnalyticPair>(quorrel_class); }
static t_int *quorrel_perform_one(t_int *w) { return tav::quad::perform_one<t_quorrel, AnalyticPair>(w); }
static t_int *quorrel_perform(t_int *w) { return tav::quad::perform<t_quorrel, AnalyticPair>(w); }
static void quorrel_dsp(t_quorrel *x, t_signal **sp) {
    tav::quad::add_perform<AnalyticPair>(x, sp, quorrel_perform_one, quorrel_perform);
}

TAVRELLE_EXPORT void quorrel_tilde_setup() {
    quorrel_class = class_new(gensym("quorrel~"), (t_newmethod)quorrel_new, nullptr, sizeof(t_quorrel), 0, A_NULL);
    tav::add_main_signal_inlet<t_quorrel>(quorrel_class);
    tav::add_dsp_method(quorrel_class, (t_method)quorrel_dsp);
    post("[quorrel~] version %s, written by Tavrelle", "1.0");
    post("[quorrel~] is based on Dorrowin's coefficients");
}
