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
struct AnalyticPair {
    static constexpr int kCount = 2;
    t_sample *re, *im;
    explicit AnalyticPair(t_int *w)
        : re(reinterpret_cast<t_sample *>(w[3])), im(reinterpret_cast<t_sample *>(w[4])) {}
    bool overlap_shifted(const t_sample *in, int n) const {
        return tav::overlap_shifted(in, re, n) || tav::overlap_shifted(in, im, n);
    }
    void write(int i, tav::quad::Pair p) {
        re[i] = tav::is_tiny(p.direct) ? 0.0f : p.direct;
        im[i] = tav::is_tiny(p.delayed) ? 0.0f : p.delayed;
    }
#if TAVRELLE_VFP11 && PD_FLOATSIZE == 32
    // The pairs loop scheduled by hand (arm32/quorrel_vfp11.h).
    static constexpr int kMostPasses = 1 << 20;
    void by_hand_start(tav::quad::ByHand &h, int i) { h.out0 = re + i, h.out1 = im + i; }
    static void run_by_hand(tav::quad::ByHand &h);
#endif
    // Chain outputs below 2^-63 come only near silence, so a pair tests its four once
    // (a tiny value has bits 30 and 29 clear) and writes them as they are; the rare pair
    // with a tiny one goes through write. Same values, a quarter of the tests.
    void write_pair(int i, tav::quad::Pair first, tav::quad::Pair second) {
        if (!tav::is_tiny(first.direct) && !tav::is_tiny(first.delayed) &&
            !tav::is_tiny(second.direct) && !tav::is_tiny(second.delayed)) [[likely]] {
            re[i] = first.direct, im[i] = first.delayed;
            re[i + 1] = second.direct, im[i + 1] = second.delayed;
        } else {
            write(i, first);
            write(i + 1, second);
        }
    }
};

} // namespace

static void *quorrel_new() { return tav::quad::create<t_quorrel, AnalyticPair>(quorrel_class); }
#if TAVRELLE_VFP11 && PD_FLOATSIZE == 32
#include "arm32/quorrel_vfp11.h" // quorrel_one_vfp11: the routine below, by hand
#endif
[[maybe_unused]] static t_int *quorrel_perform_one(t_int *w) {
    return tav::quad::perform_one<t_quorrel, AnalyticPair>(w);
}
static t_int *quorrel_perform(t_int *w) { return tav::quad::perform<t_quorrel, AnalyticPair>(w); }
static void quorrel_dsp(t_quorrel *x, t_signal **sp) {
#if TAVRELLE_VFP11 && PD_FLOATSIZE == 32
    tav::quad::add_perform<AnalyticPair>(x, sp, quorrel_one_vfp11, quorrel_perform);
#else
    tav::quad::add_perform<AnalyticPair>(x, sp, quorrel_perform_one, quorrel_perform);
#endif
}

TAVRELLE_EXPORT void quorrel_tilde_setup() {
    quorrel_class = class_new(gensym("quorrel~"), (t_newmethod)quorrel_new, nullptr, sizeof(t_quorrel), 0, A_NULL);
    tav::add_main_signal_inlet<t_quorrel>(quorrel_class);
    tav::add_dsp_method(quorrel_class, (t_method)quorrel_dsp);
    post("[quorrel~] version %s, written by Tavrelle", "1.0");
    post("[quorrel~] is based on Dorrowin's coefficients");
}
