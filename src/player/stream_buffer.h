// The live-stream input of a port: a circular byte store of video frames and
// the queue of their lengths, with the back-pressure rule.
//
// The store starts at 512 KiB and grows with the pictures the stream
// announces, so that three of its largest frames fit. Its address range is
// reserved once for the decoder's largest picture and committed as it grows,
// so growing never moves bytes the worker is reading, and taking frames out
// never allocates.
//
// One host thread submits and reserves (under the port lock); the port's
// worker takes frames out. Capacity, offsets and the length queue change
// under the player's QueueLock, which the caller passes in.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/recursive_lock.h"
#include "platform/reserved_memory.h"

namespace tessaly::player {

class StreamBuffer {
public:
    static constexpr uint32_t kMinCapacity = 524288;
    static constexpr uint32_t kMinFrameLimit = 393216;
    static constexpr uint32_t kMaxFrameLimit = 5632 * 4096 * 3 / 8;  // the decoder's largest picture

    // Throws std::bad_alloc when its memory cannot be had.
    explicit StreamBuffer(platform::RecursiveLock &queueLock);

    // Raises the frame limit to frameLimit (at most kMaxFrameLimit) and grows
    // the store to hold three such frames; a lower limit changes nothing.
    // False when the memory cannot be had: the old limits stay.
    bool Reserve(uint32_t frameLimit);

    // Submit result codes are the player's: KOVA_OK, KOVA_ERR_INVALID_ARGUMENT
    // (empty or over the frame limit), KOVA_ERR_BUFFER_FULL (no room; the port
    // then drops frames until one begins with a sequence parameter set). A
    // frame that does not depend on earlier ones (a JPEG picture) is taken
    // while the port waits, and does not end the wait.
    int32_t Submit(const uint8_t *data, uint32_t length, bool standsAlone = false);

    struct Frame {
        const uint8_t *bytes;
        uint32_t length;  // 0: none queued
    };
    // The oldest frame, contiguous: in place, or copied into the buffer's
    // scratch when it wraps. Its bytes stay put until it is popped.
    Frame TakeFront();
    // Drops the oldest frame; returns how many remain queued.
    int32_t Pop(int32_t length);

    uint32_t Capacity() const { return capacity_.load(std::memory_order_relaxed); }
    uint32_t FrameLimit() const { return frameLimit_.load(std::memory_order_relaxed); }
    // Used bytes.
    uint32_t Fill() const;
    int32_t QueuedFrames() const;
    bool WaitingForSps() const { return waitForSps_; }
    // Frames queued, and frames refused for want of room or dropped while
    // waiting for a sequence parameter set.
    uint32_t Accepted() const { return accepted_.load(std::memory_order_relaxed); }
    uint32_t Refused() const { return refused_.load(std::memory_order_relaxed); }

private:
    void RewindWhenEmpty();
    void Append(int32_t length);

    platform::RecursiveLock &queueLock_;
    platform::ReservedMemory ring_;
    // Where a frame that wraps is made contiguous for the worker.
    platform::ReservedMemory scratch_;
    std::atomic<uint32_t> capacity_{kMinCapacity};
    std::atomic<uint32_t> frameLimit_{kMinFrameLimit};
    std::atomic<uint32_t> readOffset_{0};
    std::atomic<uint32_t> writeOffset_{0};
    bool waitForSps_ = false;
    // Written by the submitting thread only.
    std::atomic<uint32_t> accepted_{0}, refused_{0};

    // FrameLengthQueue: a growable array, oldest first.
    std::unique_ptr<int32_t[]> lengths_;
    int32_t count_ = 0;
    int32_t lengthsCapacity_ = 0;
};

}  // namespace tessaly::player
