// Paces a thread at a frame rate, the way a camera sends: one frame a period,
// no burst to catch up after a stall of more than a second.
#pragma once

#include <chrono>

#include "stop_signal.h"

namespace tessaly::play {

class FramePacer {
public:
    using Clock = std::chrono::steady_clock;

    FramePacer(double fps, StopSignal &stop)
        : period_(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps))), stop_(stop) {}

    // Sleeps until the next frame is due; false once stopped.
    bool Wait() {
        if (stop_.WaitUntil(due_)) return false;
        due_ += period_;
        const auto now = Clock::now();
        if (now - due_ > std::chrono::seconds(1)) due_ = now + period_;
        return true;
    }

private:
    Clock::duration period_;
    StopSignal &stop_;
    Clock::time_point due_ = Clock::now();
};

}  // namespace tessaly::play
