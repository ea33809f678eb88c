// skavelL~: four allpass diffusers in series, the left-channel tuning of the reverb's diffusion.
#include "diffuser.h"

using t_skavelL = tav::diffuser::Record<556, 441, 341, 225>;
TAVRELLE_RECORD(t_skavelL);

t_class *skavelL_class;

static void *skavelL_new() { return tav::diffuser::create<t_skavelL>(skavelL_class); }
static t_int *skavelL_perform(t_int *w) { return tav::diffuser::perform<t_skavelL>(w); }
static void skavelL_dsp(t_skavelL *x, t_signal **sp) { tav::add_perform(skavelL_perform, x, sp); }

TAVRELLE_EXPORT void skavelL_tilde_setup() {
    skavelL_class = class_new(gensym("skavelL~"), (t_newmethod)skavelL_new, nullptr, sizeof(t_skavelL), 0, A_NULL);
    tav::add_main_signal_inlet<t_skavelL>(skavelL_class);
    tav::add_dsp_method(skavelL_class, (t_method)skavelL_dsp);
    post("[skavelL~] version 1.0 by Tavrelle, based on Brevack's freeverb");
}
