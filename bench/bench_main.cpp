// Times every built class with Google Benchmark, through the test host, as Pd runs it:
//   <class>/block:<n>  one block per iteration on warm state and the row's input;
//   <class>/loud, <class>/decay  one second of loud noise (not timed), then a timed
//       stretch of more loud noise, or of silence while the state decays. Both report
//       thread CPU time per sample and whether any floating-point operation in the
//       stretch raised the underflow or (x86) the denormal-operand flag.
// Extra flag: --decay_seconds=S, the timed stretch (default 20 s of audio: long enough
// for an unguarded comb bank at feedback 0.84 to decay from full scale into the
// subnormal range).
#include "driver.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>

namespace {

using bench::Driver;
using bench::Row;

double thread_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

void steady(benchmark::State &state, const Row &row, int n) {
    Driver d(row, n);
    const std::vector<float> input = bench::material(row.input, 1.0);
    d.play(input); // warm: the lines and states hold signal
    d.play(input);
    std::size_t at = 0;
    for (auto _ : state) {
        d.block(input.data() + at);
        at += n;
        if (at == input.size()) at = 0;
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["block"] = n;
}

void decay(benchmark::State &state, const Row &row, bool silent, double seconds) {
    constexpr int n = 64;
    Driver d(row, n);
    const std::vector<float> excite = bench::loud(1.0);
    const std::vector<float> zeros(n, 0.0f);
    const std::size_t blocks = static_cast<std::size_t>(seconds * bench::kRate / n) + 1;
    bool flagged = false;
    for (auto _ : state) {
        d.play(excite);
        std::size_t at = 0;
        host::clear_subnormal_flags();
        double t0 = thread_seconds();
        for (std::size_t b = 0; b < blocks; b++) {
            d.block(silent ? zeros.data() : excite.data() + at);
            at += n;
            if (at == excite.size()) at = 0;
        }
        double t = thread_seconds() - t0;
        flagged = flagged || host::subnormal_flags_raised();
        state.SetIterationTime(t);
    }
    state.SetItemsProcessed(state.iterations() * blocks * n);
    state.counters["samples"] = static_cast<double>(blocks * n);
    state.counters["subnormal_flags"] = flagged ? 1 : 0;
}

double take_decay_seconds(int &argc, char **argv) {
    double seconds = 20.0;
    const char *flag = "--decay_seconds=";
    int out = 1;
    for (int i = 1; i < argc; i++) {
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0)
            seconds = std::atof(argv[i] + std::strlen(flag));
        else argv[out++] = argv[i];
    }
    argc = out;
    return seconds;
}

} // namespace

int main(int argc, char **argv) {
    const double seconds = take_decay_seconds(argc, argv);
    benchmark::Initialize(&argc, argv);
    for (const std::string &cls : bench::built_classes()) {
        const Row &row = bench::row_of(cls);
        for (int n : row.blocks)
            benchmark::RegisterBenchmark((cls + "/block:" + std::to_string(n)).c_str(), steady, row, n);
        for (bool silent : {false, true})
            benchmark::RegisterBenchmark((cls + (silent ? "/decay" : "/loud")).c_str(), decay, row,
                                         silent, seconds)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
