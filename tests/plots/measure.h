// Measurements of the classes through their plug-ins, loaded by the test host: what
// `make plots` draws and what the plot test checks. Each returns a table whose first
// column is the x axis.
#pragma once

#include <string>
#include <vector>

namespace measure {

constexpr float kRate = 44100.0f;

struct Table {
    std::string name;                 // file stem, e.g. "comb-impulse"
    std::vector<std::string> columns; // headings
    std::vector<std::vector<double>> rows;
};

// Impulse responses of the four comb banks at their defaults, first 4096 samples.
Table comb_impulse();
// Peak magnitude per band (dB) of the damped bank at three tones and the plain bank.
Table comb_magnitude();
// Impulse responses of the two diffusers, first 1400 samples.
Table diffuser_impulse();
// Magnitude (dB) of the right diffuser up to 2 kHz at full resolution.
Table diffuser_magnitude();
// Per frequency: quorrel~'s phase lag of the right outlet (degrees) and the smallest and
// largest lumbrisk~ output for a settled sine of peak 1.
Table quadrature();
// Settled duck~ gain (dB) against a steady input level (dB) at three depths.
Table duck_level();
// duck~ gain over time for a burst of 0.5 at three response settings.
Table duck_time();
// snarvel~'s code offset (the wet path of the first output sample divided by the wet
// gain) against the input, at the default noise gate, over -4 ... 4.
Table snarvel_transfer();
// The same near zero at noise gates 0, 0.2 and 1.
Table snarvel_gate();
// damp~ magnitude (dB) at five tones.
Table damp_magnitude();

std::vector<Table> all();

} // namespace measure
