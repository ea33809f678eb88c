// Counts allocations for host::AllocationWatch. Under AddressSanitizer, which owns
// malloc, through the sanitizer allocator's hooks; otherwise by replacing malloc,
// calloc, realloc and free with counting wrappers around the C library's own.
#include "host.h"

#include <sys/cdefs.h>

namespace {

thread_local std::size_t t_watching = 0; // open watches on this thread
thread_local std::size_t t_count = 0;    // calls counted while one was open

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
