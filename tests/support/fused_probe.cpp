// damp~ with its damping one unit in the last place off and one fused multiply-add asked
// for by name: a plug-in the instruction checks must refuse for its fused form and the
// bit-exact checks for its output, built with the same options as every plug-in.
#define TAVRELLE_DAMPING_ALTERED
#include "damp~.cpp"

[[gnu::used]] static float fused_probe(float a, float b, float c) { return __builtin_fmaf(a, b, c); }
