#include "allocation_counter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
std::atomic<long> g_live{0};
// The armed failure: allocations left before it (0: none armed), and whether it came.
thread_local long t_failIn = 0;
thread_local bool t_failed = false;

void Count() {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
}

bool ArmedFailure() {
    if (t_failIn == 0 || --t_failIn != 0) return false;
    t_failed = true;
    return true;
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
// The sanitizer's malloc cannot be failed: operator new fails instead.
constexpr bool kNewFailsItself = true;
}  // namespace
#else
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
}

extern "C" char __executable_start, etext;

namespace {
// Only the program's own code (operator new, and the library when it is built
// into the program) sees malloc fail: how the system libraries below it cope
// with no memory is theirs to answer for.
bool MallocFails(const void *caller) { return caller >= &__executable_start && caller < &etext && ArmedFailure(); }
// operator new fails through malloc.
constexpr bool kNewFailsItself = false;
}  // namespace

// operator new ends up in malloc too.
extern "C" void *malloc(size_t n) {
    Count();
    return MallocFails(__builtin_return_address(0)) ? nullptr : __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t size) {
    Count();
    return MallocFails(__builtin_return_address(0)) ? nullptr : __libc_calloc(n, size);
}
extern "C" void *realloc(void *p, size_t n) {
    Count();
    return MallocFails(__builtin_return_address(0)) ? nullptr : __libc_realloc(p, n);
}
extern "C" void *aligned_alloc(size_t alignment, size_t n) {
    Count();
    return MallocFails(__builtin_return_address(0)) ? nullptr : __libc_memalign(alignment, n);
}
extern "C" int posix_memalign(void **out, size_t alignment, size_t n) {
    Count();
    *out = MallocFails(__builtin_return_address(0)) ? nullptr : __libc_memalign(alignment, n);
    return *out ? 0 : 12;
}
#endif

namespace {

void *NewBlock(size_t n, size_t alignment) {
    if (kNewFailsItself && ArmedFailure()) return nullptr;
    void *p = nullptr;
    if (alignment <= alignof(std::max_align_t))
        p = std::malloc(n ? n : 1);
    else if (posix_memalign(&p, alignment, n ? n : 1) != 0)
        p = nullptr;
    if (p) g_live.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void DeleteBlock(void *p) {
    if (!p) return;
    g_live.fetch_sub(1, std::memory_order_relaxed);
    std::free(p);
}

void *NewOrThrow(size_t n, size_t alignment) {
    void *p = NewBlock(n, alignment);
    if (!p) throw std::bad_alloc();
    return p;
}

}  // namespace

void *operator new(size_t n) { return NewOrThrow(n, 0); }
void *operator new[](size_t n) { return NewOrThrow(n, 0); }
void *operator new(size_t n, std::align_val_t a) { return NewOrThrow(n, static_cast<size_t>(a)); }
void *operator new[](size_t n, std::align_val_t a) { return NewOrThrow(n, static_cast<size_t>(a)); }
void *operator new(size_t n, const std::nothrow_t &) noexcept { return NewBlock(n, 0); }
void *operator new[](size_t n, const std::nothrow_t &) noexcept { return NewBlock(n, 0); }
void *operator new(size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
    return NewBlock(n, static_cast<size_t>(a));
}
void *operator new[](size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
    return NewBlock(n, static_cast<size_t>(a));
}
void operator delete(void *p) noexcept { DeleteBlock(p); }
void operator delete[](void *p) noexcept { DeleteBlock(p); }
void operator delete(void *p, size_t) noexcept { DeleteBlock(p); }
void operator delete[](void *p, size_t) noexcept { DeleteBlock(p); }
void operator delete(void *p, std::align_val_t) noexcept { DeleteBlock(p); }
void operator delete[](void *p, std::align_val_t) noexcept { DeleteBlock(p); }
void operator delete(void *p, size_t, std::align_val_t) noexcept { DeleteBlock(p); }
void operator delete[](void *p, size_t, std::align_val_t) noexcept { DeleteBlock(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { DeleteBlock(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { DeleteBlock(p); }
void operator delete(void *p, std::align_val_t, const std::nothrow_t &) noexcept { DeleteBlock(p); }
void operator delete[](void *p, std::align_val_t, const std::nothrow_t &) noexcept { DeleteBlock(p); }

namespace tessaly::testsupport {

void StartCountingAllocations() {
    g_allocations = 0;
    g_counting = true;
}

long StopCountingAllocations() {
    g_counting = false;
    return g_allocations.load();
}

void FailNthAllocation(long n) {
    t_failIn = n > 0 ? n : 0;
    t_failed = false;
}

bool AllocationFailed() { return t_failed; }

long LiveAllocations() { return g_live.load(std::memory_order_relaxed); }

}  // namespace tessaly::testsupport
