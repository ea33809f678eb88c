// What the kernels scheduled by hand for the ARM11 (ARMv6, VFPv2) share; included by
// each family's arm32/ headers, in the 32-bit VFP build only.
#pragma once

#include "tavrelle.h"

#if !TAVRELLE_VFP11
#error "the ARM11 kernels are for the 32-bit ARM build with VFP only"
#endif

// A listing of hand-scheduled instructions written once and emitted in parts: each line
// is wrapped in the name of its part, and each part is given one of these.
#define TAV_KEEP(line) line
#define TAV_SKIP(line)
