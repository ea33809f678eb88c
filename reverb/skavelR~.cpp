// skavelR~: four allpass diffusers in series, the right-channel tuning of the reverb's diffusion.
#include "diffuser.h"

using t_skavelR = tav::diffuser::Record<579, 464, 364, 248>;
TAVRELLE_RECORD(t_skavelR);

t_class *skavelR_class;

static void *skavelR_new() { return tav::diffuser::create<t_skavelR>(skavelR_class); }
static t_int *skavelR_perform(t_int *w) { return tav::diffuser::perform<t_skavelR>(w); }
static void skavelR_dsp(t_skavelR *x, t_signal **sp) { tav::add_perform(skavelR_perform, x, sp); }

TAVRELLE_EXPORT void skavelR_tilde_setup() {
    skavelR_class = class_new(gensym("skavelR~"), (t_newmethod)skavelR_new, nullptr, sizeof(t_skavelR), 0, A_NULL);
    tav::add_main_signal_inlet<t_skavelR>(skavelR_class);
    tav::add_dsp_method(skavelR_class, (t_method)skavelR_dsp);
    post("[skavelR~] version 1.0 by Tavrelle, based on Brevack's freeverb");
}
