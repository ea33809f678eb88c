// velmarR~: eight damped comb filters, the right-channel tuning of the reverb's comb section.
#include "comb_bank.h"

using t_velmarR = tav::comb::DampedFiltersFirst<1139, 1211, 1300, 1379, 1445, 1514, 1580, 1640>;
TAVRELLE_RECORD(t_velmarR);

t_class *velmarR_class;

static void *velmarR_new() { return tav::comb::create<t_velmarR>(velmarR_class); }
static void velmarR_decay(t_velmarR *x, float d) { tav::comb::set_decay(x, d); }
static void velmarR_damp(t_velmarR *x, float t) { tav::comb::set_tone(x, t); }
static void velmarR_test(t_velmarR *x) { tav::comb::post_coefficients(x); }
static t_int *velmarR_perform(t_int *w) { return tav::comb::perform<t_velmarR>(w); }
static void velmarR_dsp(t_velmarR *x, t_signal **sp) { tav::add_perform(velmarR_perform, x, sp); }

TAVRELLE_EXPORT void velmarR_tilde_setup() {
    velmarR_class = class_new(gensym("velmarR~"), (t_newmethod)velmarR_new, nullptr, sizeof(t_velmarR), 0, A_NULL);
    tav::add_main_signal_inlet<t_velmarR>(velmarR_class);
    tav::add_dsp_method(velmarR_class, (t_method)velmarR_dsp);
    tav::add_float_method<velmarR_decay>(velmarR_class, "decay");
    tav::add_float_method<velmarR_damp>(velmarR_class, "tone");
    tav::add_plain_method(velmarR_class, (t_method)velmarR_test, "test");
    post("[velmarR~] version 1.0 by Tavrelle, based on Brevack's freeverb");
}
