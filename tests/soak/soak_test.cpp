// Ten minutes of audio at 48 kHz (test-host time) through every class: a program of
// segments of silence, noise, sines, sweeps, DC, clicks and Nyquist tones at levels from
// subnormal to loud, sprinkled with NaNs, infinities and huge samples, while settings
// change to anything a float can hold and DSP is rebuilt now and then with another block
// size. Every block must write every output sample and stay inside the range its class
// implies (class_rules.h), which keeps it finite; the record's positions, flags,
// settings and state stay valid throughout.
//
// The range grows with the largest input the class has taken in, so the first eight
// minutes keep what the class takes at levels up to 10 (the hostile samples there are
// ones it refuses, or subnormal ones) and the range stays tight; the last two minutes
// add loud segments and huge samples that it takes.
#include "class_rules.h"
#include "host.h"
#include "record_checks.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr float kRate = 48000.0f;
constexpr long kTotal = 10L * 60L * 48000L;

// A portable generator (splitmix64), so a failing program can be replayed anywhere.
class Random {
  public:
    explicit Random(std::uint64_t seed) : s_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (s_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1p-53; } // 0 ... 1
    double between(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    bool chance(double p) { return uniform() < p; }
    template <class T, std::size_t N> T pick(const T (&items)[N]) { return items[below(N)]; }

  private:
    std::uint64_t s_;
};

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Samples that no input should be able to turn into a lasting fault.
constexpr float kHostileSamples[] = {kNaN, -kNaN, kInf, -kInf, 1e30f, -1e30f, 0x1p65f, -0x1p66f,
                                     std::numeric_limits<float>::max(), 1e-45f, -1e-40f, 2.5e21f};

// Settings as a patch might send them, and as no patch should.
constexpr float kHostileSettings[] = {kNaN, kInf, -kInf, -1e30f, 1e30f, -1.0f, 0.0f, -0.0f,
                                      0.5f, 1.0f, 2.0f, 1e-45f, 0.999999f, 1.000001f};

struct Signal {
    enum Kind { kSilence, kNoise, kSine, kSweep, kDc, kClicks, kNyquist, kKinds } kind;
    double level, freq, glide, phase = 0.0;
    std::uint32_t seed;
    double hostile_rate; // chance of a hostile sample in place of each sample

    float next(Random &r, long i, const rules::Rule &rule, bool wild) {
        float v = 0.0f;
        switch (kind) {
        case kSilence: break;
        case kNoise:
            seed = seed * 1664525u + 1013904223u;
            v = static_cast<float>(level * (static_cast<double>(seed >> 8) / 8388608.0 - 1.0));
            break;
        case kSine: v = static_cast<float>(level * std::sin(phase)), phase += 2.0 * M_PI * freq; break;
        case kSweep:
            v = static_cast<float>(level * std::sin(phase));
            phase += 2.0 * M_PI * freq, freq = std::fmin(0.5, freq * glide);
            break;
        case kDc: v = static_cast<float>(level); break;
        case kClicks: v = i % 4801 == 0 ? static_cast<float>(level) : 0.0f; break;
        case kNyquist: v = static_cast<float>(i % 2 ? -level : level); break;
        default: break;
        }
        if (hostile_rate > 0.0 && r.chance(hostile_rate)) {
            do v = r.pick(kHostileSamples);
            while (!wild && rule.takes(v) && std::fabs(v) >= 1.0f);
        }
        return v;
    }
};

Signal random_signal(Random &r, bool wild) {
    Signal s{};
    s.kind = static_cast<Signal::Kind>(r.below(Signal::kKinds));
    // Mostly ordinary levels, sometimes subnormal-small or (once wild) very loud.
    double exponent = r.chance(0.9) ? r.between(-4.0, 1.0) : r.between(-42.0, wild ? 18.0 : 1.0);
    s.level = std::pow(10.0, exponent);
    s.freq = std::pow(10.0, r.between(-4.5, std::log10(0.5)));
    s.glide = 1.0 + r.between(-1e-5, 1e-5);
    s.seed = static_cast<std::uint32_t>(r.next());
    s.hostile_rate = r.chance(0.3) ? std::pow(10.0, r.between(-5.0, -1.0)) : 0.0;
    return s;
}

std::string at(long sample) {
    char s[48];
    std::snprintf(s, sizeof s, "at %.3f s", static_cast<double>(sample) / kRate);
    return s;
}

std::uint64_t seed_for(const std::string &cls) {
    if (const char *s = std::getenv("TAVRELLE_SOAK_SEED")) return std::strtoull(s, nullptr, 0);
    std::uint64_t h = 1469598103934665603ull; // FNV-1a of the class name
    for (unsigned char c : cls) h = (h ^ c) * 1099511628211ull;
    return h;
}

class Soak : public testing::TestWithParam<std::string> {};

TEST_P(Soak, TenMinutesOfHostileInputAndSettingsStayInRange) {
    const std::string cls = GetParam();
    const rules::Rule *rule = rules::find(cls);
    ASSERT_NE(rule, nullptr) << cls << " has no output rule in class_rules.h";
    const probe::Probe *probe = probe::find(cls);
    ASSERT_NE(probe, nullptr) << cls << " has no record probe";

    host::Object obj(cls);
    ASSERT_EQ(probe->size, obj.info().size);
    const int outlets = obj.signal_outlets();
    std::vector<std::string> selectors;
    for (const std::string &s : obj.info().selectors)
        if (s != "dsp") selectors.push_back(s);
    const int inlets = static_cast<int>(obj.inlet_selectors().size());

    Random r(seed_for(cls));
    rules::OutputCheck check(*rule);
    int n = 64;
    obj.dsp(kRate, n);
    std::vector<float> input;
    std::vector<const float *> outs(outlets);
    long done = 0, hostile = 0, settings = 0, rebuilds = 0;
    double peak = 0.0, tame_level = 0.0;

    while (done < kTotal) {
        // Now and then a DSP rebuild at another block size (short for the small ones).
        long length = static_cast<long>(kRate * r.between(0.02, 2.0));
        if (r.chance(0.03)) {
            static constexpr int kSizes[] = {64, 128, 32, 256, 1, 7};
            n = r.pick(kSizes);
            obj.dsp(kRate, n);
            rebuilds++;
            if (n < 32) length = std::min(length, static_cast<long>(kRate / 4));
        }
        for (int k = r.below(4); k > 0; k--, settings++) {
            float v = r.chance(0.5) ? r.pick(kHostileSettings) : static_cast<float>(r.between(-0.2, 1.2));
            if (inlets > 0 && r.chance(0.4)) obj.inlet_float(1 + r.below(inlets), v);
            else if (!selectors.empty()) {
                const std::string &s = selectors[r.below(static_cast<int>(selectors.size()))];
                obj.message(s, s == "test" ? std::vector<float>{} : std::vector<float>{v});
            }
        }
        host::take_posts(); // "test" posts; nothing else may, checked below
        const bool wild = done >= kTotal / 5 * 4;
        Signal signal = random_signal(r, wild);
        for (long end = std::min(kTotal, done + length); done < end;) {
            input.resize(static_cast<std::size_t>(n));
            for (int i = 0; i < n; i++) {
                input[i] = obj.in()[i] = signal.next(r, done + i, *rule, wild);
                hostile += !rule->takes(input[i]);
            }
            for (int k = 0; k < outlets; k++) {
                for (int i = 0; i < n; i++) std::memcpy(&obj.out(k)[i], &host::kUnwritten, 4);
                outs[k] = obj.out(k);
            }
            obj.tick();
            for (int k = 0; k < outlets; k++)
                for (int i = 0; i < n; i++) {
                    ASSERT_NE(std::bit_cast<std::uint32_t>(outs[k][i]), host::kUnwritten)
                        << cls << " left outlet " << k << " sample " << i << " unwritten " << at(done);
                    if (std::isfinite(outs[k][i])) peak = std::max(peak, std::fabs(double(outs[k][i])));
                }
            std::string what = check.block(input.data(), n, outs);
            ASSERT_EQ(what, "") << at(done) << ", block size " << n;
            done += n;
            if (!wild) tame_level = check.level();
        }
        ASSERT_TRUE(host::take_posts().empty()) << cls << " posted while running " << at(done);
        probe::Report report;
        probe->checker(obj.get(), report);
        ASSERT_TRUE(report.problems.empty()) << report.problems.front() << " " << at(done);
    }

    probe::Report report;
    report.deep = true;
    probe->checker(obj.get(), report);
    EXPECT_TRUE(report.problems.empty()) << report.problems.front();
    EXPECT_TRUE(obj.guards_intact());
    EXPECT_LE(tame_level, 10.0) << "the first eight minutes fed levels above 10";
    std::printf("%s: %.0f s of audio, %ld refused samples, %ld settings, %ld DSP rebuilds, "
                "largest input taken %.3g (%.3g in the first eight minutes), largest output %.3g\n",
                cls.c_str(), done / kRate, hostile, settings, rebuilds, check.level(), tame_level, peak);
}

INSTANTIATE_TEST_SUITE_P(EveryClass, Soak, testing::ValuesIn(host::all_classes()),
                         [](const auto &info) {
                             std::string n = info.param;
                             return n.substr(0, n.size() - 1);
                         });

} // namespace
