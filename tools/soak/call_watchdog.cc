#include "call_watchdog.h"

#include <cstdio>
#include <cstdlib>

namespace tessaly::soak {

CallWatchdog::CallWatchdog(int slots, std::chrono::milliseconds limit)
    : slots_(size_t(slots)), limit_(limit), thread_([this] { Run(); }) {}

CallWatchdog::~CallWatchdog() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

int64_t CallWatchdog::NowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void CallWatchdog::Enter(int slot, const char *call, uint32_t port) {
    Slot &s = slots_[size_t(slot)];
    s.call.store(call, std::memory_order_relaxed);
    s.port.store(port, std::memory_order_relaxed);
    s.startedNanos.store(NowNanos(), std::memory_order_release);
}

void CallWatchdog::Leave(int slot) {
    Slot &s = slots_[size_t(slot)];
    const int64_t millis = (NowNanos() - s.startedNanos.load(std::memory_order_relaxed)) / 1000000;
    s.startedNanos.store(0, std::memory_order_release);
    int64_t longest = longestMillis_.load(std::memory_order_relaxed);
    while (millis > longest && !longestMillis_.compare_exchange_weak(longest, millis, std::memory_order_relaxed)) {}
    if (millis >= longest) longestCall_.store(s.call.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

void CallWatchdog::Run() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(500), [this] { return stopping_; })) {
        const int64_t now = NowNanos();
        for (size_t k = 0; k < slots_.size(); ++k) {
            const int64_t started = slots_[k].startedNanos.load(std::memory_order_acquire);
            if (started == 0 || now - started < std::chrono::nanoseconds(limit_).count()) continue;
            std::fprintf(stderr, "soak: FAILED: %s on port %u from host thread %zu has not returned after %lld ms\n",
                         slots_[k].call.load(std::memory_order_relaxed), slots_[k].port.load(std::memory_order_relaxed),
                         k, static_cast<long long>((now - started) / 1000000));
            std::fflush(stderr);
            std::abort();
        }
    }
}

}  // namespace tessaly::soak
