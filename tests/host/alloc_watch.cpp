// Counts allocations for host::AllocationWatch. Under AddressSanitizer, which owns
// malloc, through the sanitizer allocator's hooks; otherwise by replacing malloc,
// calloc, realloc and free with counting wrappers around the C library's own. On
// Windows the wrappers serve the host's pd.dll (the tests and the C++ runtime linked
// into it); a plug-in imports no allocator from msvcrt.dll at all, which the DLL check
// makes sure of.
#include "host.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// The Windows tests run on one thread, and mingw-w64's thread_local allocates on first use.
#define TAVRELLE_PER_THREAD
#else
#include <sys/cdefs.h>
#define TAVRELLE_PER_THREAD thread_local
#endif

namespace {

TAVRELLE_PER_THREAD std::size_t t_watching = 0; // open watches on this thread
TAVRELLE_PER_THREAD std::size_t t_count = 0;    // calls counted while one was open

inline void note() {
    if (t_watching) ++t_count;
}

} // namespace

namespace host {

AllocationWatch::AllocationWatch() : start_(t_count) { ++t_watching; }
AllocationWatch::~AllocationWatch() { --t_watching; }
std::size_t AllocationWatch::count() const { return t_count - start_; }

} // namespace host

#ifdef TAVRELLE_HOST_ASAN

extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*on_malloc)(const volatile void *, std::size_t), void (*on_free)(const volatile void *));

namespace {
void on_malloc(const volatile void *, std::size_t) { note(); }
void on_free(const volatile void *) { note(); }
[[maybe_unused]] const int installed = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
} // namespace

#elif defined(_WIN32)

namespace {
// msvcrt.dll's own functions, looked up on first use (a guarded static would take a
// lock, and the lock may allocate).
template <class F> F *msvcrt(F *&fn, const char *name) {
    if (!fn) fn = reinterpret_cast<F *>(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), name)));
    return fn;
}
void *(*g_malloc)(std::size_t);
void *(*g_calloc)(std::size_t, std::size_t);
void *(*g_realloc)(void *, std::size_t);
void (*g_free)(void *);
} // namespace

extern "C" {
void *malloc(std::size_t n) {
    note();
    return msvcrt(g_malloc, "malloc")(n);
}
void *calloc(std::size_t count, std::size_t n) {
    note();
    return msvcrt(g_calloc, "calloc")(count, n);
}
void *realloc(void *p, std::size_t n) {
    note();
    return msvcrt(g_realloc, "realloc")(p, n);
}
void free(void *p) {
    note();
    msvcrt(g_free, "free")(p);
}
}

#else

extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void __libc_free(void *);

void *malloc(std::size_t n) __THROW {
    note();
    return __libc_malloc(n);
}
void *calloc(std::size_t count, std::size_t n) __THROW {
    note();
    return __libc_calloc(count, n);
}
void *realloc(void *p, std::size_t n) __THROW {
    note();
    return __libc_realloc(p, n);
}
void free(void *p) __THROW {
    note();
    __libc_free(p);
}
}

#endif
