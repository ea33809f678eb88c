// plenthR~: eight plain comb filters, the right-channel tuning of the reverb's comb section.
#include "comb_bank.h"

using t_plenthR = tav::comb::Plain<1139, 1211, 1300, 1379, 1445, 1514, 1580, 1640>;
TAVRELLE_RECORD(t_plenthR);

t_class *plenthR_class;

static void *plenthR_new() { return tav::comb::create<t_plenthR>(plenthR_class); }
static void plenthR_decay(t_plenthR *x, float d) { tav::comb::set_decay(x, d); }
static t_int *plenthR_perform(t_int *w) { return tav::comb::perform<t_plenthR>(w); }
static void plenthR_dsp(t_plenthR *x, t_signal **sp) { tav::add_perform(plenthR_perform, x, sp); }

TAVRELLE_EXPORT void plenthR_tilde_setup() {
    plenthR_class = class_new(gensym("plenthR~"), (t_newmethod)plenthR_new, nullptr, sizeof(t_plenthR), 0, A_NULL);
    tav::add_main_signal_inlet<t_plenthR>(plenthR_class);
    tav::add_dsp_method(plenthR_class, (t_method)plenthR_dsp);
    tav::add_float_method<plenthR_decay>(plenthR_class, "decay");
    post("[plenthR~] version 1.0 by Tavrelle, based on Brevack's freeverb");
}
