// wavinfo FILE...: one line per sound file with its length, peak and RMS, and whether
// every sample is finite. Exits non-zero for a silent or non-finite file.
// wavinfo --rate FILE: prints the file's sample rate alone.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    if (argc == 3 && std::string(argv[1]) == "--rate") {
        SF_INFO info{};
        SNDFILE *f = sf_open(argv[2], SFM_READ, &info);
        if (!f) {
            std::fprintf(stderr, "%s: cannot read (%s)\n", argv[2], sf_strerror(nullptr));
            return 1;
        }
        sf_close(f);
        std::printf("%d\n", info.samplerate);
        return 0;
    }
    int status = 0;
    for (int a = 1; a < argc; a++) {
        SF_INFO info{};
        SNDFILE *f = sf_open(argv[a], SFM_READ, &info);
        if (!f) {
            std::printf("%s: cannot read (%s)\n", argv[a], sf_strerror(nullptr));
            status = 1;
            continue;
        }
        sf_command(f, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
        std::vector<float> v(static_cast<std::size_t>(info.frames * info.channels));
        sf_readf_float(f, v.data(), info.frames);
        sf_close(f);
        double peak = 0, sum = 0;
        bool finite = true;
        for (float s : v) {
            finite = finite && std::isfinite(s);
            peak = std::fmax(peak, std::fabs(s));
            sum += double(s) * s;
        }
        double rms = v.empty() ? 0 : std::sqrt(sum / v.size());
        std::printf("%-28s %6.2f s  %d ch  peak %.4f (%6.1f dBFS)  rms %.4f (%6.1f dBFS)%s\n", argv[a],
                    double(info.frames) / info.samplerate, info.channels, peak,
                    20 * std::log10(peak + 1e-30), rms, 20 * std::log10(rms + 1e-30),
                    finite ? "" : "  NOT FINITE");
        if (!finite || peak == 0) status = 1;
    }
    return status;
}
