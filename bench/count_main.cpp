// tavrelle_count <class> <block> <blocks>
// tavrelle_count --table: the benchmark's rows of the built classes, as JSON.
// tavrelle_count --denormals <class> <rate> <block> <seconds>: one second of full-scale
//   noise, then silence for the given time, at that rate and block size, with the FPU's
//   flushing off; prints whether any of it raised a subnormal flag (x86: underflow or
//   denormal operand; ARM: the FPSCR's UFC or IDC).
// Runs one object of the class for a second of its input to warm it, then for <blocks>
// more blocks, for instruction counters to watch: under callgrind only the second part
// is instrumented (run with --instr-atstart=no); under qemu-arm with an instruction
// counting plug-in the caller takes the difference of two runs. Prints where the plug-in
// and its perform routine were loaded.
#include "driver.h"
#include "signals.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#endif

namespace {

void print_table() {
    auto list = [](const auto &items, auto item) {
        std::string s;
        for (const auto &i : items) s += (s.empty() ? "" : ", ") + item(i);
        return "[" + s + "]";
    };
    auto quoted = [](const std::string &s) { return "\"" + s + "\""; };
    std::string rows;
    for (const std::string &cls : bench::built_classes()) {
        const bench::Row &r = bench::row_of(cls);
        rows += rows.empty() ? "[\n" : ",\n";
        rows += "{\"class\": " + quoted(r.cls) + ", \"settings\": " +
                list(r.settings, [&](const bench::Setting &s) {
                    return "[" + quoted(s.selector) + ", " + std::to_string(s.value) + "]";
                }) +
                ", \"blocks\": " + list(r.blocks, [](int n) { return std::to_string(n); }) +
                ", \"fp_ops\": " + std::to_string(r.fp_ops) + ", \"fp_ops_why\": " +
                quoted(r.fp_ops_why) + ", \"arm_floor\": " + std::to_string(r.arm_floor) +
                ", \"arm_floor_why\": " + quoted(r.arm_floor_why) +
                ", \"arm_floor_one\": " + std::to_string(r.arm_floor_one) +
                ", \"arm_floor_one_why\": " + quoted(r.arm_floor_one_why) +
                ", \"vanilla\": " + list(r.vanilla, quoted) +
                ", \"delays\": " + list(r.delays, [](int n) { return std::to_string(n); }) + "}";
    }
    std::printf("%s\n]\n", rows.empty() ? "[" : rows.c_str());
}

// The whole road from loud input to settled silence, the flags cleared before it.
int denormals(const char *cls, float rate, int n, double seconds) {
    bench::Driver d(bench::row_of(cls), n, rate);
    std::vector<float> loud = sig::noise(static_cast<int>(rate) / n * n + n, 1.0f, 99u);
    const std::vector<float> zeros(n, 0.0f);
    const long blocks = static_cast<long>(seconds * rate / n) + 1;
    host::clear_subnormal_flags();
    d.play(loud);
    for (long b = 0; b < blocks; b++) d.block(zeros.data());
    std::printf("subnormal_flags %d\n", host::subnormal_flags_raised() ? 1 : 0);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 6 && std::string(argv[1]) == "--denormals")
        return denormals(argv[2], static_cast<float>(std::atof(argv[3])), std::atoi(argv[4]), std::atof(argv[5]));
    if (argc == 2 && std::string(argv[1]) == "--table") {
        print_table();
        return 0;
    }
    if (argc != 4) {
        std::fprintf(stderr, "usage: tavrelle_count <class> <block> <blocks>\n");
        return 2;
    }
    const bench::Row &row = bench::row_of(argv[1]);
    const int n = std::atoi(argv[2]);
    const long blocks = std::atol(argv[3]);
    bench::Driver d(row, n);
    const std::vector<float> input = bench::material(row.input, 1.0);
    d.play(input);

    CALLGRIND_START_INSTRUMENTATION;
    std::size_t at = 0;
    for (long b = 0; b < blocks; b++) {
        d.block(input.data() + at);
        at += n;
        if (at == input.size()) at = 0;
    }
    CALLGRIND_STOP_INSTRUMENTATION;

    Dl_info where{};
    dladdr(reinterpret_cast<void *>(d.perform()), &where);
    std::printf("plugin %s base %p perform %p samples %ld\n", where.dli_fname, where.dli_fbase,
                reinterpret_cast<void *>(d.perform()), blocks * n);
    return 0;
}
