// Host glue shared by every tavrelle class: exports, the big-or-small tests,
// clamping of control values, registration helpers and typed perform arguments. The
// flush-to-zero arithmetic is in ftz.h.
#pragma once

#include <m_pd.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <type_traits>

// The only symbols a plug-in shows the host; everything else is hidden (a Windows DLL
// exports just what is marked for export).
#ifdef _WIN32
#define TAVRELLE_EXPORT extern "C" __declspec(dllexport)
#else
#define TAVRELLE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The 32-bit ARM build with VFP and the hard-float convention, the one whose plug-ins
// carry the kernels scheduled by hand for the ARM11 (each family's arm32/ folder).
#if defined(__arm__) && defined(__VFP_FP__) && !defined(__SOFTFP__)
#define TAVRELLE_VFP11 1
#else
#define TAVRELLE_VFP11 0
#endif

// An object record is allocated zero-filled by Pd and never constructed by C++. x_f, Pd's
// float, follows t_object at the first place its alignment allows.
#define TAVRELLE_RECORD(X)                                                                         \
    static_assert(std::is_standard_layout_v<X> && std::is_trivially_default_constructible_v<X>,   \
                  #X " must be a plain record");                                                   \
    static_assert(offsetof(X, x_obj) == 0 && offsetof(X, x_f) == tav::kMainFloatOffset,            \
                  #X " must start with t_object and x_f")

namespace tav {

// Pd with single-precision samples, or with double-precision ones (PD_FLOATSIZE=64). The
// classes compute in single precision either way: a sample is narrowed to a float as it is
// read and the result widened as it is written, and so is every float argument.
static_assert((sizeof(t_float) == 4 || sizeof(t_float) == 8) && sizeof(t_sample) == sizeof(t_float),
              "Pd with single- or double-precision samples required");

constexpr std::size_t kMainFloatOffset =
    (sizeof(t_object) + alignof(t_float) - 1) / alignof(t_float) * alignof(t_float);

// The small constant added to inputs so that recursive state never becomes subnormal.
constexpr float kAntiDenormal = 1e-21f;

constexpr std::uint32_t kExponentTop = 0x60000000u; // bits 30 and 29 of a float

inline std::uint32_t bits_of(float f) { return std::bit_cast<std::uint32_t>(f); }

// Magnitude below 2^-63, zero included.
inline bool is_tiny(float f) { return (bits_of(f) & kExponentTop) == 0; }

// Magnitude of 2^65 or more, infinities and NaNs included.
inline bool is_huge(float f) { return (bits_of(f) & kExponentTop) == kExponentTop; }

// Either of the two above: Pd's big-or-small test. Bits 30 and 29 are equal, in one
// test of bit 30 of the pattern XOR itself shifted left.
inline bool is_tiny_or_huge(float f) {
    const std::uint32_t b = bits_of(f);
    return ((b ^ (b << 1)) & 0x40000000u) == 0;
}

// A control argument that is not a number is ignored, so the setting stays as it was.
inline bool is_nan(float f) { return f != f; }

// Maps a control float in three cases: below 0, above 1, and in between.
template <class Mid> inline float unit_map(float a, float below, float above, Mid mid) {
    if (a < 0.0f) return below;
    if (a > 1.0f) return above;
    return mid(a);
}

// The argument clamped to 0 ... 1.
inline float unit_clamp(float a) {
    return unit_map(a, 0.0f, 1.0f, [](float v) { return v; });
}

// What CLASS_MAINSIGNALIN does: the left inlet takes a signal, and a float sent to it
// sets x_f. Pd's macro finds the field by a member access through a null pointer, which
// is undefined behaviour; offsetof gives the same position.
template <class X> inline void add_main_signal_inlet(t_class *c) {
    class_domainsignalin(c, static_cast<int>(offsetof(X, x_f)));
}

// "dsp" is called by the host only: A_CANT keeps a typed "dsp" message from reaching it
// without its signal array.
inline void add_dsp_method(t_class *c, t_method dsp) {
    class_addmethod(c, dsp, gensym("dsp"), A_CANT, A_NULL);
}

// A method taking one float: Pd calls it with a t_floatarg, which reaches the method
// narrowed to a float.
template <class X> X *record_of(void (*)(X *, float));
template <auto Method> void float_method(decltype(record_of(Method)) x, t_floatarg a) {
    Method(x, static_cast<float>(a));
}
template <auto Method> inline void add_float_method(t_class *c, const char *selector) {
    class_addmethod(c, reinterpret_cast<t_method>(float_method<Method>), gensym(selector), A_FLOAT,
                    A_NULL);
}

inline void add_plain_method(t_class *c, t_method m, const char *selector) {
    class_addmethod(c, m, gensym(selector), A_NULL);
}

// A float inlet right of the existing ones, delivering its float as `selector`.
inline void add_float_inlet(t_object *x, const char *selector) {
    inlet_new(x, &x->ob_pd, &s_float, gensym(selector));
}

// A new object on Pd's zero-filled record: float inlets delivering the given selectors,
// left to right, then its signal outlets.
template <class X>
inline X *new_object(t_class *c, std::initializer_list<const char *> inlets, int outlets = 1) {
    X *x = reinterpret_cast<X *>(pd_new(c));
    for (const char *selector : inlets) add_float_inlet(&x->x_obj, selector);
    for (int k = 0; k < outlets; k++) outlet_new(&x->x_obj, &s_signal);
    return x;
}

// Two vectors of n samples that share memory without being the same vector. Pd never
// hands a perform routine such a pair; where one occurs, a routine that reads ahead of
// what it writes falls back to strict sample order.
inline bool overlap_shifted(const t_sample *a, const t_sample *b, int n) {
    auto pa = reinterpret_cast<std::uintptr_t>(a), pb = reinterpret_cast<std::uintptr_t>(b);
    const std::uintptr_t bytes = static_cast<std::uintptr_t>(n) * sizeof(t_sample);
    return pa != pb && pa < pb + bytes && pb < pa + bytes;
}

// The output is the input: copied where they are two vectors, and in double precision
// narrowed to a float and widened again, as every output sample is.
inline void pass_through(const t_sample *in, t_sample *out, int n) {
    if constexpr (sizeof(t_sample) == sizeof(float)) {
        if (in != out) std::memcpy(out, in, static_cast<std::size_t>(n) * sizeof(t_sample));
    } else {
        for (int i = 0; i < n; i++) out[i] = static_cast<t_sample>(static_cast<float>(in[i]));
    }
}

// The arguments of a one-in, one-out perform routine.
template <class X> struct Block {
    X *x;
    t_sample *in;
    t_sample *out;
    int n;
};

template <class X> inline Block<X> unpack(t_int *w) {
    return {reinterpret_cast<X *>(w[1]), reinterpret_cast<t_sample *>(w[2]),
            reinterpret_cast<t_sample *>(w[3]), static_cast<int>(w[4])};
}

// Adds a one-in, one-out perform routine for the signals in sp.
template <class X> inline void add_perform(t_perfroutine perform, X *x, t_signal **sp) {
    dsp_add(perform, 4, x, sp[0]->s_vec, sp[1]->s_vec, static_cast<t_int>(sp[0]->s_n));
}

} // namespace tav
