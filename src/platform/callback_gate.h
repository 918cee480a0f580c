// A gate around calls into host code that can be closed: once Close returns,
// no call enters any more (until Reopen), and Close waits (with a deadline)
// for one that is inside. A call that closes the gate from inside itself does
// not wait for itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tessaly::platform {

class CallbackGate {
public:
    // True when the gate is open; the caller then makes its call and Leaves.
    bool Enter() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return false;
        inside_ = std::this_thread::get_id();
        return true;
    }
    void Leave() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            inside_ = std::thread::id();
        }
        left_.notify_all();
    }
    // Closes the gate; true when no other thread is inside by the deadline.
    bool Close(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock<std::mutex> lock(mutex_);
        closed_ = true;
        return left_.wait_until(
            lock, deadline, [this] { return inside_ == std::thread::id() || inside_ == std::this_thread::get_id(); });
    }

    void Reopen() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable left_;
    std::thread::id inside_;  // the thread inside, if any
    bool closed_ = false;
};

}  // namespace tessaly::platform
