#include "table.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace bench {
namespace {

constexpr const char *kDampedOps =
    "input x0.015 and +1e-21 (2); the sum of eight states (7); per comb damp x state + "
    "atten x delayed (3) and input + feedback x state (2), eight combs (40)";
constexpr const char *kDampedFloor =
    "41 floating-point issues (the input's two; the sum's seven; per comb a multiply and a "
    "vmla for the lowpass, a copy of the input and a vmla for the line); 18 loads and "
    "stores (input, output, eight lines each way); 7 for the two guards";
constexpr const char *kPlainOps =
    "input x0.015 and +1e-21 (2); the sum of eight delayed values (7); per comb input + "
    "feedback x delayed (2), eight combs (16)";
constexpr const char *kPlainFloor =
    "25 floating-point issues (per comb a copy of the input and a vmla); 18 loads and "
    "stores; 7 for the two guards";
constexpr const char *kDiffuserOps =
    "input +1e-21 (1); per stage delayed - input, delayed x0.5 and the sum (3), four stages (12)";
constexpr const char *kDiffuserFloor =
    "9 floating-point issues (the offset; per stage a subtraction and a vmla on the input, "
    "which is not needed after it); 10 loads and stores (input, output, four lines each "
    "way); 7 for the two guards";
constexpr const char *kNetworkOps =
    "input +1e-21 (1); per section the sum, the product and the difference (3), eight "
    "sections (24)";
const std::vector<int> kCombsR = {1139, 1211, 1300, 1379, 1445, 1514, 1580, 1640};
const std::vector<int> kCombsL = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
const std::vector<int> kStagesR = {579, 464, 364, 248};
const std::vector<int> kStagesL = {556, 441, 341, 225};

const std::vector<Row> kTable = {
    {"velmarR~", {{"decay", 0.5f}, {"tone", 0.5f}}, Input::Program, {64}, 49, kDampedOps, 66,
     kDampedFloor, {"damped-comb"}, kCombsR},
    {"velmarL~", {{"decay", 0.5f}, {"tone", 0.5f}}, Input::Program, {64}, 49, kDampedOps, 66,
     kDampedFloor, {"damped-comb"}, kCombsL},
    {"plenthR~", {{"decay", 0.5f}}, Input::Program, {64}, 25, kPlainOps, 50, kPlainFloor,
     {"plain-comb"}, kCombsR},
    {"plenthL~", {{"decay", 0.5f}}, Input::Program, {64}, 25, kPlainOps, 50, kPlainFloor,
     {"plain-comb"}, kCombsL},
    {"skavelR~", {}, Input::Program, {64}, 13, kDiffuserOps, 26, kDiffuserFloor, {"diffuser"},
     kStagesR},
    {"skavelL~", {}, Input::Program, {64}, 13, kDiffuserOps, 26, kDiffuserFloor, {"diffuser"},
     kStagesL},
    {"lumbrisk~", {}, Input::Program, {64, 1}, 35,
     "the network (25); b x b + a x a (3); the square root's five multiplies and one "
     "subtraction (6); the scaling (1)",
     40,
     "the network's 17 and the input's 4 (as for quorrel~); 9 more floating-point issues (a vmul and a vmla "
     "for the magnitude; x x 0.5, t, a copy of 1.5, the vmls, y1 and y1 x x for the "
     "square root; the scaling) and 3 moves and integer steps for the root's estimate; 1 "
     "load and store (two samples a transfer each way); 5.5 for the pair's range test "
     "(two double transfers, four offset magnitudes, three ORs, a compare and a branch "
     "for two samples), which keeps subnormal squares and overflow out of the usual way",
     {"amplitude"}, {}, 132,
     "the direct chain's output at 70 (as in quorrel~) and its range test 5 more (the core "
     "reads it a cycle after a floating-point consumer could, a transfer of 2, a "
     "subtraction, a compare); the delayed chain's square no sooner than 80 (that chain "
     "starts at 12 at best, once x, x_phase, the bank's address and its state are loaded, "
     "so it ends at 68; then its test and its vmul, 12), so the sum's vmla issues at 80 and "
     "is ready at 87; 8 for the root's estimate (1, a transfer, a subtraction, a transfer "
     "back of 4); 35 for t, the vmls, y1, y1 x x and the scaling in a row; 1 to store and "
     "1 to return"},
    {"quorrel~", {}, Input::Program, {64, 1}, 25, kNetworkOps, 26,
     "17 floating-point issues for the network (the offset; per section a vadd and a vnmls "
     "on the old input, which is replaced after it), its state in registers for the block; "
     "4 for the input's test (its bits in a core register, half a transfer; the huge and "
     "the -1e-21 tests, 3; half a branch), either of which sends the sample to the careful "
     "sections; 1.5 loads and stores (the input two samples a transfer, each outlet "
     "likewise); 3.5 for the outlets' tiny tests (two double transfers, four tests and a "
     "branch for two samples); each chain's sections recur only every other sample (14 "
     "cycles a bank), well under the issue count",
     {"analytic-pair"}, {}, 76,
     "70 for the network (3 to fetch the input pointer, 4 to load the sample, 7 for the "
     "offset, 56 for the direct chain's four sections: a vadd then a vnmls, 7 cycles each, "
     "in a row); 6 for the outlets (the core reads the output a cycle after a "
     "floating-point consumer could, a transfer of 2, the tiny test, then a conditional "
     "store of 0 over the stored output, and the return)"},
    {"duck~", {{"depth", 0.5f}, {"response", 0.3f}}, Input::Drums, {64}, 10,
     "|v|, depth x v and +1e-9 (3); coef x env and the compare (2); the compare with 1 and "
     "the division (2); coef x gain + g x (1 - coef) (3, the difference hoisted)",
     15,
     "11 floating-point issues and flag transfers (|v|; the attack's vmla; coef x env, its "
     "compare, the transfer and the conditional copy; the compare with 1, its transfer and "
     "the division, needed only above 1; target x rest and the gain's vmla); 2 loads and "
     "stores (input, output, and the vmla's 1e-9 and the target's 1 set afresh, each two "
     "samples a transfer); 2 for the input guard (its bits in a core register and one "
     "compare, whose condition gates the attack's vmla); the envelope's step (vmul, vcmp, "
     "vmrs, the copy: 15 cycles) and the divider (busy 15 cycles a division) are as long",
     {}, {}},
    {"snarvel~", {{"mix", 0.5f}, {"noisegate", 0.2f}}, Input::Program, {64}, 10,
     "offset + s x 42.666 (2); the two conversions (2); coef x y + wet x c (3); (y' + dry "
     "x s) - y (3)",
     16,
     "9 floating-point issues; 5 moves and integer steps of the code; 2 loads and stores",
     {}, {}},
    {"damp~", {{"tone", 0.5f}}, Input::Program, {64}, 7,
     "low + band x f (2); (x - low) - band x 1.4 (3); band + f x high (2)", 28,
     "the recurrence through band: a vmla, a vsub, a vmls and a vmla in a row, 7 cycles "
     "each (its 6 instructions would issue in 6)",
     {"lop~", "vcf~"}, {}},
};

} // namespace

const std::vector<Row> &table() { return kTable; }

const Row &row_of(const std::string &cls) {
    for (const Row &r : kTable)
        if (cls == r.cls) return r;
    std::fprintf(stderr, "bench: the table in bench/table.cpp has no row for %s\n", cls.c_str());
    std::exit(2);
}

std::vector<std::string> built_classes() {
    std::vector<std::string> classes;
    std::istringstream list(TAVRELLE_CLASS_LIST);
    for (std::string cls; std::getline(list, cls, ',');)
        if (!cls.empty()) classes.push_back(cls);
    return classes;
}

} // namespace bench
