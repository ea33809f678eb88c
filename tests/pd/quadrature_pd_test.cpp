// The quadrature tools inside Pure Data, against the test host, at block sizes 1 and 64.
#include "pd_runner.h"
#include "signals.h"

#include <gtest/gtest.h>

namespace {

using pdtest::Case;
using pdtest::console_has;
using pdtest::expect_same_as_host;
using pdtest::run_in_pd;

// Noise and a sine with infinities, NaNs and huge samples, then a stretch near 2^64
// whose chain outputs square beyond the float range.
std::vector<float> program() {
    auto v = sig::hostile(6000, {sig::kInf, sig::kNaN, -sig::kInf, 0x1p65f, -1e30f});
    auto s = sig::sine(6000, 0.021, 0.4f);
    for (std::size_t i = 0; i < v.size(); i++) v[i] += s[i];
    auto loud = sig::noise(2000, 0x1.cp64f);
    v.insert(v.end(), loud.begin(), loud.end());
    v.resize(v.size() + 3000, 0.0f); // and silence again
    return v;
}

struct Quad {
    const char *cls;
    int outlets;
    std::vector<std::string> banner;
};

void PrintTo(const Quad &q, std::ostream *os) { *os << q.cls; }

class QuadratureInPd : public testing::TestWithParam<Quad> {};
INSTANTIATE_TEST_SUITE_P(
    Classes, QuadratureInPd,
    testing::Values(Quad{"lumbrisk~", 1, {"[lumbrisk~] version 1.0, written by Tavrelle"}},
                    Quad{"quorrel~", 2,
                         {"[quorrel~] version 1.0, written by Tavrelle",
                          "[quorrel~] is based on Dorrowin's coefficients"}}),
    [](const auto &i) {
        std::string n = i.param.cls;
        return n.substr(0, n.size() - 1);
    });

// Both forms in Pd match the host, and match each other bit for bit.
TEST_P(QuadratureInPd, BlockOneAndBlock64MatchTheHostAndEachOther) {
    for (float sr : {44100.0f, 48000.0f}) {
        std::vector<std::vector<float>> outputs[2];
        for (int form = 0; form < 2; form++) {
            Case c{GetParam().cls, program()};
            c.outlets = GetParam().outlets;
            c.block = form == 0 ? 1 : 64;
            c.sample_rate = sr;
            auto run = run_in_pd(c);
            for (auto &line : GetParam().banner) EXPECT_TRUE(console_has(run, line)) << line;
            expect_same_as_host(c, run);
            outputs[form] = run.out;
        }
        ASSERT_EQ(outputs[0].size(), static_cast<std::size_t>(GetParam().outlets));
        for (int k = 0; k < GetParam().outlets; k++)
            EXPECT_EQ(sig::first_difference(outputs[0][k], outputs[1][k]), -1)
                << "outlet " << k << " at " << sr;
    }
}

} // namespace
