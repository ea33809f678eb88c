// One object of a class, created through the test host (which dlopens the plug-in as Pd
// does), given its row's settings and switched on at 44.1 kHz; a block then runs the
// perform routines exactly as Pd's scheduler would, reading its input straight from a
// caller's signal.
#pragma once

#include "host.h"
#include "table.h"

#include <cstddef>
#include <vector>

namespace bench {

constexpr float kRate = 44100.0f;

class Driver {
  public:
    Driver(const Row &row, int block, float rate = kRate);

    int block_size() const { return n_; }

    // One block with its input at `input` (block_size() samples).
    void block(const float *input) {
        for (std::size_t slot : in_slots_) chain_[slot] = reinterpret_cast<t_int>(input);
        for (t_int *w = chain_.data(); *w;) w = reinterpret_cast<t_perfroutine>(*w)(w);
    }

    // Whole blocks of `signal` (its length a multiple of the block size).
    void play(const std::vector<float> &signal) {
        for (std::size_t at = 0; at + n_ <= signal.size(); at += n_) block(signal.data() + at);
    }

    // The first perform routine of the chain, for tools that locate it in the plug-in.
    t_perfroutine perform() const { return reinterpret_cast<t_perfroutine>(chain_[0]); }

  private:
    host::Object obj_;
    int n_;
    std::vector<t_int> chain_;
    std::vector<std::size_t> in_slots_; // chain entries that hold the input vector
};

// The row's input, `seconds` long, rounded up to whole blocks of 64.
std::vector<float> material(Input kind, double seconds);

// Loud white noise at full scale, for the decay check.
std::vector<float> loud(double seconds);

} // namespace bench
