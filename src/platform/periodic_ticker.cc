#include "platform/periodic_ticker.h"

#include <ctime>
#include <system_error>

#include "platform/resource_fault.h"

namespace tessaly::platform {
namespace {

constexpr long kNanosPerSecond = 1000000000L;

void Advance(timespec &t, long nanos) {
    t.tv_nsec += nanos;
    while (t.tv_nsec >= kNanosPerSecond) {
        t.tv_nsec -= kNanosPerSecond;
        ++t.tv_sec;
    }
}

bool Before(const timespec &a, const timespec &b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

}  // namespace

bool PeriodicTicker::Start(std::chrono::microseconds period, std::function<void()> tick) {
    if (thread_.joinable() || period.count() <= 0 || ResourceRefused(Resource::kThread)) return false;
    stopping_ = false;
    const long nanos = static_cast<long>(std::chrono::nanoseconds(period).count());
    try {
        thread_ = std::thread([this, nanos, tick = std::move(tick)] {
            timespec next;
            clock_gettime(CLOCK_MONOTONIC, &next);
            Advance(next, nanos);
            while (!stopping_.load(std::memory_order_acquire)) {
                while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) != 0) {
                    // EINTR: sleep on to the same deadline.
                }
                if (stopping_.load(std::memory_order_acquire)) break;
                tick();
                Advance(next, nanos);
                timespec now;
                clock_gettime(CLOCK_MONOTONIC, &now);
                if (Before(next, now)) {
                    next = now;
                    Advance(next, nanos);
                }
            }
        });
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void PeriodicTicker::Stop() {
    if (!thread_.joinable()) return;
    stopping_.store(true, std::memory_order_release);
    thread_.join();
}

}  // namespace tessaly::platform
