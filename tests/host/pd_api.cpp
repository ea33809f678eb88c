// The part of Pd's API that the classes call, implemented for the test host. The test
// executable exports these symbols, so a plug-in loaded with dlopen binds to them.
#include "host.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#define ASAN_POISON_MEMORY_REGION(at, n) ((void)(at), (void)(n))
#define ASAN_UNPOISON_MEMORY_REGION(at, n) ((void)(at), (void)(n))
#else
#include <dlfcn.h>
#include <sanitizer/asan_interface.h>
#endif

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <sstream>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

struct _class {
    host::ClassInfo info;
};
struct _inlet {
    t_symbol *selector;
};
struct _outlet {
    t_symbol *type;
};

namespace {

struct ObjectPorts {
    std::vector<std::unique_ptr<_inlet>> inlets;
    std::vector<std::unique_ptr<_outlet>> outlets;
};

float g_sample_rate = 44100.0f;
std::vector<std::string> g_posts;
std::map<std::string, std::unique_ptr<_class>> g_classes;
std::map<t_object *, ObjectPorts> g_ports;
std::vector<t_int> *g_chain = nullptr; // where dsp_add appends while a "dsp" call runs
bool g_watch_subnormals = false;

#if defined(__x86_64__) || defined(__i386__)
constexpr unsigned kFlushBits = 0x8040u;        // FTZ and DAZ
constexpr unsigned kSubnormalFlags = 0x12u;     // underflow, denormal operand
unsigned fpu_control() { return _mm_getcsr(); }
void set_fpu_control(unsigned v) { _mm_setcsr(v); }
#elif defined(__arm__) || defined(__aarch64__)
constexpr unsigned kFlushBits = 1u << 24;       // FZ
constexpr unsigned kSubnormalFlags = 0x88u;     // IDC, UFC
#if defined(__arm__)
unsigned fpu_control() { unsigned v; asm volatile("vmrs %0, fpscr" : "=r"(v)); return v; }
void set_fpu_control(unsigned v) { asm volatile("vmsr fpscr, %0" : : "r"(v)); }
#else // AArch64: the control bits in FPCR, the cumulative flags in the low byte of FPSR
unsigned fpu_control() {
    unsigned long c, f;
    asm volatile("mrs %0, fpcr" : "=r"(c));
    asm volatile("mrs %0, fpsr" : "=r"(f));
    return static_cast<unsigned>((c & ~0xFFul) | (f & 0xFFul));
}
void set_fpu_control(unsigned v) {
    unsigned long c, f;
    asm volatile("mrs %0, fpcr" : "=r"(c));
    asm volatile("mrs %0, fpsr" : "=r"(f));
    c = (c & 0xFFul) | (v & ~0xFFul);
    f = (f & ~0xFFul) | (v & 0xFFul);
    asm volatile("msr fpcr, %0" : : "r"(c));
    asm volatile("msr fpsr, %0" : : "r"(f));
}
#endif
#endif

// The guard zones of a record: the kGuardBytes before it and the kGuardBytes after it.
unsigned char *guard_before(t_object *x) { return reinterpret_cast<unsigned char *>(x) - host::kGuardBytes; }
unsigned char *guard_after(t_object *x, std::size_t size) { return reinterpret_cast<unsigned char *>(x) + size; }

void poison_guards(t_object *x, std::size_t size) {
    ASAN_POISON_MEMORY_REGION(guard_before(x), host::kGuardBytes);
    ASAN_POISON_MEMORY_REGION(guard_after(x, size), host::kGuardBytes);
}

void unpoison_guards(t_object *x, std::size_t size) {
    ASAN_UNPOISON_MEMORY_REGION(guard_before(x), host::kGuardBytes);
    ASAN_UNPOISON_MEMORY_REGION(guard_after(x, size), host::kGuardBytes);
}

bool guards_hold(t_object *x, std::size_t size) {
    unpoison_guards(x, size);
    bool intact = true;
    for (const unsigned char *zone : {guard_before(x), guard_after(x, size)})
        for (std::size_t i = 0; i < host::kGuardBytes; i++) intact &= zone[i] == host::kGuardByte;
    poison_guards(x, size);
    return intact;
}

std::map<std::string, t_symbol> &symbols() {
    static std::map<std::string, t_symbol> table;
    return table;
}

} // namespace

extern "C" {

t_symbol s_pointer, s_float, s_symbol, s_bang, s_list, s_anything, s_signal, s__N, s__X, s_x,
    s_y, s_;

t_symbol *gensym(const char *name) {
    auto [it, fresh] = symbols().try_emplace(name);
    if (fresh) it->second.s_name = it->first.c_str();
    return &it->second;
}

static std::vector<t_atomtype> collect_args(t_atomtype first, va_list ap) {
    std::vector<t_atomtype> args;
    for (t_atomtype t = first; t != A_NULL; t = static_cast<t_atomtype>(va_arg(ap, int)))
        args.push_back(t);
    return args;
}

t_class *class_new(t_symbol *name, t_newmethod newmethod, t_method freemethod, size_t size,
                   int flags, t_atomtype arg1, ...) {
    auto c = std::make_unique<_class>();
    c->info.name = name->s_name;
    c->info.constructor = newmethod;
    c->info.destructor = freemethod;
    c->info.size = size;
    c->info.flags = flags;
    va_list ap;
    va_start(ap, arg1);
    c->info.creation_args = collect_args(arg1, ap);
    va_end(ap);
    t_class *raw = c.get();
    g_classes[name->s_name] = std::move(c);
    return raw;
}

// What a double-precision plug-in registers with; the host takes its registration only
// (it runs single-precision perform routines).
t_class *class_new64(t_symbol *name, t_newmethod newmethod, t_method freemethod, size_t size,
                     int flags, t_atomtype arg1, ...) __attribute__((alias("class_new")));

void class_addmethod(t_class *c, t_method fn, t_symbol *sel, t_atomtype arg1, ...) {
    va_list ap;
    va_start(ap, arg1);
    host::Method m{fn, collect_args(arg1, ap)};
    va_end(ap);
    c->info.selectors.push_back(sel->s_name);
    c->info.methods[sel->s_name] = m;
}

void class_domainsignalin(t_class *c, int onset) { c->info.mainsignalin = onset; }

// Zero-filled like Pd's, with a guard zone on either side of the record.
t_pd *pd_new(t_class *cls) {
    const std::size_t size = cls->info.size;
    auto *block = static_cast<unsigned char *>(std::calloc(1, size + 2 * host::kGuardBytes));
    std::memset(block, host::kGuardByte, host::kGuardBytes);
    std::memset(block + host::kGuardBytes + size, host::kGuardByte, host::kGuardBytes);
    auto *x = reinterpret_cast<t_pd *>(block + host::kGuardBytes);
    poison_guards(reinterpret_cast<t_object *>(x), size);
    *x = cls;
    return x;
}

t_inlet *inlet_new(t_object *owner, t_pd *dest, t_symbol *s1, t_symbol *s2) {
    EXPECT_EQ(dest, &owner->ob_pd) << "inlets deliver to the object itself";
    EXPECT_EQ(s1, &s_float) << "inlets take floats";
    auto &inlets = g_ports[owner].inlets;
    inlets.push_back(std::make_unique<_inlet>(_inlet{s2}));
    return inlets.back().get();
}

t_outlet *outlet_new(t_object *owner, t_symbol *s) {
    auto &outlets = g_ports[owner].outlets;
    outlets.push_back(std::make_unique<_outlet>(_outlet{s}));
    return outlets.back().get();
}

void dsp_add(t_perfroutine f, int n, ...) {
    if (!g_chain) {
        ADD_FAILURE() << "dsp_add outside a dsp call";
        return;
    }
    g_chain->push_back(reinterpret_cast<t_int>(f));
    g_chain->push_back(n); // kept so that tick() can check the returned position
    va_list ap;
    va_start(ap, n);
    for (int i = 0; i < n; i++) g_chain->push_back(va_arg(ap, t_int));
    va_end(ap);
}

t_float sys_getsr(void) { return g_sample_rate; }

void post(const char *fmt, ...) {
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    g_posts.emplace_back(line);
}

} // extern "C"

namespace host {

void set_sample_rate(float sr) { g_sample_rate = sr; }

FlushToZero::FlushToZero() : saved_(fpu_control()) { set_fpu_control(saved_ | kFlushBits); }
FlushToZero::~FlushToZero() { set_fpu_control((fpu_control() & ~kFlushBits) | (saved_ & kFlushBits)); }

void clear_subnormal_flags() { set_fpu_control(fpu_control() & ~kSubnormalFlags); }
bool subnormal_flags_raised() { return (fpu_control() & kSubnormalFlags) != 0; }
void watch_subnormal_flags(bool on) { g_watch_subnormals = on; }

std::vector<std::string> take_posts() {
    std::vector<std::string> lines;
    lines.swap(g_posts);
    return lines;
}

std::vector<std::string> all_classes() {
    std::vector<std::string> names;
    std::istringstream list(TAVRELLE_CLASS_NAMES);
    for (std::string name; list >> name;) names.push_back(name);
    return names;
}

std::string plugin_path(const std::string &class_name) {
    const char *dir = std::getenv("TAVRELLE_PLUGIN_DIR");
    const char *suffix = std::getenv("TAVRELLE_PLUGIN_SUFFIX");
    return std::string(dir ? dir : TAVRELLE_PLUGIN_DIR) + "/" + class_name +
           (suffix ? suffix : TAVRELLE_PLUGIN_SUFFIX);
}

// Opens the plug-in as Pd does: dlopen, or on Windows LoadLibraryEx with the plug-in's
// own folder searched for what it imports (pd.dll is this program's, already loaded).
#ifdef _WIN32
static void *open_plugin(const std::string &path, std::string &error) {
    HMODULE lib = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!lib) error = "error " + std::to_string(GetLastError());
    return reinterpret_cast<void *>(lib);
}
static void *symbol_in(void *lib, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(lib), name)); // NOLINT
}
static void *loaded_plugin(const std::string &path) { return GetModuleHandleA(path.c_str()); }
#else
static void *open_plugin(const std::string &path, std::string &error) {
    void *lib = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!lib) error = dlerror();
    return lib;
}
static void *symbol_in(void *lib, const char *name) { return dlsym(lib, name); }
static void *loaded_plugin(const std::string &path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD); }
#endif

void *plugin_symbol(const std::string &class_name, const char *name) {
    load(class_name);
    void *lib = loaded_plugin(plugin_path(class_name));
    return lib ? symbol_in(lib, name) : nullptr;
}

const ClassInfo &load(const std::string &class_name) {
    if (auto it = g_classes.find(class_name); it != g_classes.end()) return it->second->info;
    std::string path = plugin_path(class_name), error;
    void *lib = open_plugin(path, error);
    if (!lib) {
        ADD_FAILURE() << "cannot load " << path << ": " << error;
        std::abort();
    }
    std::string entry = class_name;
    if (entry.back() == '~') entry = entry.substr(0, entry.size() - 1) + "_tilde";
    entry += "_setup";
    auto setup = reinterpret_cast<void (*)()>(symbol_in(lib, entry.c_str()));
    if (!setup) {
        ADD_FAILURE() << path << " exports no " << entry;
        std::abort();
    }
    std::vector<std::string> before = take_posts();
    setup();
    std::vector<std::string> posted = take_posts();
    g_posts = before;
    auto it = g_classes.find(class_name);
    if (it == g_classes.end()) {
        ADD_FAILURE() << entry << " registered no class " << class_name;
        std::abort();
    }
    it->second->info.setup_posts = posted;
    return it->second->info;
}

Object::Object(const std::string &class_name) : info_(&load(class_name)) {
    x_ = reinterpret_cast<t_object *>(info_->constructor());
    g_ports[x_]; // an object with no ports still has an entry
}

Object::~Object() {
    g_ports.erase(x_);
    EXPECT_TRUE(guards_intact()) << info_->name << " wrote beside its record";
    unpoison_guards(x_, info_->size);
    std::free(guard_before(x_));
}

bool Object::guards_intact() const { return guards_hold(x_, info_->size); }

int Object::signal_outlets() const {
    int n = 0;
    for (auto &o : g_ports.at(x_).outlets) n += o->type == &s_signal;
    return n;
}

std::vector<std::string> Object::inlet_selectors() const {
    std::vector<std::string> names;
    for (auto &i : g_ports.at(x_).inlets) names.push_back(i->selector->s_name);
    return names;
}

bool Object::message(const std::string &selector, std::vector<float> args) {
    auto it = info_->methods.find(selector);
    if (it == info_->methods.end()) return false;
    const Method &m = it->second;
    std::vector<t_atomtype> want(args.size(), A_FLOAT);
    if (m.args != want) return false; // A_CANT never matches a typed message
    switch (args.size()) {
    case 0: reinterpret_cast<void (*)(t_object *)>(m.fn)(x_); return true;
    case 1: reinterpret_cast<void (*)(t_object *, t_floatarg)>(m.fn)(x_, args[0]); return true;
    default: return false;
    }
}

bool Object::inlet_float(int inlet, float value) {
    if (inlet == 0) {
        if (info_->mainsignalin < 0) return false;
        std::memcpy(reinterpret_cast<char *>(x_) + info_->mainsignalin, &value, sizeof value);
        return true;
    }
    auto &inlets = g_ports.at(x_).inlets;
    if (inlet > static_cast<int>(inlets.size())) return false;
    return message(inlets[inlet - 1]->selector->s_name, {value});
}

void Object::dsp_sharing(float sr, int n, int outlet) {
    set_sample_rate(sr);
    build_dsp(sr, n, outlet);
}

void Object::dsp_resampled_sharing(float signal_sr, int n, int outlet) { build_dsp(signal_sr, n, outlet); }

void Object::build_dsp(float sr, int n, int outlet) {
    auto it = info_->methods.find("dsp");
    ASSERT_NE(it, info_->methods.end()) << "no dsp method";
    EXPECT_EQ(it->second.args, std::vector<t_atomtype>{A_CANT});
    n_ = n;
    shared_ = outlet;
    int outlets = signal_outlets();
    // Each vector with its guard samples, the vector itself zeroed.
    auto guarded = [n] {
        const int length = n > 0 ? n : 1;
        std::vector<float> v(length + 2 * kGuardSamples);
        for (float &g : v) std::memcpy(&g, &kUnwritten, 4);
        std::fill_n(v.begin() + kGuardSamples, length, 0.0f);
        return v;
    };
    in_ = guarded();
    out_store_.assign(outlets, guarded());
    outs_.clear();
    for (auto &o : out_store_) outs_.push_back(o.data() + kGuardSamples);
    if (outlet >= 0 && outlet < outlets) outs_[outlet] = in();

    std::vector<t_signal> sigs(1 + outlets);
    std::vector<t_signal *> sp;
    for (int k = 0; k <= outlets; k++) {
        sigs[k].s_n = n;
        sigs[k].s_vec = k == 0 ? in() : outs_[k - 1];
        sigs[k].s_sr = sr;
        sp.push_back(&sigs[k]);
    }
    chain_.clear();
    g_chain = &chain_;
    reinterpret_cast<void (*)(t_object *, t_signal **)>(it->second.fn)(x_, sp.data());
    g_chain = nullptr;
    ASSERT_FALSE(chain_.empty()) << "dsp added no perform routine";
}

void Object::tick() {
    for (std::size_t at = 0; at < chain_.size();) {
        auto f = reinterpret_cast<t_perfroutine>(chain_[at]);
        t_int nargs = chain_[at + 1];
        std::vector<t_int> w;
        w.push_back(chain_[at]);
        w.insert(w.end(), chain_.begin() + at + 2, chain_.begin() + at + 2 + nargs);
        t_int *next;
        std::size_t allocations;
        bool subnormal = false, flags = g_watch_subnormals && !(fpu_control() & kFlushBits);
        {
            AllocationWatch watch;
            if (flags) clear_subnormal_flags();
            next = f(w.data());
            if (flags) subnormal = subnormal_flags_raised();
            allocations = watch.count();
        }
        EXPECT_FALSE(subnormal) << info_->name << " did arithmetic on subnormal numbers in perform";
        EXPECT_EQ(next, w.data() + nargs + 1) << "perform returned the wrong position";
        EXPECT_EQ(allocations, 0u) << info_->name << " allocated or freed memory in perform";
        EXPECT_TRUE(vector_guards_intact()) << info_->name << " wrote outside a signal vector";
        at += 2 + nargs;
    }
}

bool Object::vector_guards_intact() const {
    const int length = n_ > 0 ? n_ : 1;
    auto intact = [length](const std::vector<float> &v) {
        if (v.size() != static_cast<std::size_t>(length + 2 * kGuardSamples)) return false;
        for (int k = 0; k < kGuardSamples; k++)
            if (std::memcmp(&v[k], &kUnwritten, 4) != 0 ||
                std::memcmp(&v[kGuardSamples + length + k], &kUnwritten, 4) != 0)
                return false;
        return true;
    };
    if (!intact(in_)) return false;
    for (const auto &o : out_store_)
        if (!intact(o)) return false;
    return true;
}

std::vector<std::vector<float>> Object::process(const std::vector<float> &input) {
    int outlets = signal_outlets();
    std::vector<std::vector<float>> result(outlets);
    if (n_ <= 0) return result;
    for (std::size_t start = 0; start < input.size(); start += n_) {
        for (int i = 0; i < n_; i++)
            in()[i] = start + i < input.size() ? input[start + i] : 0.0f;
        for (int k = 0; k < outlets; k++) {
            if (k == shared_) continue;
            for (int i = 0; i < n_; i++) std::memcpy(&outs_[k][i], &kUnwritten, 4);
        }
        tick();
        for (int k = 0; k < outlets; k++) result[k].insert(result[k].end(), outs_[k], outs_[k] + n_);
    }
    return result;
}

std::vector<t_int> Object::pd_chain() const {
    std::vector<t_int> chain;
    for (std::size_t at = 0; at < chain_.size(); at += 2 + chain_[at + 1]) {
        chain.push_back(chain_[at]);
        chain.insert(chain.end(), chain_.begin() + at + 2, chain_.begin() + at + 2 + chain_[at + 1]);
    }
    chain.push_back(0);
    return chain;
}

std::vector<unsigned char> Object::record_bytes() const {
    auto *p = reinterpret_cast<const unsigned char *>(x_);
    return {p, p + info_->size};
}

} // namespace host
