// Invariants of an object record, checked between blocks and messages by the fuzzer and
// the soak test: positions inside their delay lines, flags and settings inside the ranges
// their messages clamp to, and state that never holds an infinity or a NaN.
//
// The checks pick their fields by name, so one template serves every class: the test
// build compiles each class source into the test executable (record_probe.cpp.in) and
// registers the checker for its record type under the class name.
#pragma once

#include "tavrelle.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

namespace probe {

struct Report {
    std::vector<std::string> problems;
    std::vector<std::string> checked; // field names, filled only when `describe` is set
    bool describe = false;
    bool deep = false; // also scan every delay line and filter bank sample by sample

    void note(const char *field) {
        if (describe) checked.push_back(field);
    }
    void fail(const char *field, const std::string &what) {
        problems.push_back(std::string(field) + " " + what);
    }
};

inline std::string show(double v) {
    char s[48];
    std::snprintf(s, sizeof s, "%.9g", v);
    return s;
}

inline void in_range(Report &r, const char *field, double v, double lo, double hi) {
    r.note(field);
    if (!(v >= lo && v <= hi)) r.fail(field, "is " + show(v) + ", outside " + show(lo) + " ... " + show(hi));
}

inline void finite(Report &r, const char *field, float v) {
    r.note(field);
    if (!std::isfinite(v)) r.fail(field, "is " + show(v));
}

inline void all_finite(Report &r, const char *field, const float *v, std::size_t n) {
    if (!r.deep) return;
    r.note(field);
    for (std::size_t i = 0; i < n; i++)
        if (!std::isfinite(v[i])) return r.fail(field, "[" + std::to_string(i) + "] is " + show(v[i]));
}

#define PROBE_HAS(field) requires(const X &probe_x) { probe_x.field; }
#define PROBE_RANGE(field, lo, hi)                                                                 \
    if constexpr (PROBE_HAS(field)) in_range(r, #field, x.field, lo, hi)
#define PROBE_FINITE(field)                                                                        \
    if constexpr (PROBE_HAS(field)) finite(r, #field, x.field)
#define PROBE_LINE(k)                                                                              \
    if constexpr (requires(const X &probe_x) { probe_x.x_buf##k; probe_x.x_idx##k; }) {           \
        constexpr int length = std::extent_v<decltype(X::x_buf##k)>;                               \
        in_range(r, "x_idx" #k, x.x_idx##k, 0, length - 1);                                        \
        all_finite(r, "x_buf" #k, x.x_buf##k, length);                                             \
    }

template <class X> void check(const X &x, Report &r) {
    // Delay lines and their read positions.
    PROBE_LINE(1) PROBE_LINE(2) PROBE_LINE(3) PROBE_LINE(4)
    PROBE_LINE(5) PROBE_LINE(6) PROBE_LINE(7) PROBE_LINE(8)

    // Flags.
    PROBE_RANGE(x_phase, 0, 1);
    PROBE_RANGE(x_bypass, 0, 1);

    // Settings, as their messages clamp them.
    PROBE_RANGE(x_feedback, 0.7f, 0.98f);
    PROBE_RANGE(x_damp, 0.0f, 0.9f);
    PROBE_RANGE(x_atten, 1.0f - 0.9f, 1.0f);
    PROBE_RANGE(x_depth, 0.0f, 20.0f);
    PROBE_RANGE(x_response, 0.0f, 1.0f);
    PROBE_RANGE(x_wet, 0.0f, 0.005f);
    PROBE_RANGE(x_dry, 0.0f, 1.0f);
    PROBE_RANGE(x_offset, 128.0f, 129.0f);
    PROBE_RANGE(x_tone, 0.0f, 1.0f);
    PROBE_RANGE(x_coef, -1.0f, 1.0f);

    // Recursive state.
    PROBE_RANGE(x_gain, 0.0f, 1.0f);
    PROBE_RANGE(x_env, 0.0f, std::numeric_limits<float>::max());
    PROBE_FINITE(x_input);
    PROBE_FINITE(x_state);
    PROBE_FINITE(x_low);
    PROBE_FINITE(x_band);
    PROBE_FINITE(x_filt1); PROBE_FINITE(x_filt2); PROBE_FINITE(x_filt3); PROBE_FINITE(x_filt4);
    PROBE_FINITE(x_filt5); PROBE_FINITE(x_filt6); PROBE_FINITE(x_filt7); PROBE_FINITE(x_filt8);
    if constexpr (PROBE_HAS(x_cf)) {
        static_assert(sizeof(x.x_cf) % sizeof(float) == 0);
        float state[sizeof(x.x_cf) / sizeof(float)];
        std::memcpy(state, &x.x_cf, sizeof state);
        r.note("x_cf");
        for (float v : state)
            if (!std::isfinite(v)) {
                r.fail("x_cf", "holds " + show(v));
                break;
            }
    }
}

#undef PROBE_HAS
#undef PROBE_RANGE
#undef PROBE_FINITE
#undef PROBE_LINE

using Checker = void (*)(const t_object *record, Report &r);
// A field of the record by its name in the source, as a float; false if it has none.
using FieldReader = bool (*)(const t_object *record, const std::string &field, float &value);

struct Probe {
    std::string cls;
    std::size_t size; // of the record type the checker reads
    Checker checker;
    FieldReader field;
};

std::vector<Probe> &probes();

// The probe for a class, or nullptr when the build made none.
const Probe *find(const std::string &cls);

template <class X> void check_record(const t_object *record, Report &r) {
    check(*reinterpret_cast<const X *>(record), r);
}

// The settings and states of the effects, which their tests read.
template <class X> bool read_field(const t_object *record, const std::string &field, float &value) {
    const X &x = *reinterpret_cast<const X *>(record);
#define PROBE_FIELD(f)                                                                             \
    if constexpr (requires { x.f; })                                                               \
        if (field == #f) return value = static_cast<float>(x.f), true;
    PROBE_FIELD(x_tone) PROBE_FIELD(x_coef) PROBE_FIELD(x_low) PROBE_FIELD(x_band)
    PROBE_FIELD(x_sr) PROBE_FIELD(x_bypass) PROBE_FIELD(x_depth) PROBE_FIELD(x_env)
    PROBE_FIELD(x_response) PROBE_FIELD(x_gain) PROBE_FIELD(x_wet) PROBE_FIELD(x_dry)
    PROBE_FIELD(x_offset) PROBE_FIELD(x_state) PROBE_FIELD(x_phase)
#undef PROBE_FIELD
    // The phase network: "x_cf.prev" and "x_cf.bank[b][k].x2" (or y2).
    if constexpr (requires { x.x_cf.bank; }) {
        int b = -1, k = -1;
        char which = 0;
        if (field == "x_cf.prev") return value = x.x_cf.prev, true;
        const int banks = sizeof x.x_cf.bank / sizeof x.x_cf.bank[0];
        const int sections = sizeof x.x_cf.bank[0] / sizeof x.x_cf.bank[0][0];
        if (std::sscanf(field.c_str(), "x_cf.bank[%d][%d].%c2", &b, &k, &which) == 3 && b >= 0 &&
            b < banks && k >= 0 && k < sections && (which == 'x' || which == 'y'))
            return value = which == 'x' ? x.x_cf.bank[b][k].x2 : x.x_cf.bank[b][k].y2, true;
    }
    return false;
}

struct Registration {
    Registration(const char *cls, std::size_t size, Checker checker, FieldReader field) {
        probes().push_back({cls, size, checker, field});
    }
};

} // namespace probe
