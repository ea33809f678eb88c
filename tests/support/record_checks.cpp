#include "record_checks.h"

namespace probe {

std::vector<Probe> &probes() {
    static std::vector<Probe> all;
    return all;
}

const Probe *find(const std::string &cls) {
    for (const Probe &p : probes())
        if (p.cls == cls) return &p;
    return nullptr;
}

} // namespace probe
