// A stop request shared by the feeder threads and the main loop; waits end
// early when it is raised.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tessaly::play {

class StopSignal {
public:
    void Raise() {
        {
            std::lock_guard lock(mutex_);
            raised_ = true;
        }
        changed_.notify_all();
    }
    bool Raised() {
        std::lock_guard lock(mutex_);
        return raised_;
    }
    // True when stopped before `deadline`.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        return changed_.wait_until(lock, deadline, [this] { return raised_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool raised_ = false;
};

}  // namespace tessaly::play
