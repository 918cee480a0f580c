// A dedicated thread that calls a function every `period` on absolute
// deadlines (CLOCK_MONOTONIC), so the rate does not drift with the time the
// calls take. A call that overruns whole periods skips them rather than
// bursting to catch up.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace tessaly::platform {

class PeriodicTicker {
public:
    PeriodicTicker() = default;
    ~PeriodicTicker() { Stop(); }
    PeriodicTicker(const PeriodicTicker &) = delete;
    PeriodicTicker &operator=(const PeriodicTicker &) = delete;

    // The first call comes one period after Start. False if already running or
    // the thread could not be created.
    bool Start(std::chrono::microseconds period, std::function<void()> tick);
    // Returns once the thread has ended; no call is running or will start.
    // Must not be called from inside the tick.
    void Stop();
    bool Running() const { return thread_.joinable(); }

private:
    std::thread thread_;
    std::atomic<bool> stopping_{false};
};

}  // namespace tessaly::platform
