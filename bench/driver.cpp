#include "driver.h"

#include "signals.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace bench {

Driver::Driver(const Row &row, int block, float rate) : obj_(row.cls), n_(block) {
    for (const Setting &s : row.settings)
        if (!obj_.message(s.selector, {s.value})) {
            std::fprintf(stderr, "bench: %s refuses \"%s\"\n", row.cls, s.selector);
            std::exit(2);
        }
    obj_.dsp(rate, block);
    chain_ = obj_.pd_chain();
    for (std::size_t i = 0; i < chain_.size(); i++)
        if (chain_[i] == reinterpret_cast<t_int>(obj_.in())) in_slots_.push_back(i);
    if (in_slots_.empty()) {
        std::fprintf(stderr, "bench: %s's perform routine takes no input vector\n", row.cls);
        std::exit(2);
    }
}

namespace {

std::size_t whole_blocks(double seconds) {
    auto n = static_cast<std::size_t>(std::ceil(seconds * kRate / 64.0));
    return 64 * (n > 0 ? n : 1);
}

// Plucked tones, five a second from a fixed phrase, each three harmonics decaying at
// their own rates, over a soft noise floor. Peaks near 0.5.
std::vector<float> program(std::size_t length) {
    static const double kPitches[] = {220.0, 261.6, 293.7, 329.6, 392.0, 440.0, 196.0, 246.9};
    std::vector<float> v = sig::noise(static_cast<int>(length), 0.01f, 777u);
    const std::size_t note = static_cast<std::size_t>(kRate / 5);
    for (std::size_t i = 0; i < length; i++) {
        std::size_t k = i / note;
        double t = static_cast<double>(i % note) / kRate;
        double f = kPitches[k % 8];
        double s = 0.0;
        for (int h = 1; h <= 3; h++)
            s += std::sin(2.0 * M_PI * f * h * t) * std::exp(-t * 6.0 * h) / h;
        v[i] += static_cast<float>(0.3 * s);
    }
    return v;
}

// A kick every half second (a falling 110 Hz to 45 Hz sweep) and a hat every eighth of a
// second (a short noise burst).
std::vector<float> drums(std::size_t length) {
    std::vector<float> v(length, 0.0f);
    std::vector<float> hiss = sig::noise(static_cast<int>(length), 1.0f, 4242u);
    const std::size_t beat = static_cast<std::size_t>(kRate / 2), tick = beat / 4;
    double phase = 0.0;
    for (std::size_t i = 0; i < length; i++) {
        double t = static_cast<double>(i % beat) / kRate;
        double ht = static_cast<double>(i % tick) / kRate;
        phase += 2.0 * M_PI * (45.0 + 65.0 * std::exp(-t * 30.0)) / kRate;
        double kick = std::sin(phase) * std::exp(-t * 8.0);
        double hat = hiss[i] * std::exp(-ht * 120.0) * 0.2;
        v[i] = static_cast<float>(0.8 * kick + hat);
    }
    return v;
}

} // namespace

std::vector<float> material(Input kind, double seconds) {
    std::size_t n = whole_blocks(seconds);
    return kind == Input::Drums ? drums(n) : program(n);
}

std::vector<float> loud(double seconds) { return sig::noise(static_cast<int>(whole_blocks(seconds)), 1.0f, 99u); }

} // namespace bench
