// A small stand-in for Pure Data: it loads a plug-in by class name the way Pd does,
// records what the class registers, creates objects zero-filled, delivers messages and
// inlet floats by Pd's rules, and runs the perform routines that "dsp" adds on buffers
// that a test owns.
#pragma once

#include <m_pd.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

// Defined when the test executable runs under AddressSanitizer.
#if defined(__SANITIZE_ADDRESS__)
#define TAVRELLE_HOST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVRELLE_HOST_ASAN 1
#endif
#endif

namespace host {

struct Method {
    t_method fn = nullptr;
    std::vector<t_atomtype> args;
};

struct ClassInfo {
    std::string name;
    t_newmethod constructor = nullptr;
    t_method destructor = nullptr;
    std::size_t size = 0;
    int flags = 0;
    std::vector<t_atomtype> creation_args;
    std::vector<std::string> selectors; // in registration order
    std::map<std::string, Method> methods;
    long mainsignalin = -1; // byte offset of the main-inlet float
    std::vector<std::string> setup_posts;
};

// Loads the plug-in named after the class (once per process, as Pd does), calls its
// setup entry and returns what it registered. Fails the calling test if it can't.
const ClassInfo &load(const std::string &class_name);

// Every class the build makes, in the order the build lists them.
std::vector<std::string> all_classes();

// The file a class loads from: $TAVRELLE_PLUGIN_DIR (or the build's stage) + the
// build's suffix (or $TAVRELLE_PLUGIN_SUFFIX).
std::string plugin_path(const std::string &class_name);

// A symbol the loaded plug-in of the class exports, or null.
void *plugin_symbol(const std::string &class_name, const char *name);

// Console lines posted since the last call.
std::vector<std::string> take_posts();

// The rate sys_getsr reports.
void set_sample_rate(float sr);

// The pattern written into output vectors before every block, so that a sample the
// perform routine leaves unwritten shows up.
constexpr std::uint32_t kUnwritten = 0x7fa5a5a5u;

// Every signal vector lies between this many guard samples on each side, holding
// kUnwritten; tick() fails the test whose perform routine changed one.
constexpr int kGuardSamples = 16;

// Every record is allocated between two guard zones of this many bytes, filled with
// kGuardByte (and poisoned under AddressSanitizer), so that a write beside the record
// is noticed when the object is freed, or earlier through Object::guards_intact().
constexpr std::size_t kGuardBytes = 64;
constexpr unsigned char kGuardByte = 0xa5;

// Counts the allocations and frees made on this thread while it exists. Object::tick()
// watches every perform routine with one: the audio loop must allocate nothing.
class AllocationWatch {
  public:
    AllocationWatch();
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch &) = delete;
    AllocationWatch &operator=(const AllocationWatch &) = delete;
    std::size_t count() const;

  private:
    std::size_t start_;
};

// The FPU's handling of subnormal numbers on this thread. Pd runs with flushing on (FTZ
// and DAZ on x86, FZ on ARM); the host, like any host built without fast-math, runs with
// it off. While a FlushToZero lives, flushing is on.
class FlushToZero {
  public:
    FlushToZero();
    ~FlushToZero();
    FlushToZero(const FlushToZero &) = delete;
    FlushToZero &operator=(const FlushToZero &) = delete;

  private:
    unsigned saved_;
};

// The sticky flags that arithmetic on subnormal numbers leaves: underflow and denormal
// operand on x86 (MXCSR), underflow and input denormal on ARM (the FPSCR's UFC and IDC).
void clear_subnormal_flags();
bool subnormal_flags_raised();

// While on, tick() fails the test whose perform routine raises one of those flags with
// flushing off.
void watch_subnormal_flags(bool on);

class Object {
  public:
    explicit Object(const std::string &class_name);
    ~Object();
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;

    const ClassInfo &info() const { return *info_; }
    t_object *get() const { return x_; }
    int signal_outlets() const;
    std::vector<std::string> inlet_selectors() const; // inlets right of the main inlet

    // A message to the left inlet. Returns false where Pd would refuse it (no method,
    // arguments that don't match, or a method only the host may call).
    bool message(const std::string &selector, std::vector<float> args = {});
    // A float at inlet k: 0 sets the main-inlet float, others deliver their selector.
    bool inlet_float(int inlet, float value);

    // Switches DSP on at rate sr and block size n (again: a DSP rebuild). With in_place
    // the input vector is also the first output vector.
    void dsp(float sr, int n, bool in_place = false) { dsp_sharing(sr, n, in_place ? 0 : -1); }
    // The same with the input vector also serving as output vector `outlet` (-1: none).
    void dsp_sharing(float sr, int n, int outlet);
    // The same rebuild inside a resampled subpatch: the signals carry signal_sr while
    // sys_getsr keeps reporting the rate it had.
    void dsp_resampled(float signal_sr, int n, bool in_place = false) {
        dsp_resampled_sharing(signal_sr, n, in_place ? 0 : -1);
    }
    void dsp_resampled_sharing(float signal_sr, int n, int outlet);
    // One block on the current vectors.
    void tick();
    float *in() { return in_.data() + kGuardSamples; }
    float *out(int outlet = 0) { return outs_[outlet]; }
    // Whether the guard samples around every signal vector are as build_dsp left them.
    bool vector_guards_intact() const;

    // Feeds the input through whole blocks of the current size; returns each outlet's
    // samples. The input is padded with zeros to whole blocks.
    std::vector<std::vector<float>> process(const std::vector<float> &input);
    std::vector<float> run(const std::vector<float> &input) { return process(input)[0]; }

    std::vector<unsigned char> record_bytes() const;
    // Whether the guard zones around the record are as pd_new left them.
    bool guards_intact() const;

    // What "dsp" added, laid out as Pd's DSP chain holds it: each perform routine followed
    // by its arguments, then a null entry. `while (*w) w = ((t_perfroutine)*w)(w);` runs
    // one block the way Pd's scheduler does, without the checks of tick().
    std::vector<t_int> pd_chain() const;

  private:
    void build_dsp(float signal_sr, int n, int outlet);

    const ClassInfo *info_;
    t_object *x_;
    int n_ = 0;
    int shared_ = -1; // the outlet whose vector is the input vector
    std::vector<float> in_;                      // the input vector between its guards
    std::vector<std::vector<float>> out_store_; // each output vector between its guards
    std::vector<float *> outs_;
    std::vector<t_int> chain_;
};

// The object's record read through a mirror of its field order, as a test declares it.
template <class R> R record_as(const Object &obj) {
    static_assert(std::is_trivially_copyable_v<R>);
    std::vector<unsigned char> bytes = obj.record_bytes();
    R r{};
    if (bytes.size() == sizeof r) std::memcpy(&r, bytes.data(), sizeof r);
    else ADD_FAILURE() << "the record is " << bytes.size() << " bytes, the mirror " << sizeof r;
    return r;
}

} // namespace host
