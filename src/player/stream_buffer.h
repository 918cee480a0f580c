// The live-stream input of a port: a 512 KiB circular byte store of video
// frames and the queue of their lengths, with the back-pressure rule.
//
// One host thread submits (under the port lock); the port's worker takes
// frames out. Each offset has one writer; the length queue is guarded by the
// player's QueueLock, which the caller passes in.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/recursive_lock.h"

namespace tessaly::player {

class StreamBuffer {
public:
    static constexpr uint32_t kCapacity = 524288;
    static constexpr uint32_t kMaxFrame = 393216;

    explicit StreamBuffer(platform::RecursiveLock &queueLock);

    // Submit result codes are the player's: 0, -504 (over the frame limit),
    // -508 (no room; the port then drops frames until one begins with a
    // sequence parameter set).
    int32_t Submit(const uint8_t *data, uint32_t length);

    // Used bytes.
    uint32_t Fill() const;

    // The oldest frame's length, or 0 when none is queued.
    int32_t PeekLength() const;
    // The oldest frame's bytes, contiguous: in place, or copied into scratch
    // (at least kMaxFrame bytes) when it wraps.
    const uint8_t *FrameBytes(int32_t length, uint8_t *scratch) const;
    // Drops the oldest frame; returns how many remain queued.
    int32_t Pop(int32_t length);

    int32_t QueuedFrames() const;
    bool WaitingForSps() const { return waitForSps_; }

private:
    void Append(int32_t length);

    platform::RecursiveLock &queueLock_;
    std::unique_ptr<uint8_t[]> bytes_;
    std::atomic<uint32_t> readOffset_{0};
    std::atomic<uint32_t> writeOffset_{0};
    bool waitForSps_ = false;

    // FrameLengthQueue: a growable array, oldest first.
    std::unique_ptr<int32_t[]> lengths_;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
};

}  // namespace tessaly::player
