// Every class registers as Pd expects: its name, its banner, its methods with their
// argument types, its inlets and outlets, and nothing the host would refuse.
#include "host.h"

#include <gtest/gtest.h>

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

INSTANTIATE_TEST_SUITE_P(AllClasses, Registration, testing::ValuesIn(contracts()),
                         [](const auto &info) {
                             std::string n = info.param.name;
                             return n.substr(0, n.size() - 1);
                         });

} // namespace
