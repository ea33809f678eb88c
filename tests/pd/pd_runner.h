// Runs one case inside Pure Data itself: a generated patch plays a 32-bit float WAV
// through the class (inside a subpatch with its own block size), records every outlet
// with tabwrite~ and writes them as a WAV. The same case runs through the test host, so
// the two outputs can be compared bit for bit.
#pragma once

#include <string>
#include <vector>

namespace pdtest {

// A setting sent before DSP starts: a message to the left inlet (inlet 0, selector and
// arguments) or a float at inlet k > 0 (selector empty, one argument).
struct Setting {
    int inlet = 0;
    std::string selector;
    std::vector<float> args;
};

struct Case {
    Case(std::string cls, std::vector<float> input, std::vector<Setting> settings = {})
        : cls(std::move(cls)), input(std::move(input)), settings(std::move(settings)) {}
    std::string cls;
    std::vector<float> input;
    std::vector<Setting> settings;
    int block = 64;
    float sample_rate = 44100.0f;
    // Above 1, the subpatch runs at this multiple of Pd's rate (block~ upsampling): its
    // signals carry the higher rate while sys_getsr still reports Pd's.
    int upsample = 1;
    int outlets = 1;
    // Above 1, the input reaches the class as a multichannel signal of this many channels
    // (snake~, Pd 0.54 and later).
    int channels = 1;
};

struct Run {
    int status = -1;                   // exit status of pd (0 after "pd quit")
    std::vector<std::string> console;  // Pd's console lines
    std::vector<std::vector<float>> out; // one vector per outlet
    std::vector<std::vector<double>> wide; // the same as the double-precision Pd wrote them
    bool created = false;              // no "couldn't create" on the console
    bool errors = false;               // an "error:" line on the console
};

// The patch text for a case that records `frames` samples.
std::string patch_text(const Case &c);

// Runs the case in Pure Data ($TAVRELLE_PD, default the build's TAVRELLE_PD_COMMAND; may
// start with an emulator command) with the plug-ins from the host's plug-in folder.
// $TAVRELLE_PD_FLOATSIZE=64 says that it is the double-precision Pd, and
// $TAVRELLE_PD_KEEPS_TINY_AND_HUGE that its tabwrite~ stores tiny and huge values as they are.
Run run_in_pd(const Case &c);

int pd_floatsize(); // 32 or 64

// The same case through the test host, with the values tabwrite~ would store (tiny and
// huge samples become 0).
std::vector<std::vector<float>> run_in_host(const Case &c);

} // namespace pdtest

namespace pdtest {

// The case ran cleanly in Pd (created, quit normally, nothing on the console marked as an
// error unless `allowed_error` names it) and every outlet equals the host's bit for bit.
void expect_same_as_host(const Case &c, const Run &run, const std::string &allowed_error = "");

bool console_has(const Run &run, const std::string &line);

} // namespace pdtest
