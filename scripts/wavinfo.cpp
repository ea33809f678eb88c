// wavinfo FILE...: one line per sound file with its length, peak and RMS, and whether
// every sample is finite. Exits non-zero for a silent or non-finite file.
// wavinfo --rate FILE: prints the file's sample rate alone.
// wavinfo --convert IN OUT: writes any sound file libsndfile reads (WAV, AIFF, FLAC, Ogg,
// MP3, ...) as a 32-bit float WAV with the same rate and channels, for Pd to read.
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
    if (argc == 4 && std::string(argv[1]) == "--convert") {
        SF_INFO info{};
        SNDFILE *in = sf_open(argv[2], SFM_READ, &info);
        if (!in) {
            std::fprintf(stderr, "%s: cannot read (%s)\n", argv[2], sf_strerror(nullptr));
            return 1;
        }
        SF_INFO out_info{};
        out_info.samplerate = info.samplerate;
        out_info.channels = info.channels;
        out_info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE *out = sf_open(argv[3], SFM_WRITE, &out_info);
        if (!out) {
            std::fprintf(stderr, "%s: cannot write (%s)\n", argv[3], sf_strerror(nullptr));
            sf_close(in);
            return 1;
        }
        std::vector<float> block(static_cast<std::size_t>(4096 * info.channels));
        sf_count_t frames = 0, n;
        while ((n = sf_readf_float(in, block.data(), 4096)) > 0)
            frames += sf_writef_float(out, block.data(), n);
        sf_close(in);
        sf_close(out);
        if (frames == 0) {
            std::fprintf(stderr, "%s: no sound in it\n", argv[2]);
            return 1;
        }
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
