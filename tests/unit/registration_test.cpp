// Every class registers as Pd expects: its name, its banner, its methods with their
// argument types, its inlets and outlets, and nothing the host would refuse.
#include "host.h"
#include "signals.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct ClassContract {
    const char *name;
    std::vector<std::string> banner;
    std::vector<std::string> selectors; // after "dsp", in registration order
    std::vector<std::string> inlets;    // float inlets right of the signal inlet
    int signal_outlets;
};

void PrintTo(const ClassContract &c, std::ostream *os) { *os << c.name; }

std::string freeverb_banner(const char *name) {
    return std::string("[") + name + "] version 1.0 by Tavrelle, based on Brevack's freeverb";
}

const std::vector<ClassContract> &contracts() {
    static const std::vector<ClassContract> all = {
        {"velmarR~", {freeverb_banner("velmarR~")}, {"decay", "tone", "test"}, {"decay", "tone"}, 1},
        {"velmarL~", {freeverb_banner("velmarL~")}, {"decay", "tone", "test"}, {"decay", "tone"}, 1},
        {"plenthR~", {freeverb_banner("plenthR~")}, {"decay"}, {"decay"}, 1},
        {"plenthL~", {freeverb_banner("plenthL~")}, {"decay"}, {"decay"}, 1},
        {"skavelR~", {freeverb_banner("skavelR~")}, {}, {}, 1},
        {"skavelL~", {freeverb_banner("skavelL~")}, {}, {}, 1},
        {"lumbrisk~", {"[lumbrisk~] version 1.0, written by Tavrelle"}, {}, {}, 1},
        {"quorrel~",
         {"[quorrel~] version 1.0, written by Tavrelle",
          "[quorrel~] is based on Dorrowin's coefficients"},
         {}, {}, 2},
        {"duck~", {"[duck~] version 1.0, written by Tavrelle"}, {"depth", "response", "bypass"}, {"depth", "response"}, 1},
        {"snarvel~", {"[snarvel~] version 1.0 by Tavrelle"}, {"mix", "noisegate"}, {"mix", "noisegate"}, 1},
        {"damp~", {"[damp~] version 1.0 by Tavrelle"}, {"tone"}, {"tone"}, 1},
    };
    return all;
}

class Registration : public testing::TestWithParam<ClassContract> {};

TEST_P(Registration, MatchesTheClassContract) {
    const ClassContract &c = GetParam();
    const host::ClassInfo &info = host::load(c.name);
    EXPECT_EQ(info.name, c.name);
    EXPECT_EQ(info.setup_posts, c.banner);
    EXPECT_EQ(info.destructor, nullptr) << "no free method";
    EXPECT_EQ(info.flags, 0);
    EXPECT_TRUE(info.creation_args.empty());
    EXPECT_EQ(info.mainsignalin, static_cast<long>(sizeof(t_object)))
        << "the main-inlet float follows the object header";

    std::vector<std::string> selectors = {"dsp"};
    selectors.insert(selectors.end(), c.selectors.begin(), c.selectors.end());
    EXPECT_EQ(info.selectors, selectors);
    for (auto &s : c.selectors) {
        auto want = s == "test" ? std::vector<t_atomtype>{} : std::vector<t_atomtype>{A_FLOAT};
        EXPECT_EQ(info.methods.at(s).args, want) << s;
    }

    host::Object obj(c.name);
    EXPECT_EQ(obj.inlet_selectors(), c.inlets);
    EXPECT_EQ(obj.signal_outlets(), c.signal_outlets);
    EXPECT_TRUE(host::take_posts().empty()) << "construction posts nothing";
}

// A "dsp" typed into a patch must not reach the method, which expects the signal array.
TEST_P(Registration, RefusesDspAsAMessage) {
    host::Object obj(GetParam().name);
    EXPECT_FALSE(obj.message("dsp"));
    EXPECT_FALSE(obj.message("dsp", {1.0f}));
}

// Loud and very quiet bursts and a sine fading from 1 to 1e-30, each followed by a long
// silence: the states decay from full scale to rest, through blocks of every size.
std::vector<float> bursts_and_decays(int block) {
    const int rest = block == 1 ? 2048 : 2 * std::max(block, 4096);
    std::vector<float> v;
    auto silence = [&] { v.resize(v.size() + rest, 0.0f); };
    for (float level : {1.0f, 1e-30f}) {
        auto burst = sig::noise(1024, level, static_cast<std::uint32_t>(v.size()) + 1);
        v.insert(v.end(), burst.begin(), burst.end());
        silence();
    }
    auto fade = sig::sine(4096, 0.01);
    for (int i = 0; i < 4096; i++) fade[i] *= std::pow(10.0f, -30.0f * static_cast<float>(i) / 4096.0f);
    v.insert(v.end(), fade.begin(), fade.end());
    silence();
    // Inputs that are not subnormal, and not below 2^-100 either: the comb banks scale
    // their input by 0.015 before the offset, which takes an input below 2^-120 into the
    // subnormal range.
    for (float &x : v) x = std::fabs(x) >= 0x1p-100f ? x : 0.0f;
    return v;
}

// The settings a class runs the check under: its defaults, and those that let its state
// decay slowest or fastest.
std::vector<std::vector<std::pair<std::string, float>>> settings_of(const std::string &cls) {
    if (cls == "damp~") return {{}, {{"tone", 0.7f}}, {{"tone", 0.0f}}, {{"tone", 1.0f}}};
    if (cls == "snarvel~") return {{{"mix", 1.0f}}, {{"mix", 0.5f}, {"noisegate", 0.0f}}};
    if (cls == "duck~") return {{{"depth", 1.0f}, {"response", 0.0f}}, {{"depth", 0.01f}}, {{"depth", 1e-25f}}};
    if (cls.starts_with("velmar")) return {{}, {{"decay", 1.0f}, {"tone", 0.0f}}};
    if (cls.starts_with("plenth")) return {{{"decay", 1.0f}}};
    return {{}};
}

// With the FPU's flushing off, as the test host and hosts built without fast-math run, a
// class gives the very bits it gives with flushing on, as Pd runs it, and never does
// arithmetic on a subnormal number on the way, nor outputs one. (lumbrisk~'s and
// quorrel~'s bit-exact tests also run under flushing, so both sides are the documented
// arithmetic as the flushing FPU computes it.)
TEST_P(Registration, GivesTheSameBitsWithFlushingOnOrOffAndNoSubnormal) {
    const std::string cls = GetParam().name;
    host::watch_subnormal_flags(true);
    for (float sr : {300.0f, 8000.0f, 44100.0f, 96000.0f})
        for (int block : {1, 64, 300, 4096, 8192})
            for (auto &settings : settings_of(cls)) {
                host::Object plain(cls), flushed(cls);
                for (auto *o : {&plain, &flushed}) {
                    for (auto &[sel, v] : settings) o->message(sel, {v});
                    o->dsp(sr, block);
                }
                const std::vector<float> input = bursts_and_decays(block);
                auto outs = plain.process(input);
                std::vector<std::vector<float>> expected;
                {
                    host::FlushToZero flushing;
                    expected = flushed.process(input);
                }
                for (std::size_t k = 0; k < outs.size(); k++) {
                    long at = sig::first_difference(outs[k], expected[k]);
                    ASSERT_EQ(at, -1) << cls << " outlet " << k << " at " << sr << " Hz, block " << block
                                      << ": sample " << at << " of block " << (at < 0 ? 0 : at / block);
                    for (float v : outs[k]) ASSERT_TRUE(v == 0.0f || std::isnormal(v) || !std::isfinite(v)) << v;
                }
            }
    host::watch_subnormal_flags(false);
}

INSTANTIATE_TEST_SUITE_P(AllClasses, Registration, testing::ValuesIn(contracts()),
                         [](const auto &info) {
                             std::string n = info.param.name;
                             return n.substr(0, n.size() - 1);
                         });

} // namespace
