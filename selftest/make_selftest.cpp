// make_selftest OUTDIR: writes the self-test a patcher runs on their own machine:
// OUTDIR/tavrelle-selftest.pd and, beside it, selftest/input.wav (the fixed input) and
// selftest/expected.wav (what every case must output, computed here through the test
// host with the plug-ins just built). Each case's expected output is stored up to its
// last non-zero sample; the patch checks the silence after it too.
#include "host.h"
#include "signals.h"

#if __has_include(<sndfile.h>)
#include <sndfile.h>
#define TAVRELLE_HAVE_SNDFILE 1
#endif

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr float kRate = 44100.0f;
constexpr int kBlock = 64;
constexpr int kTimedInstances = 32;
constexpr int kLoudMs = 2000;  // timed with loud input ...
constexpr int kDecayMs = 4000; // ... then while it decays in silence
const std::string kCommand = "pd -nogui -noaudio -batch -noprefs -open tavrelle-selftest.pd";

// The fixed input: a loud stretch (noise, eight times louder noise and quiet noise, with
// infinities, NaNs and huge samples among them), then two short bursts so quiet that
// what every class makes of them decays into silence within a few thousand samples.
struct Segment {
    int start, length;
};
struct Input {
    std::vector<float> samples;
    Segment loud{0, 2048}, quiet{2048, 256}, faint{2304, 256};
};

Input make_input() {
    Input in;
    in.samples = sig::noise(in.loud.length, 1.0f, 2026u);
    for (int i = 1024; i < 1536; i++)
        in.samples[i] *= 8.0f;
    for (int i = 1536; i < 2048; i++)
        in.samples[i] *= 0.01f;
    const float bad[] = {sig::kInf, sig::kNaN, -sig::kInf, 1e30f, -1e20f, sig::kNaN};
    for (int k = 0; k < 6; k++)
        in.samples[300 + 250 * k] = bad[k];
    for (int exponent : {-54, -57})
        for (float v : sig::noise(256, 1.0f, 77u))
            in.samples.push_back(std::ldexp(v, exponent));
    return in;
}

enum { kLoud, kQuiet, kFaint };

struct Setting {
    std::string selector;
    float value;
};

struct Case {
    Case(std::string cls, std::vector<Setting> settings = {}, int quiet = kLoud, int longest = 2048)
        : cls(std::move(cls)), settings(std::move(settings)), quiet(quiet), longest(longest) {}
    std::string cls;
    std::vector<Setting> settings;
    int quiet;   // kLoud, kQuiet or kFaint: which part of the input it plays
    int longest; // samples compared at most
    // Filled in by the generator.
    int compared = 0;
    std::vector<int> offset, length; // of each outlet's expected output
};

std::vector<Case> cases() {
    std::vector<Case> all;
    // Settings show only after the first echo, past sample 1139.
    auto reverb = [&](const std::string &cls, std::vector<Setting> loud, std::vector<Setting> dark,
                      int quiet) {
        all.push_back({cls});
        all.push_back({cls, loud});
        all.push_back({cls, dark, quiet, 16384});
    };
    for (const char *c : {"velmarR~", "velmarL~"})
        reverb(c, {{"decay", 1}, {"tone", 1}}, {{"decay", 0}, {"tone", 0}}, kQuiet);
    for (const char *c : {"plenthR~", "plenthL~"})
        reverb(c, {{"decay", 1}}, {{"decay", 0}}, kFaint);
    for (const char *c : {"skavelR~", "skavelL~", "lumbrisk~", "quorrel~"}) {
        all.push_back({c});
        all.push_back({c, {}, kFaint, 16384});
    }
    // duck~ puts out a gain, 1 in silence: its output is stored to the end.
    all.push_back({"duck~"});
    all.push_back({"duck~", {{"depth", 1}, {"response", 0}}});
    all.push_back({"duck~", {{"depth", 0.25f}, {"response", 1}}, kQuiet});
    all.push_back({"duck~", {{"bypass", 1}}, kLoud, 1024});
    all.push_back({"snarvel~", {}, kLoud, 16384});
    all.push_back({"snarvel~", {{"mix", 0.5f}, {"noisegate", 0.75f}}});
    all.push_back({"snarvel~", {{"mix", 0}}});
    all.push_back({"snarvel~", {{"noisegate", 0}}, kQuiet, 16384});
    all.push_back({"damp~", {}, kLoud, 16384});
    all.push_back({"damp~", {{"tone", 1}}, kLoud, 16384});
    all.push_back({"damp~", {{"tone", 0}}, kQuiet, 16384});
    return all;
}

std::string label(const Case &c) {
    std::string s = c.quiet == kLoud ? "loud" : c.quiet == kQuiet ? "quiet" : "faint";
    for (const Setting &st : c.settings) {
        char v[32];
        std::snprintf(v, sizeof v, "%g", st.value);
        s += " " + st.selector + " " + v;
    }
    return s;
}

Segment segment(const Case &c, const Input &in) {
    return c.quiet == kLoud ? in.loud : c.quiet == kQuiet ? in.quiet : in.faint;
}

// Pd computes with denormals flushed to zero (FTZ and DAZ on x86, FZ on ARM); the
// expected output is computed the same way.
void flush_denormals(bool on) {
#if defined(__x86_64__) || defined(__i386__)
    unsigned mode = _mm_getcsr();
    _mm_setcsr(on ? mode | 0x8040u : mode & ~0x8040u);
#elif defined(__aarch64__)
    unsigned long fpcr = __builtin_aarch64_get_fpcr64();
    __builtin_aarch64_set_fpcr64(on ? fpcr | (1ul << 24) : fpcr & ~(1ul << 24));
#elif defined(__arm__)
    unsigned fpscr;
    asm volatile("vmrs %0, fpscr" : "=r"(fpscr));
    fpscr = on ? fpscr | (1u << 24) : fpscr & ~(1u << 24);
    asm volatile("vmsr fpscr, %0" : : "r"(fpscr));
#else
    (void)on;
#endif
}

std::vector<std::vector<float>> output(const Case &c, const std::vector<float> &input) {
    host::Object obj(c.cls);
    host::set_sample_rate(kRate);
    for (const Setting &s : c.settings)
        obj.message(s.selector, {s.value});
    obj.dsp(kRate, kBlock);
    return obj.process(input);
}

// Runs a case through the test host and appends each outlet's expected output, up to
// its last non-zero sample (at least one sample), to `expected`.
void run(Case &c, const Input &in, std::vector<float> &expected) {
    const Segment seg = segment(c, in);
    std::vector<float> input(in.samples.begin() + seg.start,
                             in.samples.begin() + seg.start + seg.length);
    input.resize(c.longest, 0.0f);
    auto out = output(c, input);
    // Our classes promise the same bits either way: say so when one breaks that.
    flush_denormals(false);
    auto unflushed = output(c, input);
    flush_denormals(true);
    for (std::size_t o = 0; o < out.size(); o++)
        if (long i = sig::first_difference(out[o], unflushed[o]); i >= 0)
            std::fprintf(stderr,
                         "make_selftest: warning: %s %s: sample %ld depends on flushing denormals "
                         "(%g, unflushed %g)\n",
                         c.cls.c_str(), label(c).c_str(), i, out[o][i], unflushed[o][i]);
    int last = 0;
    for (auto &o : out)
        for (int i = 0; i < c.longest; i++)
            if (sig::bits(o[i]) != 0) last = std::max(last, i + 1);
    // Silence is checked for a while after the last sound, within the samples run.
    c.compared = std::min(c.longest, (last + 2 * kBlock + kBlock - 1) / kBlock * kBlock + 1024);
    for (auto &o : out) {
        int keep = 1;
        for (int i = 0; i < c.longest; i++)
            if (sig::bits(o[i]) != 0) keep = i + 1;
        c.offset.push_back(static_cast<int>(expected.size()));
        c.length.push_back(keep);
        expected.insert(expected.end(), o.begin(), o.begin() + keep);
    }
}

bool write_wav(const fs::path &path, const std::vector<float> &samples) {
#ifndef TAVRELLE_HAVE_SNDFILE
    // No libsndfile (the Windows build, run under wine): the bare samples, which a check
    // compares with the data of the files the Linux build writes.
    std::ofstream raw(path, std::ios::binary);
    raw.write(reinterpret_cast<const char *>(samples.data()),
              static_cast<std::streamsize>(samples.size() * sizeof(float)));
    return static_cast<bool>(raw);
#else
    SF_INFO info{};
    info.samplerate = static_cast<int>(kRate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    sf_command(f, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
    sf_count_t n = sf_writef_float(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
    return n == static_cast<sf_count_t>(samples.size());
#endif
}

// A Pd canvas under construction: boxes are numbered in the order they are added, a
// subpatch counts as one box of its parent.
class Canvas {
  public:
    explicit Canvas(std::string name = "") : name_(std::move(name)) {}
    int obj(int x, int y, const std::string &text) { return add("obj", x, y, text); }
    int msg(int x, int y, const std::string &text) { return add("msg", x, y, text); }
    int comment(int x, int y, const std::string &text) { return add("text", x, y, text); }
    int sub(int x, int y, const Canvas &c) {
        body_ << c.text(false) << "#X restore " << x << " " << y << " pd " << c.name_ << ";\n";
        return n_++;
    }
    void wire(int from, int outlet, int to, int inlet) {
        wires_ << "#X connect " << from << " " << outlet << " " << to << " " << inlet << ";\n";
    }
    void chain(std::initializer_list<int> boxes) {
        for (auto a = boxes.begin(); a + 1 != boxes.end(); ++a)
            wire(*a, 0, *(a + 1), 0);
    }
    std::string text(bool top) const {
        std::ostringstream s;
        if (top)
            s << "#N canvas 40 40 760 620 12;\n";
        else
            s << "#N canvas 60 60 720 520 " << name_ << " 0;\n";
        s << body_.str() << wires_.str();
        return s.str();
    }

  private:
    int add(const char *kind, int x, int y, const std::string &text) {
        std::string escaped; // dollars are the box's own, not the file's
        for (char ch : text)
            escaped += ch == '$' ? std::string("\\$") : std::string(1, ch);
        body_ << "#X " << kind << " " << x << " " << y << " " << escaped << ";\n";
        return n_++;
    }
    std::string name_;
    std::ostringstream body_, wires_;
    int n_ = 0;
};

std::string str(int v) { return std::to_string(v); }

std::string settings_message(const Case &c) {
    std::string m;
    for (const Setting &s : c.settings) {
        char v[32];
        std::snprintf(v, sizeof v, "%g", s.value);
        m += (m.empty() ? "" : " \\, ") + s.selector + " " + v;
    }
    return m;
}

// One case: its input and expected output played from the shared arrays into the class
// and a per-sample comparison, 1 where the bits differ (-0 and +0 differ, any NaN equals
// any NaN), recorded into tavstflagsK; what the class puts out is recorded too. On
// "tavst-check-K" it prints the first difference, if any, and tells its class.
Canvas case_canvas(const Case &c, int k, int class_index, const Input &in) {
    const std::string K = str(k);
    const int outlets = static_cast<int>(c.offset.size());
    Canvas p("case-" + K);
    int dsp = p.obj(20, 10, "switch~ 64");
    p.wire(p.obj(20, 40, "r tavst-check-dsp"), 0, dsp, 0);
    int go = p.obj(20, 80, "r tavst-go");
    const Segment seg = segment(c, in);
    int input = p.msg(20, 110, str(seg.start) + " " + str(seg.length));
    int play = p.obj(20, 140, "tabplay~ tavstin");
    int object = p.obj(20, 200, c.cls);
    p.chain({go, input, play, object});
    if (!c.settings.empty())
        p.chain({p.obj(200, 10, "loadbang"), p.msg(200, 40, settings_message(c)), object});
    int flags = p.obj(20, 380, "tabwrite~ tavstflags" + K);
    p.wire(go, 0, flags, 0);
    p.obj(20, 480, "table tavstflags" + K + " " + str(c.compared));
    int either = outlets > 1 ? p.obj(20, 340, "expr~ max($v1 \\, $v2)") : -1;
    std::string report_expr, report_text;
    for (int o = 0; o < outlets; o++) {
        const std::string got = "tavstgot" + K + "_" + str(o);
        const int x = 200 + 220 * o;
        int m = p.msg(x, 110, str(c.offset[o]) + " " + str(c.length[o]));
        int expected = p.obj(x, 140, "tabplay~ tavstout");
        int cmp = p.obj(x, 260,
                        "expr~ if(isnan($v1) || isnan($v2) \\, isnan($v1) != isnan($v2) \\, "
                        "$v1 != $v2 || copysign(1 \\, $v1) != copysign(1 \\, $v2))");
        int record = p.obj(x + 100, 300, "tabwrite~ " + got);
        p.obj(x, 510, "table " + got + " " + str(c.compared));
        p.chain({go, m, expected});
        p.wire(object, o, cmp, 0);
        p.wire(expected, 0, cmp, 1);
        p.wire(object, o, record, 0);
        p.wire(go, 0, record, 0);
        p.wire(cmp, 0, either >= 0 ? either : flags, either >= 0 ? o : 0);
        // What the class put out and what was expected at the first difference.
        const std::string last = str(c.length[o] - 1), off = str(c.offset[o]);
        const std::string want = "if($f1 < " + str(c.length[o]) + " \\, tavstout[min($f1 \\, " +
                                 last + ") + " + off + "] \\, 0)";
        report_expr += std::string(o ? " \\; " : "") + got + "[$f1] \\; " + want + " \\; " + got +
                       "[$f1] - " + want;
        const std::string d = "$" + str(3 * o + 2);
        report_text += std::string(o ? " and " : " ") +
                       (outlets > 1 ? "outlet " + str(o) + " " : "") + d + " where $" +
                       str(3 * o + 3) + " was expected (difference $" + str(3 * o + 4) + ")";
    }
    if (either >= 0) p.wire(either, 0, flags, 0);

    // [array max] gives the first index holding the largest flag: 0 everywhere is a pass.
    int check = p.obj(420, 340, "r tavst-check-" + K);
    int max = p.obj(420, 370, "array max tavstflags" + K);
    int differs = p.obj(420, 400, "sel 0");
    int index = p.obj(520, 400, "f");
    p.chain({check, max, differs});
    p.wire(max, 1, index, 1);
    p.wire(differs, 1, index, 0);
    int split = p.obj(420, 430, "t f f b");
    int values = p.obj(420, 460, "expr " + report_expr);
    std::string zeros = "pack 0";
    for (int i = 0; i < 3 * outlets; i++)
        zeros += " 0";
    int pack = p.obj(420, 490, zeros);
    int line =
        p.msg(420, 520, c.cls + " " + label(c) + ": first difference at sample $1:" + report_text);
    int print = p.obj(420, 550, "print -n");
    p.chain({index, split});
    p.wire(split, 2, p.msg(560, 460, "\\; tavst-fail" + str(class_index) + " bang"), 0);
    p.wire(split, 1, values, 0);
    for (int i = 0; i < 3 * outlets; i++)
        p.wire(values, i, pack, i + 1);
    p.wire(split, 0, pack, 0);
    p.chain({pack, line, print});
    return p;
}

// A class: its cases, and on "tavst-check-class-I" their reports in order, a line
// saying it put out sound at all (so it loaded), and "ok" when every case matched.
Canvas class_canvas(const std::string &cls, int i, const std::vector<Case> &all, const Input &in) {
    const std::string I = str(i);
    Canvas p(cls);
    std::vector<int> mine;
    for (int k = 0; k < static_cast<int>(all.size()); k++)
        if (all[k].cls == cls) mine.push_back(k);
    for (std::size_t j = 0; j < mine.size(); j++)
        p.sub(20 + 110 * static_cast<int>(j), 20, case_canvas(all[mine[j]], mine[j], i, in));
    const int n = static_cast<int>(mine.size());
    int check = p.obj(20, 80, "r tavst-check-class-" + I);
    std::string t = "t b";
    for (int j = 0; j < n + 2; j++)
        t += " b";
    int steps = p.obj(20, 110, t); // right to left: reset, the cases, sound, verdict
    p.wire(check, 0, steps, 0);
    int failures = p.obj(20, 300, "f");
    int count = p.obj(60, 300, "+ 1");
    p.wire(failures, 0, count, 0);
    p.wire(count, 0, failures, 1);
    p.wire(p.obj(60, 270, "r tavst-fail" + I), 0, failures, 0);
    int zero = p.msg(120, 270, "0");
    p.wire(steps, n + 2, zero, 0);
    p.wire(zero, 0, failures, 1);
    for (int j = 0; j < n; j++)
        p.wire(steps, n + 1 - j,
               p.msg(20 + 130 * j, 150, "\\; tavst-check-" + str(mine[j]) + " bang"), 0);
    // Sound from the first case: anything but 0 recorded on its first outlet.
    const std::string got = "tavstgot" + str(mine[0]) + "_0";
    int lo = p.obj(300, 180, "array min " + got);
    int hi = p.obj(400, 180, "array max " + got);
    int sound = p.obj(300, 210, "expr $f1 != 0 || $f2 != 0");
    int silent = p.obj(300, 240, "sel 0");
    int both = p.obj(300, 150, "t b b"); // the largest first, into the cold inlet
    p.wire(steps, 1, both, 0);
    p.wire(both, 1, hi, 0);
    p.wire(both, 0, lo, 0);
    p.wire(hi, 0, sound, 1);
    p.wire(lo, 0, sound, 0);
    p.chain({sound, silent});
    int none = p.msg(300, 270, cls + ": no sound from it: did it load?");
    p.wire(silent, 0, none, 0);
    p.wire(none, 0, p.obj(300, 300, "print -n"), 0);
    p.wire(silent, 0, p.msg(480, 270, "\\; tavst-fail" + I + " bang"), 0);
    // The verdict.
    int verdict = p.obj(20, 360, "f");
    p.wire(steps, 0, verdict, 0);
    p.wire(count, 0, verdict, 1);
    p.wire(zero, 0, verdict, 1);
    int ok = p.obj(20, 390, "sel 0");
    p.chain({verdict, ok});
    int pass = p.msg(20, 420, cls + ": loaded and ok in all " + str(n) + " cases");
    p.wire(ok, 0, pass, 0);
    p.wire(pass, 0, p.obj(20, 450, "print -n"), 0);
    p.wire(ok, 1, p.msg(160, 420, "\\; tavst-failed " + cls), 0);
    return p;
}

// A class timed: kTimedInstances objects fed from tavsttiming, switched on for one
// window of loud input and one while it decays in silence, each timed with [cputime].
// Prints its row and starts the next class.
Canvas timing_canvas(const std::string &cls, int i, int classes) {
    const std::string I = str(i);
    Canvas p(cls);
    int dsp = p.obj(20, 10, "switch~ 64");
    p.wire(p.obj(20, 40, "r tavst-time-dsp-" + I), 0, dsp, 0);
    int feed = p.obj(20, 80, "tabreceive~ tavsttiming");
    for (int k = 0; k < kTimedInstances; k++)
        p.wire(feed, 0, p.obj(20 + 90 * (k % 8), 120 + 30 * (k / 8), cls), 0);
    const int y = 140 + 30 * (kTimedInstances / 8);
    int start = p.obj(20, y, "r tavst-time-" + I);
    int first = p.obj(20, y + 30, "t b b b b");
    p.wire(start, 0, first, 0);
    p.wire(first, 3, p.msg(300, y + 60, "\\; tavst-time-dsp-" + I + " 1"), 0);
    int get = p.obj(300, y + 90, "array get tavstin 0 64");
    p.wire(first, 2, get, 0);
    p.wire(get, 0, p.obj(300, y + 120, "array set tavsttiming"), 0);
    int loud = p.obj(160, y + 150, "cputime");
    int decay = p.obj(160, y + 270, "cputime");
    p.wire(first, 1, loud, 0);
    int wait_loud = p.obj(20, y + 150, "delay " + str(kLoudMs));
    p.wire(first, 0, wait_loud, 0);
    int second = p.obj(20, y + 180, "t b b b b");
    p.wire(wait_loud, 0, second, 0);
    int loud_ms = p.obj(160, y + 210, "f");
    p.wire(second, 3, loud, 1);
    p.wire(loud, 0, loud_ms, 1);
    p.wire(second, 2, p.msg(300, y + 210, "\\; tavsttiming const 0"), 0);
    p.wire(second, 1, decay, 0);
    int wait_decay = p.obj(20, y + 240, "delay " + str(kDecayMs));
    p.wire(second, 0, wait_decay, 0);
    int third = p.obj(20, y + 270, "t b b b b"); // right to left: the row, then the next class
    p.wire(wait_decay, 0, third, 0);
    int rate = p.obj(300, y + 300, "samplerate~");
    int row = p.obj(20, y + 330, "pack f f");
    // Percent of one core per instance, had the window run at 44.1 kHz.
    auto share = [&](int ms) {
        return "rint($f1 * 44100 / $f2 * 100000 / " + str(ms) + " / " + str(kTimedInstances) +
               ") * 0.001";
    };
    int loud_share = p.obj(20, y + 360, "expr " + share(kLoudMs));
    int decay_share = p.obj(200, y + 360, "expr " + share(kDecayMs));
    int line = p.obj(20, y + 390, "pack f f");
    int text = p.msg(20, y + 420, cls + " $1 % loud $2 % decaying");
    p.wire(third, 3, rate, 0);
    p.wire(rate, 0, loud_share, 1);
    p.wire(rate, 0, decay_share, 1);
    p.wire(third, 2, decay, 1);
    p.wire(decay, 0, row, 1);
    p.wire(third, 1, loud_ms, 0);
    p.wire(loud_ms, 0, row, 0);
    int unpack = p.obj(20, y + 345, "unpack f f");
    p.chain({row, unpack});
    p.wire(unpack, 0, loud_share, 0);
    p.wire(unpack, 1, decay_share, 0);
    p.wire(loud_share, 0, line, 0);
    p.wire(decay_share, 0, line, 1);
    p.chain({line, text, p.obj(20, y + 450, "print -n")});
    p.wire(third, 0,
           p.msg(300, y + 450,
                 "\\; tavst-time-dsp-" + I + " 0 \\; " +
                     (i + 1 < classes ? "tavst-time-" + str(i + 1) : "tavst-final") + " bang"),
           0);
    return p;
}

std::string patch(const std::vector<Case> &all, const Input &in) {
    std::vector<std::string> classes;
    int longest = 0;
    for (const Case &c : all) {
        if (std::find(classes.begin(), classes.end(), c.cls) == classes.end())
            classes.push_back(c.cls);
        longest = std::max(longest, c.compared);
    }
    const int n = static_cast<int>(classes.size());
    Canvas top;
    top.comment(20, 10,
                "tavrelle self-test: does this machine run the library as it was built to?");
    top.comment(
        20, 40,
        "Every class is fed a fixed input (selftest/input.wav) with a few settings each \\, "
        "and every sample it puts out must equal \\, bit for bit \\, what the build's "
        "test host computed (selftest/expected.wav). Then each class is timed. "
        "The results go to Pd's console \\, the last line says passed or FAILED. "
        "The timing never fails the test. It runs once when the patch opens: "
        "reopen it to run it again. Without a GUI it quits when it is done. "
        "Headless \\, from this folder:, f 70");
    top.comment(20, 190, kCommand);
    top.comment(20, 220,
                "and send the whole output (with what pd -version says and the board's name) "
                "to the library's authors. See the README., f 70");
    Canvas checks("checks"), timing("timing");
    for (int i = 0; i < n; i++) {
        checks.sub(20 + 110 * (i % 6), 20 + 40 * (i / 6), class_canvas(classes[i], i, all, in));
        timing.sub(20 + 110 * (i % 6), 20 + 40 * (i / 6), timing_canvas(classes[i], i, n));
    }
    top.sub(20, 280, checks);
    top.sub(120, 280, timing);
    Canvas data("data");
    data.obj(20, 20, "table tavstin");
    data.obj(20, 50, "table tavstout");
    data.obj(20, 80, "table tavsttiming 64");
    top.sub(220, 280, data);

    Canvas run("run");
    int lb = run.obj(20, 20, "loadbang");
    int steps = run.obj(20, 50, "t b b b");
    run.wire(lb, 0, steps, 0);
    // Which Pd: 16777216 + 1 is 16777216 in single precision.
    int rate = run.obj(400, 80, "samplerate~");
    int big = run.obj(400, 110, "f 16777216");
    int plus = run.obj(400, 140, "+ 1");
    int minus = run.obj(400, 170, "- 16777216");
    int bits = run.obj(400, 200, "expr 32 + 32 * $f1");
    int header = run.obj(400, 230, "pack f f");
    int header_text = run.msg(400, 260, "tavrelle self-test in Pd with $1-bit floats at $2 Hz");
    int before_header = run.obj(400, 50, "t b b b");
    int say_header = run.obj(400, 290, "print -n");
    run.wire(before_header, 2, rate, 0);
    run.wire(rate, 0, header, 1);
    run.wire(before_header, 1, big, 0);
    run.chain({big, plus, minus, bits, header, header_text, say_header});
    // The classes that follow the rate were computed at 44100 Hz.
    int rate_again = run.obj(560, 80, "samplerate~");
    int other_rate = run.obj(560, 110, "sel 44100");
    run.wire(before_header, 0, rate_again, 0);
    run.chain({rate_again, other_rate});
    int note = run.msg(560, 140,
                       "note: the expected output is for 44100 Hz: at $1 Hz duck~ snarvel~ and "
                       "damp~ differ");
    run.wire(other_rate, 1, note, 0);
    run.wire(note, 0, say_header, 0);
    int read_in = run.msg(200, 80, "read -resize selftest/input.wav tavstin");
    int read_out = run.msg(200, 110, "read -resize selftest/expected.wav tavstout");
    int files = run.obj(200, 140, "soundfiler");
    run.wire(steps, 2, read_in, 0);
    run.wire(steps, 2, read_out, 0); // (the order of the two reads does not matter)
    run.wire(read_in, 0, files, 0);
    run.wire(read_out, 0, files, 0);
    run.wire(steps, 1, run.msg(200, 180, "\\; tavst-check-dsp 1 \\; tavst-go bang \\; pd dsp 1"),
             0);
    // Time enough for the longest case, in Pd's logical time.
    int wait = run.obj(20, 80, "delay " + str((longest + 4 * kBlock) * 1000 / 44100 + 20));
    run.wire(steps, 0, wait, 0);
    std::string t = "t b b b";
    for (int i = 0; i < n; i++)
        t += " b";
    int checks_in_order = run.obj(20, 110, t); // right to left: header, classes, timing
    run.wire(wait, 0, checks_in_order, 0);
    run.wire(checks_in_order, n + 2, before_header, 0);
    for (int i = 0; i < n; i++)
        run.wire(checks_in_order, n + 1 - i,
                 run.msg(20 + 10 * i, 140 + 20 * i, "\\; tavst-check-class-" + str(i) + " bang"),
                 0);
    run.wire(checks_in_order, 0,
             run.msg(20, 400,
                     "\\; tavst-check-dsp 0 \\; tavst-timing-header bang \\; tavst-time-0 bang"),
             0);
    run.chain(
        {run.obj(20, 440, "r tavst-timing-header"),
         run.msg(20, 470,
                 "timing: percent of one core at 44.1 kHz for one instance (" +
                     str(kTimedInstances) + " at once: " + str(kLoudMs / 1000) +
                     " s of loud input then " + str(kDecayMs / 1000) + " s decaying in silence)"),
         run.obj(20, 500, "print -n")});
    // The verdict: the classes that failed, counted.
    int failed = run.obj(400, 340, "r tavst-failed");
    int gather = run.obj(400, 370, "list prepend");
    int names = run.obj(400, 430, "list");
    run.chain({failed, gather});
    run.wire(gather, 0, gather, 1);
    run.wire(gather, 0, names, 1);
    int verdict = run.obj(400, 400, "t b b");
    run.wire(run.obj(400, 310, "r tavst-final"), 0, verdict, 0);
    run.wire(verdict, 1, names, 0);
    int count = run.obj(400, 460, "list length");
    int none = run.obj(400, 490, "sel 0");
    int say = run.obj(400, 580, "print -n");
    run.chain({names, count, none, run.msg(400, 520, "tavrelle self-test: passed"), say});
    int paren = run.obj(520, 520, "makefilename (%d");
    run.wire(none, 1, paren, 0);
    run.chain({paren, run.msg(520, 550, "tavrelle self-test: FAILED $1 of " + str(n) + " classes)"),
               say});
    run.wire(verdict, 0, run.msg(20, 530, "\\; tavst-done bang"), 0);
    top.sub(320, 280, run);
    // Without a GUI no one would close Pd. (Asked here: a closed subpatch is never visible.)
    int visible = top.obj(20, 390, "pdcontrol");
    top.chain({top.obj(20, 330, "r tavst-done"), top.msg(20, 360, "isvisible"), visible});
    int hidden = top.obj(20, 420, "sel 0");
    top.chain({visible, hidden, top.msg(20, 450, "\\; pd quit")});
    return top.text(true);
}
} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_selftest OUTDIR\n");
        return 2;
    }
    const fs::path out = argv[1];
    fs::create_directories(out / "selftest");
    flush_denormals(true);
    Input in = make_input();
    std::vector<Case> all = cases();
    std::vector<float> expected;
    for (Case &c : all) {
        run(c, in, expected);
        if (std::getenv("SELFTEST_VERBOSE"))
            std::fprintf(stderr, "%s %s: %d compared, %d stored\n", c.cls.c_str(), label(c).c_str(),
                         c.compared, c.length[0]);
    }
    if (::testing::Test::HasFailure() || !write_wav(out / "selftest/input.wav", in.samples) ||
        !write_wav(out / "selftest/expected.wav", expected) ||
        !(std::ofstream(out / "tavrelle-selftest.pd", std::ios::binary) << patch(all, in))) {
        std::fprintf(stderr, "make_selftest: could not compute or write the data\n");
        return 1;
    }
    return 0;
}
