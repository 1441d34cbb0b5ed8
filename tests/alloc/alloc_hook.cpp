// The executable's own malloc, calloc, realloc, free and every replaceable operator new and
// delete, so that the test can make any single allocation fail: the library's, uchardet's
// and the C library's own inside iconv.
//
// Why this way: link-time wrapping (--wrap) would miss the shared libraries, and a hook
// inside the library would miss everything it does not allocate itself. Defining the
// allocation functions in the executable overrides them process-wide under both builds:
// - plain (g++): glibc supports replacing malloc; the replacements forward to __libc_malloc
//   and friends.
// - AddressSanitizer (clang): the sanitizer's malloc, free and operator new are weak
//   symbols, so these definitions win; they forward to the sanitizer's __interceptor_*
//   entry points, so every block is still checked for overflows, double frees and leaks.
// operator new is routed through the same forwarding malloc and delete through free, so
// the sanitizer sees consistent pairs (new/delete mismatch detection is lost in this one
// executable, which is why the hook lives only here).
#include "alloc_hook.hpp"

#include <cerrno>
#include <cstdlib>
#include <new>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __interceptor_malloc(size_t) __attribute__((weak));
void* __interceptor_calloc(size_t, size_t) __attribute__((weak));
void* __interceptor_realloc(void*, size_t) __attribute__((weak));
void __interceptor_free(void*) __attribute__((weak));
}

namespace {

bool g_armed = false;
bool g_failed = false;
long g_fail_at = 0;
long g_seen = 0;
long g_live = 0;

void* real_malloc(size_t n) { return __interceptor_malloc ? __interceptor_malloc(n) : __libc_malloc(n); }
void* real_calloc(size_t n, size_t s) { return __interceptor_calloc ? __interceptor_calloc(n, s) : __libc_calloc(n, s); }
void* real_realloc(void* p, size_t n) { return __interceptor_realloc ? __interceptor_realloc(p, n) : __libc_realloc(p, n); }
void real_free(void* p) { __interceptor_free ? __interceptor_free(p) : __libc_free(p); }

// Counts one allocation; true when it is the one that must fail.
bool fail_now() {
    if (!g_armed) return false;
    if (++g_seen != g_fail_at) return false;
    g_failed = true;
    return true;
}

void* counted(void* p) {
    if (p && g_armed) ++g_live;
    return p;
}

void* new_block(size_t n) {
    if (fail_now()) throw std::bad_alloc();
    void* p = real_malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return counted(p);
}

void* new_block_nothrow(size_t n) noexcept {
    if (fail_now()) return nullptr;
    return counted(real_malloc(n ? n : 1));
}

void* new_aligned(size_t n, std::align_val_t a) {
    if (fail_now()) throw std::bad_alloc();
    void* p = nullptr;
    // posix_memalign is not replaced here: under either build it comes from the same
    // allocator as the forwarding free.
    if (posix_memalign(&p, static_cast<size_t>(a), n ? n : 1) != 0) throw std::bad_alloc();
    return counted(p);
}

void* no_memory() {
    errno = ENOMEM;
    return nullptr;
}

void release(void* p) noexcept {
    if (p && g_armed) --g_live;
    real_free(p);
}

} // namespace

namespace alloc_hook {

void arm(long fail_at) {
    g_seen = 0;
    g_live = 0;
    g_failed = false;
    g_fail_at = fail_at;
    g_armed = true;
}

void resume() {
    g_fail_at = 0;
    g_armed = true;
}

bool disarm() {
    g_armed = false;
    return g_failed;
}

long live_blocks() { return g_live; }
long seen() { return g_seen; }

} // namespace alloc_hook

extern "C" {

// A failure sets errno to ENOMEM, as the C library's own does.
void* malloc(size_t n) noexcept { return fail_now() ? no_memory() : counted(real_malloc(n)); }
void* calloc(size_t n, size_t s) noexcept { return fail_now() ? no_memory() : counted(real_calloc(n, s)); }
void free(void* p) noexcept { release(p); }

void* realloc(void* p, size_t n) noexcept {
    if (fail_now()) return no_memory(); // the old block stays valid, as after a real failure
    void* q = real_realloc(p, n);
    if (g_armed) {
        if (!p && q) ++g_live;
        if (p && n == 0 && !q) --g_live;
    }
    return q;
}

} // extern "C"

void* operator new(size_t n) { return new_block(n); }
void* operator new[](size_t n) { return new_block(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return new_block_nothrow(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return new_block_nothrow(n); }
void* operator new(size_t n, std::align_val_t a) { return new_aligned(n, a); }
void* operator new[](size_t n, std::align_val_t a) { return new_aligned(n, a); }
void* operator new(size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    try {
        return new_aligned(n, a);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t n, std::align_val_t a, const std::nothrow_t& t) noexcept { return operator new(n, a, t); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, size_t) noexcept { release(p); }
void operator delete[](void* p, size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
