// Fails a soak run that hangs: every library call a host thread makes is
// entered in that thread's slot, and a separate thread checks the slots
// twice a second. A call still running after the limit is reported with its
// thread, name and port, and the process aborts so that the run fails with a
// stack rather than waiting for an outer time-out.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace tessaly::soak {

class CallWatchdog {
public:
    CallWatchdog(int slots, std::chrono::milliseconds limit);
    ~CallWatchdog();
    CallWatchdog(const CallWatchdog &) = delete;
    CallWatchdog &operator=(const CallWatchdog &) = delete;

    void Enter(int slot, const char *call, uint32_t port);
    void Leave(int slot);

    // Runs `call` as the library call `name` on `port`, watched from `slot`.
    template <typename Call>
    int32_t Watch(int slot, const char *name, uint32_t port, Call call) {
        Enter(slot, name, port);
        const int32_t result = call();
        Leave(slot);
        calls_.fetch_add(1, std::memory_order_relaxed);
        return result;
    }

    uint64_t Calls() const { return calls_.load(std::memory_order_relaxed); }
    // The longest call seen so far, in milliseconds.
    int64_t LongestMillis() const { return longestMillis_.load(std::memory_order_relaxed); }
    const char *LongestCall() const { return longestCall_.load(std::memory_order_relaxed); }

private:
    struct Slot {
        std::atomic<int64_t> startedNanos{0};  // 0 when not in a call
        std::atomic<const char *> call{nullptr};
        std::atomic<uint32_t> port{0};
    };

    static int64_t NowNanos();
    void Run();

    std::vector<Slot> slots_;
    const std::chrono::milliseconds limit_;
    std::atomic<uint64_t> calls_{0};
    std::atomic<int64_t> longestMillis_{0};
    std::atomic<const char *> longestCall_{""};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tessaly::soak
