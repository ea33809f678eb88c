// What every one-in, one-out class keeps to as Pd runs it: the output does not depend on
// the block size or on the output sharing the input's vector; a DSP rebuild keeps the
// state (snarvel~'s clears its high-pass), also at another rate and block size; an empty
// block changes nothing and writes nothing.
#include "rendering.h"
#include "signals.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using sig::bits;
using sig::first_difference;

struct Contract {
    const char *cls;
    std::vector<unit::Setting> settings;
    std::vector<float> input;
    std::vector<float> rates; // each with its own reference, rendered at block 64
    float rebuild_rate;       // 0: the rate before the rebuild
    bool rebuild_clears;      // a rebuild starts the state afresh
};
void PrintTo(const Contract &c, std::ostream *os) { *os << c.cls; }

std::vector<Contract> contracts() {
    std::vector<Contract> all{
        {"damp~", {{"tone", 0.7f}}, sig::noise(6000), {44100.0f, 48000.0f}, 0.0f, false},
        {"duck~", {{"depth", 0.7f}}, sig::noise(6000, 0.4f), {44100.0f, 48000.0f}, 0.0f, false},
        {"snarvel~",
         {{"mix", 0.7f}, {"noisegate", 0.6f}},
         sig::noise(5000, 1.5f),
         {44100.0f, 48000.0f},
         0.0f,
         true}};
    for (const char *cls : {"velmarR~", "plenthR~", "skavelR~", "velmarL~", "plenthL~", "skavelL~"})
        all.push_back({cls, {}, sig::noise(5000), {44100.0f}, 48000.0f, false});
    return all;
}

class Contracts : public testing::TestWithParam<Contract> {};
INSTANTIATE_TEST_SUITE_P(EveryClass, Contracts, testing::ValuesIn(contracts()), [](const auto &i) {
    std::string name = i.param.cls;
    return name.substr(0, name.size() - 1);
});

// The record after its t_object, which holds the object's own inlets and outlets.
std::vector<unsigned char> fields(const host::Object &obj) {
    auto bytes = obj.record_bytes();
    return {bytes.begin() + sizeof(t_object), bytes.end()};
}

void configure(host::Object &obj, const Contract &c) {
    for (auto &[sel, v] : c.settings)
        EXPECT_TRUE(obj.message(sel, {v})) << sel;
}

TEST_P(Contracts, BlockSizeSharedVectorsRebuildsAndEmptyBlocks) {
    const Contract &c = GetParam();
    const unit::Renderer render{c.cls};
    for (float sr : c.rates) {
        auto reference = render(c.input, c.settings, sr);
        for (int block : {1, 7, 256})
            EXPECT_EQ(first_difference(render(c.input, c.settings, sr, block), reference), -1)
                << block;
        EXPECT_EQ(first_difference(render(c.input, c.settings, sr, 64, true), reference), -1)
            << "in place";

        host::Object obj(c.cls);
        configure(obj, c);
        obj.dsp(sr, 64);
        const int split = 2048; // whole blocks before and after the rebuild
        auto first = obj.run({c.input.begin(), c.input.begin() + split});
        if (c.rebuild_clears) {
            // The rebuild leaves the record as a new object's first dsp call does.
            host::Object fresh(c.cls);
            configure(fresh, c);
            fresh.dsp(sr, 64);
            ASSERT_NE(fields(obj), fields(fresh)) << "the state has moved";
            obj.dsp(sr, 64);
            EXPECT_EQ(fields(obj), fields(fresh)) << "a rebuild clears the state";
            auto again = obj.run(c.input);
            again.resize(c.input.size());
            EXPECT_EQ(first_difference(again, reference), -1);
        } else {
            obj.dsp(c.rebuild_rate != 0.0f ? c.rebuild_rate : sr, 32); // keeps the state
            auto rest = obj.run({c.input.begin() + split, c.input.end()});
            first.insert(first.end(), rest.begin(), rest.end());
            first.resize(c.input.size());
            EXPECT_EQ(first_difference(first, reference), -1) << sr;
        }

        // An empty block: neither the rebuild nor the block changes the record, unless the
        // rebuild clears it, and the output vector keeps what it held.
        auto before = obj.record_bytes();
        obj.dsp(c.rebuild_clears ? 48000.0f : sr, 0);
        if (c.rebuild_clears) before = obj.record_bytes();
        std::memcpy(obj.out(), &host::kUnwritten, sizeof(float));
        obj.tick();
        EXPECT_EQ(obj.record_bytes(), before) << "an empty block changes nothing";
        float probe;
        std::memcpy(&probe, obj.out(), sizeof probe);
        EXPECT_EQ(bits(probe), host::kUnwritten);
    }
}

} // namespace
