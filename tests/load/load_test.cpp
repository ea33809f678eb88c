// Load inside Pure Data: a patch builds 500 instances of the library's classes in a
// subpatch by dynamic patching, feeds them noise and hostile settings, runs them in batch
// mode, deletes them all, and builds and deletes them again several times while DSP runs.
// Pd must quit normally with nothing on its console but banners and "test" lines, and
// the heap in use (reported by the test-only tavrelle_memprobe object) must come back to
// the same figure after every round.
#include "host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

// A Pd patch built object by object; connections refer to the objects' indices.
class Patch {
  public:
    int add(const std::string &kind, const std::string &text) {
        int x = 10 + 150 * (count_ % 6), y = 10 + 30 * (count_ / 6);
        body_ << "#X " << kind << " " << x << " " << y << " " << text << ";\n";
        return count_++;
    }
    int obj(const std::string &text) { return add("obj", text); }
    int msg(const std::string &text) { return add("msg", text); }
    void connect(int from, int outlet, int to, int inlet) {
        wires_ << "#X connect " << from << " " << outlet << " " << to << " " << inlet << ";\n";
    }
    // A subpatch named `name`, empty: dynamic patching fills it through "pd-<name>".
    int subpatch(const std::string &name) {
        body_ << "#N canvas 0 0 600 400 " << name << " 0;\n";
        return add("restore", "pd " + name);
    }
    // Declares the library as a patcher's own patch does.
    std::string text() const {
        const std::string declare = "#X declare -path tavrelle;\n";
        return "#N canvas 0 0 900 700 12;\n" + declare + body_.str() + wires_.str();
    }

  private:
    int count_ = 0;
    std::ostringstream body_, wires_;
};

// What a message box sends to receiver `to`, as one item of a "\;"-separated list.
std::string send(const std::string &to, const std::string &what) { return " \\; " + to + " " + what; }

struct Plan {
    int instances = 500;
    std::vector<std::string> classes;
    int rounds = 4;          // the first with DSP off while building, the rest with it on
    double run_ms = 1500.0;  // how long each round runs
};

// The messages that build a round: every instance, connected to the noise and to the
// receiver of its class's settings.
std::string build_message(const Plan &p) {
    const int receivers = static_cast<int>(p.classes.size());
    std::string m;
    m += send("pd-load", "obj 10 10 noise~"); // object 0
    for (int c = 0; c < receivers; c++)       // objects 1 ... receivers
        m += send("pd-load", "obj " + std::to_string(10 + 60 * c) + " 40 r tav-set-" + p.classes[c]);
    for (int i = 0; i < p.instances; i++) {
        int index = 1 + receivers + i, c = i % receivers;
        m += send("pd-load", "obj " + std::to_string(10 + 30 * (i % 25)) + " " +
                                 std::to_string(80 + 20 * (i / 25)) + " " + p.classes[c]);
        m += send("pd-load", "connect 0 0 " + std::to_string(index) + " 0");
        m += send("pd-load", "connect " + std::to_string(1 + c) + " 0 " + std::to_string(index) + " 0");
    }
    return m;
}

// Each class's own selectors, with values out of range on either side.
std::string settings_message(const Plan &p, const std::vector<std::string> &values) {
    std::string m;
    for (const std::string &cls : p.classes)
        for (const std::string &sel : host::load(cls).selectors) {
            if (sel == "dsp" || sel == "test") continue;
            for (const std::string &v : values) m += send("tav-set-" + cls, sel + " " + v);
        }
    return m;
}

std::string patch_for(const Plan &p) {
    Patch patch;
    int start = patch.obj("loadbang");
    patch.subpatch("load");
    int probe_in = patch.obj("r tav-probe");
    patch.connect(probe_in, 0, patch.obj("tavrelle_memprobe"), 0);

    // Every step is a delay from the start followed by a message box.
    auto step = [&](double at_ms, const std::string &message) {
        int d = patch.obj("delay " + std::to_string(at_ms));
        int m = patch.msg(message);
        patch.connect(start, 0, d, 0);
        patch.connect(d, 0, m, 0);
    };
    const std::string build = build_message(p);
    double t = 0.0;
    step(t, send("tav-probe", "start"));
    for (int r = 0; r < p.rounds; r++) {
        const std::string n = std::to_string(r);
        bool dsp_first = r > 0; // round 0 builds with DSP off, the others while it runs
        step(t += 10, (dsp_first ? send("pd", "dsp 1") : "") + build + send("pd", "dsp 1") +
                          send("tav-probe", "built" + n));
        step(t += p.run_ms / 3, settings_message(p, {"-1e+30", "0.25", "7"}));
        step(t += p.run_ms / 3, settings_message(p, {"1e+30", "-0", "1"}) +
                                    send("tav-set-" + p.classes[0], "test"));
        step(t += p.run_ms / 3, send("tav-probe", "ran" + n) + (dsp_first ? "" : send("pd", "dsp 0")) +
                                    send("pd-load", "clear") + send("tav-probe", "cleared" + n));
    }
    step(t += 10, send("pd", "dsp 0") + send("tav-probe", "end") + send("pd", "quit"));
    return patch.text();
}

struct PdRun {
    int status = -1;
    std::vector<std::string> console;
    std::map<std::string, long> heap; // memprobe label -> bytes in use
    std::vector<std::string> memcheck; // valgrind's report, when it ran under valgrind
};

PdRun run_pd(const Plan &plan, const std::string &name, const std::string &wrapper = "") {
    fs::path dir = fs::temp_directory_path() / ("tavrelle-load-" + std::to_string(getpid())) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "load.pd") << patch_for(plan);
    // Opened as a patcher opens it: no -path, the library installed (linked) where Pd looks
    // by default under a scratch HOME.
    fs::path plugins = fs::path(host::plugin_path(plan.classes[0])).parent_path();
    fs::create_directories(dir / "home/.local/lib/pd/extra");
    fs::create_directory_symlink(fs::absolute(plugins), dir / "home/.local/lib/pd/extra/tavrelle");
    // The test-only heap probe beside it, found there without a declaration.
    for (const auto &probe : fs::directory_iterator(TAVRELLE_MEMPROBE_DIR))
        fs::create_symlink(probe.path(), dir / "home/.local/lib/pd/extra" / probe.path().filename());
    std::string cmd = "cd '" + dir.string() + "' && HOME='" + (dir / "home").string() +
                      "' timeout 900 " + wrapper +
                      " pd -nogui -noaudio -batch -nrt -noprefs -stderr -r 48000 -open load.pd" +
                      " > console.txt 2>&1";
    int status = std::system(cmd.c_str());
    PdRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream console(dir / "console.txt");
    for (std::string line; std::getline(console, line);) {
        run.console.push_back(line);
        std::istringstream words(line);
        std::string first, label;
        long bytes;
        if (words >> first >> label >> bytes && first == "memprobe") run.heap[label] = bytes;
    }
    if (!wrapper.empty()) {
        std::ifstream report(dir / "memcheck.txt");
        for (std::string line; std::getline(report, line);) run.memcheck.push_back(line);
    }
    if (run.status == 0 && !testing::Test::HasFailure()) fs::remove_all(dir);
    return run;
}

// Banners, "test" lines and the probe's own lines are expected; anything else is not.
void expect_quiet_console(const PdRun &run) {
    for (const std::string &line : run.console) {
        bool expected = line.starts_with("memprobe ") || line.find("by Tavrelle") != std::string::npos ||
                        line.find("is based on") != std::string::npos || line.starts_with("feedback is ") ||
                        line.starts_with("damp is ") || line.starts_with("attenuator is ");
        EXPECT_TRUE(expected) << "Pd said: " << line;
    }
}

Plan full_plan() {
    Plan p;
    p.classes = host::all_classes();
    return p;
}

TEST(LoadInPd, FiveHundredInstancesBuiltRunDeletedAndRebuiltWhileDspRuns) {
    Plan plan = full_plan();
    PdRun run = run_pd(plan, "full");
    EXPECT_EQ(run.status, 0) << "pd did not quit normally";
    expect_quiet_console(run);
    ASSERT_TRUE(run.heap.count("end")) << "the patch did not reach its end";
    for (int r = 0; r < plan.rounds; r++) {
        std::string n = std::to_string(r);
        ASSERT_TRUE(run.heap.count("built" + n) && run.heap.count("cleared" + n)) << "round " << n;
        // 500 records of up to 45 kB each: the rounds must really hold them.
        EXPECT_GT(run.heap["built" + n] - run.heap["cleared" + n], 500L * 100) << "round " << n;
    }
    // After the first round has made Pd's lasting tables (symbols, loaded classes), every
    // round gives back exactly what it took.
    EXPECT_EQ(run.heap["cleared2"], run.heap["cleared1"]);
    EXPECT_EQ(run.heap["cleared3"], run.heap["cleared1"]);
    std::printf("heap in use: start %ld, built %ld, after each round %ld %ld %ld %ld, end %ld\n",
                run.heap["start"], run.heap["built0"], run.heap["cleared0"], run.heap["cleared1"],
                run.heap["cleared2"], run.heap["cleared3"], run.heap["end"]);
}

bool report_has(const PdRun &run, const std::string &part) {
    for (const std::string &line : run.memcheck)
        if (line.find(part) != std::string::npos) return true;
    return false;
}

// The same patch in valgrind's memcheck, which sees every read and write of the
// plug-ins inside the real Pd and every block Pd still holds at exit. About a minute;
// `make load` runs it (TAVRELLE_LOAD_VALGRIND=1).
TEST(LoadInPd, UnderMemcheckNoInvalidAccessAndNothingLost) {
    if (!std::getenv("TAVRELLE_LOAD_VALGRIND")) GTEST_SKIP() << "set TAVRELLE_LOAD_VALGRIND=1 (make load)";
    PdRun run = run_pd(full_plan(), "memcheck",
                       "valgrind --tool=memcheck --error-exitcode=99 --leak-check=full "
                       "--errors-for-leak-kinds=definite,indirect --log-file=memcheck.txt");
    EXPECT_EQ(run.status, 0) << "pd or memcheck failed (99: memcheck found errors)";
    expect_quiet_console(run);
    EXPECT_TRUE(run.heap.count("end")) << "the patch did not reach its end";
    EXPECT_TRUE(report_has(run, "ERROR SUMMARY: 0 errors"));
    EXPECT_TRUE(report_has(run, "definitely lost: 0 bytes") || report_has(run, "All heap blocks were freed"));
    EXPECT_TRUE(report_has(run, "indirectly lost: 0 bytes") || report_has(run, "All heap blocks were freed"));
    for (const std::string &line : run.memcheck)
        if (line.find("ERROR SUMMARY") != std::string::npos || line.find("lost:") != std::string::npos)
            std::printf("%s\n", line.c_str());
}

} // namespace
