// plenthL~: eight plain comb filters, the left-channel tuning of the reverb's comb section.
#include "comb_bank.h"

using t_plenthL = tav::comb::Plain<1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617>;
TAVRELLE_RECORD(t_plenthL);

t_class *plenthL_class;

static void *plenthL_new() { return tav::comb::create<t_plenthL>(plenthL_class); }
static void plenthL_decay(t_plenthL *x, float d) { tav::comb::set_decay(x, d); }
static t_int *plenthL_perform(t_int *w) { return tav::comb::perform<t_plenthL>(w); }
static void plenthL_dsp(t_plenthL *x, t_signal **sp) { tav::add_perform(plenthL_perform, x, sp); }

TAVRELLE_EXPORT void plenthL_tilde_setup() {
    plenthL_class = class_new(gensym("plenthL~"), (t_newmethod)plenthL_new, nullptr, sizeof(t_plenthL), 0, A_NULL);
    tav::add_main_signal_inlet<t_plenthL>(plenthL_class);
    tav::add_dsp_method(plenthL_class, (t_method)plenthL_dsp);
    tav::add_float_method<plenthL_decay>(plenthL_class, "decay");
    post("[plenthL~] version 1.0 by Tavrelle, based on Brevack's freeverb");
}
