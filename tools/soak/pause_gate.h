// Lets one thread stop the host threads between their steps, do something
// no other call may overlap (KOVA_DeInit and KOVA_Init), and let them go on.
#pragma once

#include <condition_variable>
#include <mutex>

namespace tessaly::soak {

class PauseGate {
public:
    explicit PauseGate(int threads) : active_(threads) {}

    // Called by each host thread between steps: waits while a pause holds.
    void Checkpoint() {
        std::unique_lock lock(mutex_);
        if (!pausing_) return;
        ++parked_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !pausing_; });
        --parked_;
    }
    // A host thread that ends counts as parked from then on.
    void Leave() {
        std::lock_guard lock(mutex_);
        --active_;
        changed_.notify_all();
    }
    // Returns once every host thread is parked (or has left).
    void PauseAll() {
        std::unique_lock lock(mutex_);
        pausing_ = true;
        changed_.wait(lock, [this] { return parked_ == active_; });
    }
    void ResumeAll() {
        std::lock_guard lock(mutex_);
        pausing_ = false;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int active_;  // host threads that have not ended
    int parked_ = 0;
    bool pausing_ = false;
};

}  // namespace tessaly::soak
