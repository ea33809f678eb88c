// Every fast path and every ARM11 kernel against the plain step it mirrors, in the manner
// of checkasm: whole blocks of every length from 0 to 130, from crafted states, on random
// and crafted inputs, with the vectors apart, the same and overlapping shifted, and with
// flushing off and on. Output, the samples around it and the state must be the same bits,
// and no subnormal flag may be raised. The kernels come from the class sources themselves
// (tests/support/kernels/).
#include "host.h"
#include "kernel_checks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>

namespace {

constexpr int kLongest = 130, kRoom = 24;
constexpr int kShifts[] = {1, -1, 3, -3}; // where an overlapping output lies from the input

// Values every kernel meets: signed zeros, the offset and its negative, the ends of the
// normal range, huge and non-finite ones.
std::vector<float> common_inputs() {
    const float inf = std::numeric_limits<float>::infinity();
    return {0.0f,      -0.0f,
            1e-21f,    -1e-21f,
            0x1p-126f, -0x1p-126f,
            1.0f,      -1.0f,
            0.5f,      1e30f,
            -1e30f,    inf,
            -inf,      std::numeric_limits<float>::quiet_NaN()};
}

// Input pattern p: noise, or noise with the crafted values at every third position; over
// the block lengths and states each value reaches each position of a group of four.
void fill(float *in, int n, int p, const std::vector<float> &crafted) {
    std::uint32_t seed = 777u + static_cast<std::uint32_t>(p);
    for (int i = 0; i < n; i++) {
        seed = seed * 1664525u + 1013904223u;
        in[i] = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
        if (p > 0 && (i + p) % 3 == 0) in[i] = crafted[(i / 3 + p * 5) % crafted.size()];
    }
}

struct Buffers {
    std::vector<float> a, b, c; // input (and output where shifted), output, second output
    Buffers() : a(kLongest + 2 * kRoom), b(a.size()), c(a.size()) {
        for (auto *v : {&a, &b, &c})
            for (float &s : *v)
                std::memcpy(&s, &host::kUnwritten, 4);
    }
    float *in() { return a.data() + kRoom; }
    float *out(int shift) { return shift == 0 ? b.data() + kRoom : in() + shift; } // 0: apart
    float *out2() { return c.data() + kRoom; }
};

bool same_bits(const std::vector<float> &x, const std::vector<float> &y) {
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0;
}

// What went wrong in one case, or nullptr: the kernel from `state` on input pattern p,
// its output shifted from the input (or in place, shift -kRoom), against the plain step.
std::string run_case(const probe::Kernel &k, const std::vector<float> &start, int n, int p,
                     int shift, const std::vector<float> &crafted) {
    auto out = [shift](Buffers &b) { return shift == -kRoom ? b.in() : b.out(shift); };
    Buffers ref;
    fill(ref.in(), n, p, crafted);
    std::vector<float> ref_state = start;
    k.plain(ref_state.data(), ref.in(), out(ref), ref.out2(), n);
    for (bool flushing : {false, true}) {
        Buffers got;
        fill(got.in(), n, p, crafted);
        std::vector<float> state = start;
        bool flags;
        {
            std::unique_ptr<host::FlushToZero> ftz;
            if (flushing) ftz = std::make_unique<host::FlushToZero>();
            host::clear_subnormal_flags();
            k.fast(state.data(), got.in(), out(got), got.out2(), n);
            flags = host::subnormal_flags_raised();
        }
        std::string fault;
        fault.swap(probe::kernel_fault());
        if (fault.empty() && flags) fault = "raised a subnormal flag";
        if (fault.empty() && !same_bits(state, ref_state)) fault = "left another state";
        if (fault.empty() &&
            !(same_bits(got.a, ref.a) && same_bits(got.b, ref.b) && same_bits(got.c, ref.c)))
            fault = "wrote other samples";
        if (!fault.empty()) return fault + (flushing ? ", flushing on" : ", flushing off");
    }
    return "";
}

// The first case where the kernel and the plain step part, or "". Every state and length
// runs in place, apart and with one of the shifted layouts, on noise or on noise with
// crafted values, each state and length taking the next shift and pattern in turn.
std::string check(const probe::Kernel &k) {
    std::vector<float> crafted = common_inputs();
    crafted.insert(crafted.end(), k.inputs.begin(), k.inputs.end());
    const int crafted_patterns = 3 * static_cast<int>(crafted.size());
    for (std::size_t s = 0; s < k.states.size(); s++)
        for (int n = 0; n <= kLongest; n++) {
            const int turn = n + static_cast<int>(s);
            const int p = turn % 2 ? 1 + (n * 7 + static_cast<int>(s) * 3) % crafted_patterns : 0;
            for (int shift : {-kRoom, 0, kShifts[turn % 4]}) {
                if (k.apart_only && shift != -kRoom && shift != 0) continue;
                const std::string fault = run_case(k, k.states[s], n, p, shift, crafted);
                if (!fault.empty())
                    return k.name + " " + fault + ": state " + std::to_string(s) + ", n " +
                           std::to_string(n) + ", pattern " + std::to_string(p) +
                           (shift == -kRoom ? ", in place"
                                            : ", output at input + " + std::to_string(shift));
            }
        }
    return "";
}

TEST(Kernels, EveryKernelGivesThePlainStepsBits) {
    ASSERT_GE(probe::kernels().size(), 8u)
        << "the kernels of the class sources were not registered";
    for (const probe::Kernel &k : probe::kernels()) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(check(k), "");
    }
}

} // namespace
