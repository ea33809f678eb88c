// A libpd host that runs a patch as `pd -batch -open` does, for the self-test runner:
//   libpd_host [-ftz] [-path DIR]... [Pd's flags] -open PATCH
// Pd's console goes to stdout, line by line. -path adds DIR to libpd's search path; built
// with TAVRELLE_STATIC it registers the classes with tavrelle_setup() instead, from the
// static library. The processor's flushing is left as libpd leaves it (which the host
// reports, from MXCSR on x86) unless -ftz sets flush-to-zero and denormals-are-zero.
// Blocks run through libpd_process_float until the patch quits Pd or prints its
// verdict.
#include <z_libpd.h>
#include <z_print_util.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

#ifdef TAVRELLE_STATIC
extern "C" void tavrelle_setup(void);
#endif

namespace {
bool finished = false;

void console(const char *line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
    if (std::strncmp(line, "tavrelle self-test: ", 20) == 0)
        finished = true;
}

// The flush-to-zero (bit 15) and denormals-are-zero (bit 6) flags of MXCSR.
std::string flushing() {
#if defined(__SSE__) || defined(__x86_64__)
    unsigned csr = _mm_getcsr();
    char text[96];
    std::snprintf(text, sizeof text, "MXCSR 0x%04x, flush-to-zero %s, denormals-are-zero %s", csr,
                  csr & 0x8000 ? "on" : "off", csr & 0x0040 ? "on" : "off");
    return text;
#else
    return "no MXCSR on this machine";
#endif
}
} // namespace

int main(int argc, char **argv) {
    const char *patch = nullptr;
    std::vector<const char *> paths;
    bool ftz = false;
    for (int i = 1; i < argc; i++) {
        if (!std::strcmp(argv[i], "-open") && i + 1 < argc)
            patch = argv[++i];
        else if (!std::strcmp(argv[i], "-path") && i + 1 < argc)
            paths.push_back(argv[++i]);
        else if (!std::strcmp(argv[i], "-ftz"))
            ftz = true;
    }
    if (!patch) {
        std::fprintf(stderr, "usage: libpd_host [-ftz] [-path DIR]... -open PATCH\n");
        return 2;
    }
    const std::string before = flushing();
    libpd_set_concatenated_printhook(console);
    libpd_set_printhook(libpd_print_concatenator);
    libpd_init();
    std::printf("libpd host: %s before libpd_init, %s after it\n", before.c_str(),
                flushing().c_str());
#ifdef TAVRELLE_STATIC
    tavrelle_setup();
#endif
    for (const char *path : paths)
        libpd_add_to_search_path(path);
#if defined(__SSE__) || defined(__x86_64__)
    if (ftz)
        _mm_setcsr(_mm_getcsr() | 0x8040);
#endif
    constexpr int kOutputs = 2, kTicks = 16;
    libpd_init_audio(0, kOutputs, 44100);
    libpd_start_message(1);
    libpd_add_float(1);
    libpd_finish_message("pd", "dsp");
    std::string file = patch, dir = ".";
    if (auto slash = file.rfind('/'); slash != std::string::npos) {
        dir = file.substr(0, slash);
        file = file.substr(slash + 1);
    }
    if (!libpd_openfile(file.c_str(), dir.c_str())) {
        std::printf("libpd host: cannot open %s\n", patch);
        return 1;
    }
    std::vector<float> out(kOutputs * kTicks * libpd_blocksize());
    // At most an hour of Pd's logical time.
    for (long tick = 0; !finished && tick < 3600L * 44100 / 64; tick += kTicks) {
        libpd_process_float(kTicks, nullptr, out.data());
        if (tick == 0)
            std::printf("libpd host: %s while processing\n", flushing().c_str());
    }
    return finished ? 0 : 1;
}
