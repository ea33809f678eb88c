// What the benchmark knows about each class: the settings and the input that make its
// measurement realistic, the block sizes Pd would run it at, the least arithmetic its
// algorithm needs per sample, and the vanilla Pd patch that does the same work.
#pragma once

#include <string>
#include <vector>

namespace bench {

// Input the class is measured on. Program is music-like material (plucked tones over a
// soft noise floor), Drums a kick-and-hat pattern that makes a ducker work.
enum class Input { Program, Drums };

struct Setting {
    const char *selector; // a message to the left inlet
    float value;
};

struct Row {
    const char *cls;
    std::vector<Setting> settings;
    Input input;
    std::vector<int> blocks; // block sizes to time; the first is the reference
    // Floating-point operations per sample that the algorithm itself performs (adds,
    // subtracts, multiplies, divides, compares and conversions; loop-invariant ones
    // hoisted): no implementation executes fewer instructions.
    int fp_ops;
    const char *fp_ops_why;
    // Fewest ARM1176 cycles per sample at the first block size: the larger of the issue
    // count (the single-issue core spends at least one cycle per instruction, and the
    // algorithm needs at least these, the tests of its guards included: a multiply and
    // the add that follows it issue as one chained vmla, which rounds the product first;
    // a load or store multiple moves two registers a cycle; loop control and pointer
    // steps left out, as unrolling spreads them thin) and the latency of the longest
    // dependency chain the block shape forces (a recurrence no two samples can share).
    int arm_floor;
    const char *arm_floor_why;
    // The same work as a patch of vanilla objects (see run.py), or empty.
    std::vector<std::string> vanilla;
    std::vector<int> delays; // delay lengths the vanilla patch needs, in samples
    // The same at block size 1, where each perform call is one sample: the latency of
    // that sample's whole chain from input to outlet bounds it (0: not run at 1).
    int arm_floor_one = 0;
    const char *arm_floor_one_why = "";
};

const std::vector<Row> &table();

// The row of a class; aborts with a message when the table has none, so that a class
// added to the build cannot go unmeasured.
const Row &row_of(const std::string &cls);

// The classes built with the benchmark, in build order.
std::vector<std::string> built_classes();

} // namespace bench
