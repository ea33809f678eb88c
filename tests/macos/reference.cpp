// Writes the cases the macOS plug-ins run under emulation, each with what the Linux
// plug-in gives for it in the test host: the class, rate, block size, whether it runs in
// place, the settings, the
// input, every outlet's output and whether the perform routines raised a subnormal flag.
// emulate.py replays each case through every macOS bundle and compares.
#include "host.h"
#include "signals.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Setting {
    int inlet;           // 0: a message to the left inlet; k > 0: a float at inlet k
    std::string selector;
    float value;
};

struct Case {
    std::string cls;
    float sr;
    int block;
    bool in_place; // the input vector is also the first outlet's, as Pd often hands them
    std::vector<Setting> settings;
    std::vector<float> input;
};

// The settings the tests inside Pd use, and those under which state decays slowest.
std::vector<std::vector<Setting>> settings_of(const std::string &cls) {
    if (cls.starts_with("velmar")) return {{{1, "", 0.9f}, {0, "tone", 0.6f}}, {{0, "decay", 1.0f}, {2, "", 0.0f}}};
    if (cls.starts_with("plenth")) return {{{0, "decay", 0.2f}}, {{1, "", 1.0f}}};
    if (cls == "duck~") return {{{1, "", 0.8f}, {0, "response", 0.1f}}, {{0, "depth", 1e-25f}, {2, "", 0.0f}}};
    if (cls == "snarvel~") return {{{1, "", 0.7f}, {0, "noisegate", 0.5f}}, {{0, "mix", 1.0f}, {2, "", 0.0f}}};
    if (cls == "damp~") return {{{1, "", 0.8f}}, {{0, "tone", 0.0f}}, {{0, "tone", 0.37f}}};
    return {{}};
}

std::vector<float> hostile() {
    auto v = sig::hostile(3000, {sig::kInf, sig::kNaN, -sig::kInf, 1e30f, 0x1p65f, 2e21f}, 89);
    auto loud = sig::noise(500, 0x1.cp64f);
    v.insert(v.end(), loud.begin(), loud.end());
    auto faint = sig::noise(500, 1e-30f, 7u);
    v.insert(v.end(), faint.begin(), faint.end());
    v.resize(v.size() + 1500, 0.0f); // the tails decaying in silence
    return v;
}

std::vector<Case> cases() {
    std::vector<Case> all;
    for (const std::string &cls : host::all_classes()) {
        auto settings = settings_of(cls);
        for (std::size_t k = 0; k < settings.size(); k++) {
            all.push_back({cls, k == 0 ? 44100.0f : 96000.0f, 64, false, settings[k], hostile()});
            all.push_back({cls, 48000.0f, 1, false, settings[k], sig::noise(700, 0.9f, 99u + k)});
            all.push_back({cls, 22050.0f, 256, true, settings[k], hostile()});
        }
    }
    return all;
}

void put(std::FILE *f, std::uint32_t v) { std::fwrite(&v, 4, 1, f); }
void put(std::FILE *f, float v) { std::fwrite(&v, 4, 1, f); }
void put(std::FILE *f, const std::string &s) {
    put(f, static_cast<std::uint32_t>(s.size()));
    std::fwrite(s.data(), 1, s.size(), f);
}
void put(std::FILE *f, const std::vector<float> &v) {
    put(f, static_cast<std::uint32_t>(v.size()));
    std::fwrite(v.data(), 4, v.size(), f);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    std::FILE *f = std::fopen(argv[1], "wb");
    if (!f) return 1;
    const std::vector<Case> all = cases();
    std::fwrite("TAVCASES", 1, 8, f);
    put(f, static_cast<std::uint32_t>(all.size()));
    for (const Case &c : all) {
        host::set_sample_rate(c.sr); // Pd's rate, which the signals carry too
        host::Object obj(c.cls);
        for (const Setting &s : c.settings)
            if (s.inlet == 0 ? !obj.message(s.selector, {s.value}) : !obj.inlet_float(s.inlet, s.value))
                return std::fprintf(stderr, "%s refuses a setting\n", c.cls.c_str()), 1;
        obj.dsp(c.sr, c.block, c.in_place);
        host::clear_subnormal_flags();
        auto outs = obj.process(c.input);
        const bool raised = host::subnormal_flags_raised();
        put(f, c.cls);
        put(f, c.sr);
        put(f, static_cast<std::uint32_t>(c.block));
        put(f, static_cast<std::uint32_t>(c.in_place));
        put(f, static_cast<std::uint32_t>(c.settings.size()));
        for (const Setting &s : c.settings) {
            put(f, static_cast<std::uint32_t>(s.inlet));
            put(f, s.selector);
            put(f, s.value);
        }
        put(f, c.input);
        put(f, static_cast<std::uint32_t>(outs.size()));
        for (auto &o : outs) put(f, o);
        put(f, static_cast<std::uint32_t>(raised));
    }
    std::fclose(f);
    std::printf("%zu cases written to %s\n", all.size(), argv[1]);
    return testing::Test::HasFailure() ? 1 : 0;
}
