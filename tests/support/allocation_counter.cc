#include "allocation_counter.h"

#include <atomic>
#include <cstddef>

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
void Count() {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TESSALY_SANITIZER_OWNS_MALLOC 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TESSALY_SANITIZER_OWNS_MALLOC 1
#endif
#endif

#ifdef TESSALY_SANITIZER_OWNS_MALLOC
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));
namespace {
void OnMalloc(const volatile void *, size_t) { Count(); }
void OnFree(const volatile void *) {}
const int g_hooked = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
}  // namespace
#else
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
}

// operator new ends up in malloc too.
extern "C" void *malloc(size_t n) {
    Count();
    return __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t size) {
    Count();
    return __libc_calloc(n, size);
}
extern "C" void *realloc(void *p, size_t n) {
    Count();
    return __libc_realloc(p, n);
}
extern "C" void *aligned_alloc(size_t alignment, size_t n) {
    Count();
    return __libc_memalign(alignment, n);
}
extern "C" int posix_memalign(void **out, size_t alignment, size_t n) {
    Count();
    *out = __libc_memalign(alignment, n);
    return *out ? 0 : 12;
}
#endif

namespace tessaly::testsupport {

void StartCountingAllocations() {
    g_allocations = 0;
    g_counting = true;
}

long StopCountingAllocations() {
    g_counting = false;
    return g_allocations.load();
}

}  // namespace tessaly::testsupport
