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
#ifdef TAV_QUAD_BY_HAND
    // The pairs loop scheduled by hand (phase_network.h): each pair stores the outlet
    // samples of the pair before as they are and tests their bits as write_pair does; a
    // pair with a tiny one calls label 7, which stores all four again through write's
    // test. r4-r7 carry the bits to the call.
    static constexpr bool kByHand = true;
    static constexpr int kMostPasses = 1 << 20;
    void by_hand_start(tav::quad::ByHand &h, int i) { h.out0 = re + i, h.out1 = im + i; }
    static void run_by_hand(tav::quad::ByHand &h) {
        TAV_QUAD_RUN_BY_HAND(
            h, TAV_QUAD_TINY_HOOKS("r2", "bleq 7f"),
            // A pair with a tiny outlet sample: all four again, each through write's test.
            "7:  tst r4, #0x60000000\n"
            "    moveq r4, #0\n"
            "    tst r5, #0x60000000\n"
            "    moveq r5, #0\n"
            "    tst r6, #0x60000000\n"
            "    moveq r6, #0\n"
            "    tst r7, #0x60000000\n"
            "    moveq r7, #0\n"
            "    stmdb r1, {r4, r5}\n"
            "    stmdb r2, {r6, r7}\n"
            "    bx lr\n");
    }
#else
    static constexpr bool kByHand = false;
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
#ifdef TAV_QUAD_ONE_BY_HAND
static_assert(tav::quad::by_hand_layout<t_quorrel>());
TAV_QUAD_ONE_FLUSHED(quorrel_one_flushed, t_quorrel, AnalyticPair)
// perform_one by hand (see phase_network.h), then write: each output stored, then
// overwritten with the 0 its tiny test leaves in the register when it is below 2^-63.
[[gnu::naked]] static t_int *quorrel_perform_one(t_int *) {
    asm(TAV_QUAD_ONE_NETWORK("quorrel_one_flushed")
        "ldr r1, [r0, #12]\n"         // re
        "ldr r2, [r0, #16]\n"         // im
        "add r0, r0, #24\n"           // w + 6
        "vstr s0, [r3, #4]\n"         // the network's last two stores
        "vmov ip, s0\n"
        "vstr s0, [r1]\n"
        "vstr s1, [r3, #12]\n"
        "vmov r3, s1\n"
        "ands ip, ip, #0x60000000\n"  // tiny: bits 30 and 29 clear
        "streq ip, [r1]\n"
        "vstr s1, [r2]\n"
        "ands r3, r3, #0x60000000\n"
        "streq r3, [r2]\n"
        "bx lr\n"
        ".ltorg\n");
}
#else
static t_int *quorrel_perform_one(t_int *w) { return tav::quad::perform_one<t_quorrel, AnalyticPair>(w); }
#endif
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
