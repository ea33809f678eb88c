// The kernels of every class beside the plain step they mirror, for the kernel test
// (tests/unit/kernel_test.cpp). Each class source is compiled into the test executables
// (record_probe.cpp.in) together with its adapters (kernels/<stem>.h), which reach the
// source's own functions and register them here.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace probe {

// A block of n samples from `state` (the kernel's state and settings as floats, updated in
// place), from `in` to `out` and, for a class with two outlets, `out2`.
using BlockRun = void (*)(float *state, const float *in, float *out, float *out2, int n);

struct Kernel {
    std::string name;                       // the kernel's own name
    BlockRun plain;                         // the plain step on every sample
    BlockRun fast;                          // the kernel where it applies, then the plain step
    std::vector<std::vector<float>> states; // states to start from
    std::vector<float> inputs;              // values at the kernel's edges
    bool apart_only = false;                // its contract excludes vectors that overlap shifted
};

inline std::vector<Kernel> &kernels() {
    static std::vector<Kernel> all;
    return all;
}

// What a kernel did wrong beyond its output and state (an adapter notes it, the runner
// reports it), or "".
inline std::string &kernel_fault() {
    static std::string fault;
    return fault;
}

struct KernelRegistration {
    explicit KernelRegistration(std::vector<Kernel> list) {
        for (auto &k : list)
            kernels().push_back(std::move(k));
    }
};

// v and the floats one unit in the last place either side of it.
inline std::vector<float> around(float v) {
    const std::uint32_t b = std::bit_cast<std::uint32_t>(v);
    return {std::bit_cast<float>(b - 1u), v, std::bit_cast<float>(b + 1u)};
}

} // namespace probe
