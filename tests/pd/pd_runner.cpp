#include "pd_runner.h"

#include "host.h"
#include "tavrelle.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace pdtest {
namespace {

std::string fmt(float v) {
    char s[64];
    std::snprintf(s, sizeof s, "%.9g", v);
    return s;
}

// The double-precision Pd reads its input as doubles that lie a quarter of a float step
// above each float, which the classes must narrow back to the float; it writes its
// output as doubles, which must be floats widened.
void write_wav(const fs::path &path, const std::vector<float> &samples, float sr) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(sr);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | (pd_floatsize() == 64 ? SF_FORMAT_DOUBLE : SF_FORMAT_FLOAT);
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_command(f, SFC_SET_NORM_DOUBLE, nullptr, SF_FALSE);
    std::vector<double> wide;
    for (float v : samples) {
        const double above = std::nextafter(v, std::numeric_limits<float>::infinity());
        wide.push_back(pd_floatsize() == 64 && std::isfinite(above) && v != 0.0f ? v + (above - v) / 4 : v);
    }
    sf_writef_double(f, wide.data(), static_cast<sf_count_t>(wide.size()));
    sf_close(f);
}

std::vector<std::vector<double>> read_wav(const fs::path &path) {
    SF_INFO info{};
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    sf_command(f, SFC_SET_NORM_DOUBLE, nullptr, SF_FALSE);
    std::vector<double> frames(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_double(f, frames.data(), info.frames);
    sf_close(f);
    std::vector<std::vector<double>> channels(info.channels);
    for (sf_count_t i = 0; i < info.frames; i++)
        for (int c = 0; c < info.channels; c++) channels[c].push_back(frames[i * info.channels + c]);
    return channels;
}

std::string settings_message(const Case &c) {
    std::string m;
    for (const Setting &s : c.settings) {
        m += " \\; " + (s.inlet == 0 ? std::string("tav-msg") : "tav-in" + std::to_string(s.inlet));
        if (!s.selector.empty()) m += " " + s.selector;
        for (float a : s.args) m += " " + fmt(a);
    }
    return m;
}

} // namespace

std::string patch_text(const Case &c) {
    const int frames = static_cast<int>(c.input.size());
    // Time enough for every frame to be recorded, plus a few blocks.
    const double ms = 1000.0 * (frames + 4 * std::max(c.block, 64)) / c.sample_rate;
    int inlets = 0;
    for (const Setting &s : c.settings) inlets = std::max(inlets, s.inlet);

    std::ostringstream p;
    p << "#N canvas 0 0 900 600 12;\n"
      << "#X declare -path tavrelle;\n"                       // the library
      << "#X obj 20 20 loadbang;\n"                            // 0
      << "#X obj 20 50 t b b b;\n"                             // 1
      << "#X msg 20 80 \\; pd dsp 1;\n"                        // 2
      << "#X obj 120 80 delay " << fmt(static_cast<float>(ms)) << ";\n" // 3
      << "#X obj 120 110 t b b;\n"                             // 4
      << "#X msg 220 140 write -bytes " << pd_floatsize() / 8 << " out.wav";              // 5
    for (int k = 0; k < c.outlets; k++) p << " out" << k;
    p << ";\n"
      << "#X obj 220 170 soundfiler;\n"                        // 6
      << "#X msg 120 200 \\; pd quit;\n"                       // 7
      << "#X msg 400 80 read -resize in.wav in;\n"             // 8
      << "#X obj 400 110 soundfiler;\n"                        // 9
      << "#X msg 300 80 \\; tav-start bang" << settings_message(c) << ";\n" // 10
      << "#X obj 20 260 table in;\n";                          // 11
    for (int k = 0; k < c.outlets; k++)
        p << "#X obj 20 " << 290 + 30 * k << " table out" << k << " " << frames << ";\n"; // 12..
    // The class inside a subpatch with its own block size.
    p << "#N canvas 0 0 600 400 chain 0;\n"
      << "#X obj 20 20 block~ " << c.block;                    // 0
    if (c.upsample != 1) p << " 1 " << c.upsample;
    p << ";\n"
      << "#X obj 20 50 r tav-start;\n"                         // 1
      << "#X obj 20 80 tabplay~ in;\n"                         // 2
      << "#X obj 20 140 " << c.cls << ";\n"                    // 3
      << "#X obj 200 50 r tav-msg;\n";                         // 4
    for (int k = 1; k <= inlets; k++)
        p << "#X obj " << 200 + 100 * k << " 80 r tav-in" << k << ";\n"; // 5 ...
    const int first_writer = 5 + inlets;
    for (int k = 0; k < c.outlets; k++)
        p << "#X obj " << 20 + 150 * k << " 200 tabwrite~ out" << k << ";\n";
    if (c.channels > 1) {
        const int snake = first_writer + c.outlets;
        p << "#X obj 20 110 snake~ in " << c.channels << ";\n";
        for (int k = 0; k < c.channels; k++) p << "#X connect 2 0 " << snake << " " << k << ";\n";
        p << "#X connect " << snake << " 0 3 0;\n";
    } else {
        p << "#X connect 2 0 3 0;\n";
    }
    p << "#X connect 1 0 2 0;\n#X connect 4 0 3 0;\n";
    for (int k = 1; k <= inlets; k++) p << "#X connect " << 4 + k << " 0 3 " << k << ";\n";
    for (int k = 0; k < c.outlets; k++) {
        p << "#X connect 3 " << k << " " << first_writer + k << " 0;\n";
        p << "#X connect 1 0 " << first_writer + k << " 0;\n";
    }
    p << "#X restore 20 " << 290 + 30 * c.outlets << " pd chain;\n"
      << "#X connect 0 0 1 0;\n#X connect 1 0 2 0;\n#X connect 1 0 3 0;\n"
      << "#X connect 1 1 10 0;\n#X connect 1 2 8 0;\n#X connect 8 0 9 0;\n"
      << "#X connect 3 0 4 0;\n#X connect 4 0 7 0;\n#X connect 4 1 5 0;\n#X connect 5 0 6 0;\n";
    return p.str();
}

Run run_in_pd(const Case &c) {
    Run run;
    const testing::TestInfo *t = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = t ? std::string(t->test_suite_name()) + "." + t->name() : "case";
    for (char &ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    fs::path dir = fs::temp_directory_path() / ("tavrelle-pd-" + std::to_string(getpid())) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    write_wav(dir / "in.wav", c.input, c.sample_rate);
    std::ofstream(dir / "case.pd") << patch_text(c);

    // Opened as a patcher opens it: from its own folder, Pd's default settings, no -path;
    // the plug-in folder is installed (linked) where Pd looks by default, under a scratch
    // HOME, and the patch declares it.
    const char *pd = std::getenv("TAVRELLE_PD");
    fs::path plugins = fs::path(host::plugin_path(c.cls)).parent_path();
    fs::path extra = dir / "home/.local/lib/pd/extra";
    fs::create_directories(extra);
    fs::create_directory_symlink(fs::absolute(plugins), extra / "tavrelle");
    std::string cmd =
        "cd '" + dir.string() + "' && HOME='" + (dir / "home").string() + "' timeout 120 " +
        (pd ? pd : TAVRELLE_PD_COMMAND) + " -nogui -noaudio -batch -noprefs -stderr -r " +
        std::to_string(static_cast<int>(c.sample_rate)) + " -open case.pd > console.txt 2>&1";
    int status = std::system(cmd.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

    std::ifstream console(dir / "console.txt");
    run.created = true;
    for (std::string line; std::getline(console, line);) {
        run.console.push_back(line);
        if (line.find("couldn't create") != std::string::npos) run.created = false;
        if (line.rfind("error:", 0) == 0) run.errors = true;
    }
    run.wide = read_wav(dir / "out.wav");
    for (auto &channel : run.wide) run.out.emplace_back(channel.begin(), channel.end());
    if (pd_floatsize() == 32) run.wide.clear();
    if (run.status == 0 && run.created && !run.errors && !testing::Test::HasFailure()) {
        std::error_code ignored; // the per-process folder goes once it is empty
        fs::remove_all(dir, ignored);
        fs::remove(dir.parent_path(), ignored);
    }
    return run;
}

int pd_floatsize() {
    const char *size = std::getenv("TAVRELLE_PD_FLOATSIZE");
    return size && std::string(size) == "64" ? 64 : 32;
}

std::vector<std::vector<float>> run_in_host(const Case &c) {
    host::Object obj(c.cls);
    host::set_sample_rate(c.sample_rate); // what settings that read the rate see in Pd
    for (const Setting &s : c.settings) {
        if (s.inlet == 0) obj.message(s.selector, s.args);
        else obj.inlet_float(s.inlet, s.args.at(0));
    }
    if (c.upsample == 1) obj.dsp(c.sample_rate, c.block);
    else obj.dsp_resampled(c.sample_rate * static_cast<float>(c.upsample), c.block);
    auto out = obj.process(c.input);
    // In the double-precision Pd, only zeros, infinities and NaNs are a double's tiny or
    // huge values. Pd 0.53 on 64-bit ARM has no such test and stores every value.
    const bool keeps_all = std::getenv("TAVRELLE_PD_KEEPS_TINY_AND_HUGE") != nullptr;
    for (auto &channel : out) {
        channel.resize(c.input.size());
        for (float &v : channel)
            if (keeps_all) continue;
            else if (pd_floatsize() == 32 ? tav::is_tiny_or_huge(v) : v == 0.0f || !std::isfinite(v)) v = 0.0f;
    }
    return out;
}

} // namespace pdtest

namespace pdtest {

bool console_has(const Run &run, const std::string &line) {
    return std::find(run.console.begin(), run.console.end(), line) != run.console.end();
}

void expect_same_as_host(const Case &c, const Run &run, const std::string &allowed_error) {
    auto console = [&] {
        std::string all;
        for (auto &l : run.console) all += "\n  " + l;
        return all;
    };
    EXPECT_EQ(run.status, 0) << "pd did not quit normally:" << console();
    EXPECT_TRUE(run.created) << console();
    for (auto &l : run.console)
        if (l.rfind("error:", 0) == 0 && l != allowed_error) ADD_FAILURE() << "Pd said " << l;
    auto want = run_in_host(c);
    ASSERT_EQ(run.out.size(), want.size()) << "outlets recorded" << console();
    for (std::size_t k = 0; k < want.size(); k++) {
        ASSERT_EQ(run.out[k].size(), want[k].size()) << "outlet " << k;
        // Bit for bit, but for the NaN a machine makes: negative on x86, positive on ARM.
        auto same = [](float a, float b) {
            return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b) || (a != a && b != b);
        };
        std::size_t i = 0;
        while (i < want[k].size() && same(run.out[k][i], want[k][i])) i++;
        EXPECT_EQ(i, want[k].size()) << c.cls << " outlet " << k << " differs first at sample " << i
                                     << ": pd " << run.out[k][i] << ", host " << want[k][i];
        if (pd_floatsize() == 64) { // every double written is a float widened
            ASSERT_EQ(run.wide.size(), want.size());
            i = 0;
            while (i < want[k].size() && (run.wide[k][i] == static_cast<double>(want[k][i]) ||
                                          (want[k][i] != want[k][i] && run.wide[k][i] != run.wide[k][i])))
                i++;
            EXPECT_EQ(i, want[k].size()) << c.cls << " outlet " << k << " is not the float widened at sample "
                                         << i << ": pd " << run.wide[k][i];
        }
    }
}

} // namespace pdtest
