#include "measure.h"

#include "host.h"
#include "signals.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace measure {
namespace {

constexpr int kBlock = 64;

std::vector<float> run(const std::string &cls, const std::vector<float> &in,
                       const std::vector<std::pair<std::string, float>> &messages = {},
                       int outlet = 0) {
    host::Object obj(cls);
    for (const auto &[sel, v] : messages) obj.message(sel, {v});
    obj.dsp(kRate, kBlock);
    auto out = obj.process(in)[outlet];
    out.resize(in.size());
    return out;
}

double db(double v) { return 20.0 * std::log10(std::max(v, 1e-12)); }

// In-place radix-2 FFT; size a power of two.
void fft(std::vector<std::complex<double>> &a) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; i++) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2.0 * M_PI / static_cast<double>(len);
        const std::complex<double> w(std::cos(angle), std::sin(angle));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> z(1.0);
            for (std::size_t k = 0; k < len / 2; k++, z *= w) {
                auto u = a[i + k], v = a[i + k + len / 2] * z;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

// |spectrum| of a response, bins 0 ... n/2.
std::vector<double> magnitude(const std::vector<float> &response) {
    std::vector<std::complex<double>> a(response.begin(), response.end());
    fft(a);
    std::vector<double> m(a.size() / 2 + 1);
    for (std::size_t k = 0; k < m.size(); k++) m[k] = std::abs(a[k]);
    return m;
}

double bin_hz(std::size_t k, std::size_t n) { return k * kRate / static_cast<double>(n); }

// Largest magnitude in each of `bands` log-spaced bands from lo to hi Hz.
std::vector<std::pair<double, double>> peak_bands(const std::vector<double> &m, std::size_t n,
                                                  double lo, double hi, int bands) {
    std::vector<std::pair<double, double>> out;
    for (int b = 0; b < bands; b++) {
        double f0 = lo * std::pow(hi / lo, double(b) / bands);
        double f1 = lo * std::pow(hi / lo, double(b + 1) / bands);
        double peak = 0;
        for (std::size_t k = 0; k < m.size(); k++) {
            double f = bin_hz(k, n);
            if (f >= f0 && f < f1) peak = std::max(peak, m[k]);
        }
        if (peak > 0) out.push_back({std::sqrt(f0 * f1), peak});
    }
    return out;
}

// Amplitude and phase (radians) of the component at `cycles` per sample, by least
// squares over the samples from `from` on.
std::pair<double, double> component(const std::vector<float> &x, double cycles, std::size_t from) {
    double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
    for (std::size_t i = from; i < x.size(); i++) {
        double c = std::cos(2 * M_PI * cycles * i), s = std::sin(2 * M_PI * cycles * i);
        cc += c * c, ss += s * s, cs += c * s, xc += x[i] * c, xs += x[i] * s;
    }
    double det = cc * ss - cs * cs;
    double a = (xc * ss - xs * cs) / det, b = (xs * cc - xc * cs) / det; // x = a cos + b sin
    return {std::hypot(a, b), std::atan2(-b, a)};
}

} // namespace

Table comb_impulse() {
    Table t{"comb-impulse", {"sample", "velmarR~", "velmarL~", "plenthR~", "plenthL~"}, {}};
    const int n = 4096;
    auto in = sig::impulse(n);
    std::vector<std::vector<float>> r;
    for (const char *cls : {"velmarR~", "velmarL~", "plenthR~", "plenthL~"}) r.push_back(run(cls, in));
    for (int i = 0; i < n; i++) t.rows.push_back({double(i), r[0][i], r[1][i], r[2][i], r[3][i]});
    return t;
}

Table comb_magnitude() {
    Table t{"comb-magnitude", {"Hz", "velmarR~ tone 0", "velmarR~ tone 0.3", "velmarR~ tone 1", "plenthR~"}, {}};
    const std::size_t n = 1 << 17; // three seconds: the tail has died down by then
    auto in = sig::impulse(static_cast<int>(n));
    std::vector<std::vector<std::pair<double, double>>> cols;
    for (float tone : {0.0f, 0.3f, 1.0f})
        cols.push_back(peak_bands(magnitude(run("velmarR~", in, {{"tone", tone}})), n, 20, 20000, 160));
    cols.push_back(peak_bands(magnitude(run("plenthR~", in)), n, 20, 20000, 160));
    for (std::size_t b = 0; b < cols[0].size(); b++)
        t.rows.push_back({cols[0][b].first, db(cols[0][b].second), db(cols[1][b].second),
                          db(cols[2][b].second), db(cols[3][b].second)});
    return t;
}

Table diffuser_impulse() {
    Table t{"diffuser-impulse", {"sample", "skavelR~", "skavelL~"}, {}};
    const int n = 1400;
    auto in = sig::impulse(n);
    auto r = run("skavelR~", in), l = run("skavelL~", in);
    for (int i = 0; i < n; i++) t.rows.push_back({double(i), r[i], l[i]});
    return t;
}

Table diffuser_magnitude() {
    Table t{"diffuser-magnitude", {"Hz", "skavelR~"}, {}};
    const std::size_t n = 1 << 16;
    auto m = magnitude(run("skavelR~", sig::impulse(static_cast<int>(n))));
    for (std::size_t k = 0; bin_hz(k, n) <= 2000.0; k++) t.rows.push_back({bin_hz(k, n), db(m[k])});
    return t;
}

Table quadrature() {
    Table t{"quadrature", {"Hz", "phase lag (degrees)", "lumbrisk~ min", "lumbrisk~ max"}, {}};
    const int n = 1 << 15;
    const std::size_t settled = n / 2;
    std::vector<double> freqs;
    for (int k = 0; k <= 120; k++) freqs.push_back(20.0 * std::pow(22000.0 / 20.0, k / 120.0));
    freqs.push_back(kRate / 4);
    std::sort(freqs.begin(), freqs.end());
    for (double f : freqs) {
        if (f >= kRate / 2) continue;
        double cycles = f / kRate;
        auto in = sig::sine(n, cycles);
        host::Object q("quorrel~");
        q.dsp(kRate, kBlock);
        auto out = q.process(in);
        double lag = component(out[0], cycles, settled).second - component(out[1], cycles, settled).second;
        lag = std::remainder(lag, 2 * M_PI) * 180.0 / M_PI;
        auto amp = run("lumbrisk~", in);
        auto [lo, hi] = std::minmax_element(amp.begin() + settled, amp.end());
        t.rows.push_back({f, lag, *lo, *hi});
    }
    return t;
}

Table duck_level() {
    Table t{"duck-level", {"input dB", "depth 0.25", "depth 0.5", "depth 1"}, {}};
    const int n = static_cast<int>(kRate); // one second: 4.5 time constants at the default
    for (double level_db = -60; level_db <= 6.001; level_db += 1) {
        std::vector<double> row{level_db};
        for (float depth : {0.25f, 0.5f, 1.0f}) {
            std::vector<float> in(n, static_cast<float>(std::pow(10.0, level_db / 20)));
            auto g = run("duck~", in, {{"depth", depth}, {"response", 0.0f}});
            row.push_back(db(g.back()));
        }
        t.rows.push_back(row);
    }
    return t;
}

Table duck_time() {
    Table t{"duck-time", {"seconds", "input", "response 0", "response 0.3", "response 1"}, {}};
    const int n = static_cast<int>(1.6 * kRate);
    std::vector<float> in(n, 0.0f);
    for (int i = static_cast<int>(0.3 * kRate); i < static_cast<int>(0.8 * kRate); i++) in[i] = 0.5f;
    std::vector<std::vector<float>> g;
    for (float r : {0.0f, 0.3f, 1.0f}) g.push_back(run("duck~", in, {{"depth", 1.0f}, {"response", r}}));
    for (int i = 0; i < n; i += 32) t.rows.push_back({i / kRate, in[i], g[0][i], g[1][i], g[2][i]});
    return t;
}

namespace {
// The first output sample of a fresh object at mix 1 is the wet gain times the code offset.
double code_offset(float x, float gate) {
    auto out = run("snarvel~", {x}, {{"mix", 1.0f}, {"noisegate", gate}});
    return out[0] / 0.005;
}
} // namespace

Table snarvel_transfer() {
    Table t{"snarvel-transfer", {"input", "code offset"}, {}};
    for (int k = -2000; k <= 2000; k++) {
        float x = static_cast<float>(k / 500.0);
        t.rows.push_back({x, std::round(code_offset(x, 0.2f))});
    }
    return t;
}

Table snarvel_gate() {
    Table t{"snarvel-gate", {"input", "noisegate 0", "noisegate 0.2", "noisegate 1"}, {}};
    for (int k = -300; k <= 300; k++) {
        float x = static_cast<float>(k / 10000.0);
        t.rows.push_back({x, std::round(code_offset(x, 0.0f)), std::round(code_offset(x, 0.2f)),
                          std::round(code_offset(x, 1.0f))});
    }
    return t;
}

Table damp_magnitude() {
    Table t{"damp-magnitude", {"Hz", "tone 0", "tone 0.25", "tone 0.5", "tone 0.75", "tone 1"}, {}};
    const std::size_t n = 1 << 15;
    std::vector<std::vector<double>> m;
    for (float tone : {0.0f, 0.25f, 0.5f, 0.75f, 1.0f})
        m.push_back(magnitude(run("damp~", sig::impulse(static_cast<int>(n)), {{"tone", tone}})));
    for (std::size_t k = 1; k < m[0].size(); k = std::max(k + 1, static_cast<std::size_t>(k * 1.02))) {
        std::vector<double> row{bin_hz(k, n)};
        for (auto &col : m) row.push_back(db(col[k]));
        t.rows.push_back(row);
    }
    return t;
}

std::vector<Table> all() {
    return {comb_impulse(),     comb_magnitude(), diffuser_impulse(), diffuser_magnitude(),
            quadrature(),       duck_level(),     duck_time(),        snarvel_transfer(),
            snarvel_gate(),     damp_magnitude()};
}

} // namespace measure
