// velmarL~: eight damped comb filters, the left-channel tuning of the reverb's comb section.
#include "comb_bank.h"

using t_velmarL = tav::comb::DampedCoefficientsFirst<1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617>;
TAVRELLE_RECORD(t_velmarL);

t_class *velmarL_class;

static void *velmarL_new() { return tav::comb::create<t_velmarL>(velmarL_class); }
static void velmarL_decay(t_velmarL *x, float d) { tav::comb::set_decay(x, d); }
static void velmarL_damp(t_velmarL *x, float t) { tav::comb::set_tone(x, t); }
static void velmarL_test(t_velmarL *x) { tav::comb::post_coefficients(x); }
static t_int *velmarL_perform(t_int *w) { return tav::comb::perform<t_velmarL>(w); }
static void velmarL_dsp(t_velmarL *x, t_signal **sp) { tav::add_perform(velmarL_perform, x, sp); }

TAVRELLE_EXPORT void velmarL_tilde_setup() {
    velmarL_class = class_new(gensym("velmarL~"), (t_newmethod)velmarL_new, nullptr, sizeof(t_velmarL), 0, A_NULL);
    tav::add_main_signal_inlet<t_velmarL>(velmarL_class);
    tav::add_dsp_method(velmarL_class, (t_method)velmarL_dsp);
    tav::add_float_method<velmarL_decay>(velmarL_class, "decay");
    tav::add_float_method<velmarL_damp>(velmarL_class, "tone");
    tav::add_plain_method(velmarL_class, (t_method)velmarL_test, "test");
    post("[velmarL~] version 1.0 by Tavrelle, based on Brevack's freeverb");
}
