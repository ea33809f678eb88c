// quorrel~'s kernels: the phase-difference network's (network.h) with its two outlets.
#include "network.h"

namespace probe_quorrel {
using namespace probe_network;

const probe::KernelRegistration registration({
    {"quorrel pairs",
     plain<t_quorrel, AnalyticPair>,
     pairs<t_quorrel, AnalyticPair>,
     states(),
     inputs(),
     false},
        {"quorrel_perform",
         plain<t_quorrel, AnalyticPair>,
         perform<t_quorrel, AnalyticPair>,
         states(),
         inputs(),
         false},
        {"quorrel_perform_one",
         plain_one<t_quorrel, AnalyticPair>,
         one<t_quorrel, AnalyticPair, quorrel_perform_one>,
         states(),
         inputs(),
         false},
#if TAVRELLE_VFP11
        {"quorrel_one_vfp11",
         plain_one<t_quorrel, AnalyticPair>,
         one<t_quorrel, AnalyticPair, quorrel_one_vfp11>,
         states(),
         inputs(),
         false},
#endif
});

} // namespace probe_quorrel
