// lumbrisk~'s kernels: the phase-difference network's (network.h) with its amplitude outlet.
#include "network.h"

namespace probe_lumbrisk {
using namespace probe_network;

const probe::KernelRegistration registration({
    {"lumbrisk pairs",
     plain<t_lumbrisk, Amplitude>,
     pairs<t_lumbrisk, Amplitude>,
     states(),
     inputs(),
     false},
        {"lumbrisk_perform",
         plain<t_lumbrisk, Amplitude>,
         perform<t_lumbrisk, Amplitude>,
         states(),
         inputs(),
         false},
        {"lumbrisk_perform_one",
         plain_one<t_lumbrisk, Amplitude>,
         one<t_lumbrisk, Amplitude, lumbrisk_perform_one>,
         states(),
         inputs(),
         false},
#if TAVRELLE_VFP11
        {"lumbrisk_one_vfp11",
         plain_one<t_lumbrisk, Amplitude>,
         one<t_lumbrisk, Amplitude, lumbrisk_one_vfp11>,
         states(),
         inputs(),
         false},
#endif
});

} // namespace probe_lumbrisk
