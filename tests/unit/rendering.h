// Helpers for the behaviour tests of one-in, one-out classes: render a signal through a
// new object with settings, and find the C library's definition of a function that a
// test interposes to count the plug-ins' calls.
#pragma once

#include "host.h"
#include "record_checks.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <string>
#include <vector>

namespace unit {

struct Setting {
    std::string selector;
    float value;
};

// A new object of the class: the settings as messages, DSP at sr with the block size,
// then the input; returns as many output samples as there are input samples.
struct Renderer {
    const char *cls;
    std::vector<float> operator()(const std::vector<float> &input,
                                  const std::vector<Setting> &settings = {}, float sr = 44100.0f,
                                  int block = 64, bool in_place = false) const {
        host::Object obj(cls);
        for (auto &[sel, v] : settings)
            EXPECT_TRUE(obj.message(sel, {v})) << sel;
        obj.dsp(sr, block, in_place);
        auto out = obj.run(input);
        out.resize(input.size());
        return out;
    }
};

// A field of the object's record, read through the plug-in's own record type (the class
// source is compiled into the test executable, tests/support/record_probe.cpp.in).
inline float field(const host::Object &obj, const char *name) {
    const probe::Probe *p = probe::find(obj.info().name);
    float value = 0.0f;
    if (!p || !p->field(obj.get(), name, value))
        ADD_FAILURE() << obj.info().name << " has no " << name;
    return value;
}

// A test executable exports what it defines, so a plug-in binds to its definition of a C
// library function first; the definition counts and forwards to the library's.
#ifndef _WIN32
template <class F> F *library_definition(const char *name) {
    return reinterpret_cast<F *>(dlsym(RTLD_NEXT, name));
}
#define TAVRELLE_COUNTS_LIBRARY_CALLS()
#else
// A Windows plug-in has mingw-w64's sin and exp linked in, where nothing can stand in
// for them; there the counting tests are skipped (the DLL check shows they import no
// maths).
#define TAVRELLE_COUNTS_LIBRARY_CALLS()                                                            \
    GTEST_SKIP() << "the plug-in's maths is linked into it; no definition here can count its calls"
#endif

} // namespace unit
