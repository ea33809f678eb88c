// libFuzzer target: drives one class per input through the test host with a program
// decoded from the input (sample rate, block size, shared vectors, messages and inlet
// floats with any float, blocks of any samples) and stops at the first broken promise:
//
// - a sanitizer report, or a failure the host reports (a perform that allocates or
//   returns the wrong position, a write into the guard zones around the record);
// - an output sample left unwritten;
// - a different result when the input vector is also an output vector;
// - a record field out of range: a position outside its delay line, a flag or setting
//   outside what its message allows, an infinite or NaN state;
// - an output outside the range its class implies (class_rules.h), which also means an
//   output that is not finite once the bad input has passed;
// - a console line from anything but the "test" message;
// - a NaN setting that changes the record;
// - arithmetic on subnormal numbers in perform (the FPU's flags, flushing off), in a block
//   whose input is silence or at least 2^-100 and after no subnormal setting;
// - in a resampled context (the signal's rate not sys_getsr's), an output other than the
//   same object's at the top level at that rate.
//
// Three objects of the class run side by side: `main` on vectors of its own, whose outputs
// are pre-filled with host::kUnwritten, `twin` on the same program with its input vector
// shared with one of its outlets, and `top` at the top level of the rate that the other
// two may see from inside a resampled subpatch.
#include "class_rules.h"
#include "host.h"
#include "record_checks.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

std::string g_class = "(loading)"; // the class of the input being run

[[noreturn]] void finding(const std::string &what) {
    std::fprintf(stderr, "\n==== tavrelle fuzz finding in %s: %s\n", g_class.c_str(), what.c_str());
    std::fflush(stderr);
    std::abort();
}

// The host reports through GoogleTest; here every failure is a finding.
class FailuresAreFindings : public testing::EmptyTestEventListener {
    void OnTestPartResult(const testing::TestPartResult &r) override {
        if (r.failed())
            finding(std::string(r.file_name() ? r.file_name() : "?") + ":" +
                    std::to_string(r.line_number()) + ": " + r.message());
    }
};

struct Target {
    std::string cls;
    const rules::Rule *rule;
    const probe::Probe *probe;
    std::vector<std::string> selectors; // "dsp" included: a typed "dsp" must be refused
    int inlets = 0;                     // float inlets right of the signal inlet
    int outlets = 0;
};

std::vector<Target> g_targets;

constexpr int kMaxSteps = 96;
constexpr long kMaxSamples = 1 << 18; // per input, to keep each run short
constexpr int kMaxBlock = 8192;

float any_float(FuzzedDataProvider &in) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    static constexpr float kSpecial[] = {
        0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 0.3f, 2.0f, -3.5f, 128.5f, 1e-3f, kNaN, -kNaN, kInf, -kInf,
        std::numeric_limits<float>::denorm_min(), -1e-40f, std::numeric_limits<float>::min(), 1e-30f,
        0x1p-63f, 0x1p64f, 0x1p65f, -0x1p65f, 2.5e21f, 1e30f, std::numeric_limits<float>::max(),
        -std::numeric_limits<float>::max()};
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return kSpecial[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kSpecial) - 1)];
    case 1: {
        std::uint32_t b = in.ConsumeIntegral<std::uint32_t>();
        return std::bit_cast<float>(b == host::kUnwritten ? b + 1 : b); // keep the pattern unique
    }
    default: return in.ConsumeFloatingPointInRange(-2.0f, 2.0f);
    }
}

// A stretch of input decoded once and continued block after block.
struct Signal {
    enum Kind { kSilence, kConstant, kNoise, kRaw, kSine, kNyquist, kKinds };
    Kind kind = kSilence;
    float level = 0.0f;
    double step = 0.0, phase = 0.0;
    std::uint32_t seed = 1;
    int spikes = 0;

    explicit Signal(FuzzedDataProvider &in) {
        static constexpr float kLevels[] = {1e-38f, 1e-20f, 1e-6f, 0.01f, 0.5f, 1.0f, 3.0f,
                                            100.0f, 1e6f,   1e18f, 2e21f, 1e30f};
        kind = static_cast<Kind>(in.ConsumeIntegralInRange(0, kKinds - 1));
        level = in.ConsumeBool() ? kLevels[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kLevels) - 1)]
                                 : any_float(in);
        step = in.ConsumeFloatingPointInRange(0.0, 0.5);
        seed = in.ConsumeIntegral<std::uint32_t>();
        spikes = in.ConsumeIntegralInRange(0, 3);
    }

    void next(FuzzedDataProvider &in, std::vector<float> &v) {
        for (float &s : v) {
            switch (kind) {
            case kSilence: s = 0.0f; break;
            case kConstant: s = level; break;
            case kNoise:
                seed = seed * 1664525u + 1013904223u;
                s = level * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
                break;
            case kRaw: s = any_float(in); break;
            case kSine: s = level * static_cast<float>(std::sin(phase)), phase += 2.0 * M_PI * step; break;
            case kNyquist: s = (&s - v.data()) % 2 ? -level : level; break;
            default: break;
            }
        }
        for (int k = 0; k < spikes && !v.empty(); k++)
            v[in.ConsumeIntegralInRange<std::size_t>(0, v.size() - 1)] = any_float(in);
    }
};

class Session {
  public:
    explicit Session(const Target &t)
        : t_(t), main_(t.cls), twin_(t.cls), top_(t.cls), outputs_(*t.rule) {}

    void dsp(FuzzedDataProvider &in) {
        static constexpr float kRates[] = {44100.0f, 48000.0f, 96000.0f, 22050.0f, 8000.0f,
                                           192000.0f, 11025.0f, 1000.0f, 384000.0f, 50.0f,
                                           86.1328125f, 125.0f, 300.0f};
        float sr = in.ConsumeBool() ? kRates[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kRates) - 1)]
                                    : in.ConsumeFloatingPointInRange(50.0f, 400000.0f);
        static constexpr int kSizes[] = {64, 1, 0, 2, 3, 7, 8, 63, 65, 128, 256, 1024, 4096, 8192};
        n_ = in.ConsumeBool() ? kSizes[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kSizes) - 1)]
                              : in.ConsumeIntegralInRange(0, kMaxBlock);
        int shared = in.ConsumeIntegralInRange(0, t_.outlets - 1);
        top_.dsp(sr, n_);
        // In a resampled subpatch the signals' rate differs from the one sys_getsr reports.
        static constexpr float kFactors[] = {1.0f, 2.0f, 0.5f, 512.0f, 1.0f / 64.0f};
        host::set_sample_rate(sr * kFactors[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kFactors) - 1)]);
        main_.dsp_resampled(sr, n_);
        twin_.dsp_resampled_sharing(sr, n_, shared);
        started_ = true;
        after("dsp");
    }

    void message(FuzzedDataProvider &in) {
        static const std::vector<std::string> kForeign = {"bang", "set", "float"};
        bool own = in.ConsumeIntegralInRange(0, 7) != 0 && !t_.selectors.empty();
        const std::string &sel =
            own ? t_.selectors[in.ConsumeIntegralInRange<std::size_t>(0, t_.selectors.size() - 1)]
                : kForeign[in.ConsumeIntegralInRange<std::size_t>(0, kForeign.size() - 1)];
        std::vector<float> args;
        for (int k = in.ConsumeIntegralInRange(0, 2); k > 0 && in.ConsumeIntegralInRange(0, 3) != 0; k--)
            args.push_back(any_float(in));
        auto before = main_.record_bytes();
        bool taken = main_.message(sel, args);
        if (twin_.message(sel, args) != taken) finding("the twin answered " + sel + " differently");
        top_.message(sel, args);
        if (taken && args.size() == 1 && std::isnan(args[0]) && main_.record_bytes() != before)
            finding("a NaN \"" + sel + "\" changed the record");
        note_setting(args);
        if (sel == "dsp" && taken) finding("a typed \"dsp\" reached the method");
        if (sel == "test") posts_allowed_ = true;
        after(sel);
    }

    void inlet(FuzzedDataProvider &in) {
        int k = in.ConsumeIntegralInRange(0, t_.inlets);
        float v = any_float(in);
        auto before = main_.record_bytes();
        main_.inlet_float(k, v);
        twin_.inlet_float(k, v);
        top_.inlet_float(k, v);
        if (k > 0 && std::isnan(v) && main_.record_bytes() != before) finding("a NaN at an inlet changed the record");
        note_setting({v});
        after("a float at inlet " + std::to_string(k));
    }

    void blocks(FuzzedDataProvider &in) {
        if (!started_) return;
        Signal signal(in);
        std::vector<float> input(static_cast<std::size_t>(n_));
        for (int r = in.ConsumeIntegralInRange(1, 32); r > 0 && samples_ < kMaxSamples; r--) {
            signal.next(in, input);
            block(input);
            samples_ += std::max(n_, 1);
        }
    }

    // The end of a run: every delay line scanned, and the twin in the very same state.
    void finish() {
        check_records(true);
        if (main_.record_bytes() != twin_.record_bytes()) finding("the twin's record differs");
        if (main_.record_bytes() != top_.record_bytes()) finding("the top-level object's record differs");
    }

  private:
    void block(const std::vector<float> &input) {
        if (n_ == 0) {
            main_.tick();
            twin_.tick();
            top_.tick();
            return after("an empty block");
        }
        bool clean = !subnormal_setting_;
        for (float v : input) clean &= v == 0.0f || !(std::fabs(v) < 0x1p-100f);
        host::watch_subnormal_flags(clean);
        auto outs = main_.process(input);
        host::watch_subnormal_flags(false);
        auto twins = twin_.process(input);
        auto tops = top_.process(input);
        std::vector<const float *> views;
        for (int k = 0; k < t_.outlets; k++) {
            for (int i = 0; i < n_; i++) {
                std::uint32_t b = std::bit_cast<std::uint32_t>(outs[k][i]);
                if (b == host::kUnwritten)
                    finding("outlet " + std::to_string(k) + " sample " + std::to_string(i) + " of " +
                            std::to_string(n_) + " left unwritten");
                if (b != std::bit_cast<std::uint32_t>(twins[k][i]))
                    finding("outlet " + std::to_string(k) + " sample " + std::to_string(i) +
                            " differs when the input vector is shared");
                if (b != std::bit_cast<std::uint32_t>(tops[k][i]))
                    finding("outlet " + std::to_string(k) + " sample " + std::to_string(i) +
                            " differs from the same object's at the top level");
            }
            views.push_back(outs[k].data());
        }
        if (std::string what = outputs_.block(input.data(), n_, views); !what.empty()) finding(what);
        after("a block");
    }

    // A subnormal setting is arithmetic on a subnormal number from then on.
    void note_setting(const std::vector<float> &args) {
        for (float v : args) subnormal_setting_ |= std::fpclassify(v) == FP_SUBNORMAL;
    }

    void after(const std::string &what) {
        auto posts = host::take_posts();
        if (!posts.empty() && !posts_allowed_) finding(what + " posted \"" + posts.front() + "\"");
        posts_allowed_ = false;
        last_ = what;
        check_records(false);
    }

    void check_records(bool deep) {
        for (host::Object *obj : {&main_, &twin_, &top_}) {
            probe::Report r;
            r.deep = deep;
            t_.probe->checker(obj->get(), r);
            if (!r.problems.empty()) finding("after " + last_ + ": " + r.problems.front());
            if (!obj->guards_intact()) finding("after " + last_ + ": a write beside the record");
        }
    }

    const Target &t_;
    host::Object main_, twin_, top_;
    rules::OutputCheck outputs_;
    int n_ = 0;
    bool started_ = false;
    bool subnormal_setting_ = false;
    bool posts_allowed_ = false;
    long samples_ = 0;
    std::string last_ = "creation";
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    testing::UnitTest::GetInstance()->listeners().Append(new FailuresAreFindings);
    for (const std::string &cls : host::all_classes()) {
        g_class = cls;
        const host::ClassInfo &info = host::load(cls);
        host::take_posts();
        Target t{cls, rules::find(cls), probe::find(cls), {}, 0, 0};
        if (!t.rule) finding("no output rule in class_rules.h");
        if (!t.probe) finding("no record probe");
        if (t.probe->size != info.size) finding("the probe's record size differs from the plug-in's");
        for (const std::string &sel : info.selectors) t.selectors.push_back(sel);
        host::Object obj(cls);
        t.inlets = static_cast<int>(obj.inlet_selectors().size());
        t.outlets = obj.signal_outlets();
        if (t.outlets < 1) finding("no signal outlet");

        probe::Report r;
        r.describe = r.deep = true;
        t.probe->checker(obj.get(), r);
        std::string fields;
        for (auto &f : r.checked) fields += " " + f;
        std::fprintf(stderr, "fuzzing %s: %d inlets, %d outlets, record checks on%s\n", cls.c_str(),
                     t.inlets, t.outlets, fields.c_str());
        g_targets.push_back(t);
    }
    host::take_posts();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const Target &t = g_targets[in.ConsumeIntegralInRange<std::size_t>(0, g_targets.size() - 1)];
    g_class = t.cls;
    Session s(t);
    s.dsp(in);
    for (int step = 0; step < kMaxSteps && in.remaining_bytes() > 0; step++) {
        switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: s.message(in); break;
        case 1: s.inlet(in); break;
        case 2: s.dsp(in); break;
        default: s.blocks(in); break;
        }
    }
    s.finish();
    return 0;
}
