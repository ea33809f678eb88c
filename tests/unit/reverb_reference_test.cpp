// The reverb blocks against their algorithms written out in the plainest way: one sample
// at a time, one comb or stage after another, each position advanced with its own
// compare and reset. The plug-ins process runs of samples between line wraps and several
// samples at once; over many wraps, odd block sizes and hostile input the two must agree
// bit for bit.
#include "host.h"
#include "signals.h"
#include "tavrelle.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using sig::first_difference;

constexpr std::array<int, 8> kCombR = {1139, 1211, 1300, 1379, 1445, 1514, 1580, 1640};
constexpr std::array<int, 8> kCombL = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};

struct Line {
    std::vector<float> v;
    int pos = 0;
    explicit Line(int length) : v(length, 0.0f) {}
    float &slot() { return v[pos]; }
    void advance() {
        if (++pos == static_cast<int>(v.size())) pos = 0;
    }
};

struct CombBank {
    std::vector<Line> lines;
    std::array<float, 8> filt{};
    bool damped;
    float feedback, damp, atten;

    float tick(float in) {
        float s = in * 0.015f;
        float input = tav::is_huge(s) ? 1e-21f : s + 1e-21f;
        float y = damped ? filt[0] : lines[0].slot();
        for (int k = 1; k < 8; k++) y += damped ? filt[k] : lines[k].slot();
        for (int k = 0; k < 8; k++) {
            float o = lines[k].slot();
            if (damped) o = filt[k] = damp * filt[k] + atten * o;
            lines[k].slot() = input + feedback * o;
            lines[k].advance();
        }
        return tav::is_tiny(y) ? 0.0f : y;
    }
};

struct Diffuser {
    std::vector<Line> lines;

    float tick(float x) {
        float u = tav::is_huge(x) ? 1e-21f : x + 1e-21f;
        for (Line &l : lines) {
            float b = l.slot();
            float y = b - u;
            l.slot() = u + b * 0.5f;
            l.advance();
            u = y;
        }
        return tav::is_tiny(u) ? 0.0f : u;
    }
};

template <class Reference> std::vector<float> reference(Reference r, const std::vector<float> &in) {
    std::vector<float> out;
    for (float v : in) out.push_back(r.tick(v));
    return out;
}

std::vector<Line> lines_of(const auto &lengths) { return {lengths.begin(), lengths.end()}; }

// Noise with non-finite and huge samples, three passes through the longest comb.
std::vector<float> input() {
    return sig::hostile(3 * 1640 + 77, {sig::kInf, sig::kNaN, 3e21f, -5e19f, 1e30f}, 211);
}

std::vector<float> render(const char *cls, const std::vector<float> &in, int block,
                          const std::vector<std::pair<const char *, float>> &settings) {
    host::Object obj(cls);
    for (auto &[selector, value] : settings) EXPECT_TRUE(obj.message(selector, {value}));
    obj.dsp(44100.0f, block);
    auto out = obj.run(in);
    out.resize(in.size());
    return out;
}

constexpr int kBlocks[] = {1, 2, 3, 5, 64, 100};

struct BankCase {
    const char *cls;
    std::array<int, 8> lengths;
    bool damped;
    friend void PrintTo(const BankCase &c, std::ostream *os) { *os << c.cls; }
};

class CombBanks : public testing::TestWithParam<BankCase> {};
INSTANTIATE_TEST_SUITE_P(All, CombBanks,
                         testing::Values(BankCase{"velmarR~", kCombR, true},
                                         BankCase{"velmarL~", kCombL, true},
                                         BankCase{"plenthR~", kCombR, false},
                                         BankCase{"plenthL~", kCombL, false}),
                         [](const auto &i) { return std::string(i.param.cls).substr(0, 7); });

TEST_P(CombBanks, MatchTheOneSampleAtATimeAlgorithm) {
    const BankCase &c = GetParam();
    const float dark_atten = std::bit_cast<float>(0x3DCCCCD0u); // 1 - 0.9 in single precision
    // The defaults, then the longest decay with the darkest tone.
    const CombBank fresh{lines_of(c.lengths), {}, c.damped, 0.84f, 0.63f, 0.37f};
    const CombBank dark{lines_of(c.lengths), {}, c.damped, 0.98f, 0.9f, dark_atten};
    const std::vector<std::pair<const char *, float>> dark_settings =
        c.damped ? std::vector<std::pair<const char *, float>>{{"decay", 5.0f}, {"tone", -1.0f}}
                 : std::vector<std::pair<const char *, float>>{{"decay", 5.0f}};
    auto in = input();
    auto want_fresh = reference(fresh, in), want_dark = reference(dark, in);
    for (int block : kBlocks) {
        EXPECT_EQ(first_difference(render(c.cls, in, block, {}), want_fresh), -1) << "block " << block;
        EXPECT_EQ(first_difference(render(c.cls, in, block, dark_settings), want_dark), -1)
            << "dark, block " << block;
    }
}

TEST(Diffusers, MatchTheOneSampleAtATimeAlgorithm) {
    auto in = input();
    for (auto [cls, lengths] : {std::pair{"skavelR~", std::array<int, 4>{579, 464, 364, 248}},
                                std::pair{"skavelL~", std::array<int, 4>{556, 441, 341, 225}}}) {
        auto want = reference(Diffuser{lines_of(lengths)}, in);
        for (int block : kBlocks)
            EXPECT_EQ(first_difference(render(cls, in, block, {}), want), -1)
                << cls << " block " << block;
    }
}

} // namespace
