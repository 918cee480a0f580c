#include "player/stream_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "tessaly/kova.h"

namespace tessaly::player {

namespace {

using platform::ReservedMemory;

// Three frames of the limit, plus the byte that keeps the write offset from
// catching up with the read offset.
uint32_t CapacityFor(uint32_t frameLimit) {
    return std::max<uint32_t>(StreamBuffer::kMinCapacity, ReservedMemory::RoundUpToPage(3ull * frameLimit + 1));
}

uint32_t Used(uint32_t read, uint32_t write, uint32_t capacity) {
    return read <= write ? write - read : capacity - (read - write);
}

}  // namespace

StreamBuffer::StreamBuffer(platform::RecursiveLock &queueLock) : queueLock_(queueLock) {
    // Growing over wrapped data moves its head past the old end, which can
    // take up to twice the old capacity.
    if (!ring_.Reserve(2ull * CapacityFor(kMaxFrameLimit)) || !ring_.Commit(kMinCapacity) ||
        !scratch_.Reserve(kMaxFrameLimit) || !scratch_.Commit(kMinFrameLimit))
        throw std::bad_alloc();
}

bool StreamBuffer::Reserve(uint32_t frameLimit) {
    frameLimit = std::min(frameLimit, kMaxFrameLimit);
    if (frameLimit <= FrameLimit()) return true;
    if (!scratch_.Commit(frameLimit)) return false;
    const uint32_t needed = CapacityFor(frameLimit);
    const uint32_t capacity = Capacity();
    if (needed > capacity) {
        platform::ScopedLock lock(queueLock_);
        const uint32_t read = readOffset_.load(std::memory_order_relaxed);
        const uint32_t write = writeOffset_.load(std::memory_order_relaxed);
        // Queued data that wraps keeps its place from the read offset on; its
        // head [0, write) is copied to just past the old end, so every queued
        // frame becomes contiguous. The frame the worker may be reading in
        // place lies in [read, capacity) and is left alone.
        const bool wrapped = write < read;
        const uint32_t grown =
            wrapped ? std::max<uint32_t>(needed, ReservedMemory::RoundUpToPage(capacity + write + 1)) : needed;
        if (!ring_.Commit(grown)) return false;
        if (wrapped) {
            std::memcpy(ring_.Data() + capacity, ring_.Data(), write);
            writeOffset_.store(capacity + write, std::memory_order_relaxed);
        }
        capacity_.store(grown, std::memory_order_relaxed);
    }
    frameLimit_.store(frameLimit, std::memory_order_relaxed);
    return true;
}

uint32_t StreamBuffer::Fill() const {
    platform::ScopedLock lock(queueLock_);
    return Used(readOffset_.load(std::memory_order_relaxed), writeOffset_.load(std::memory_order_relaxed), Capacity());
}

int32_t StreamBuffer::Submit(const uint8_t *data, uint32_t length, bool standsAlone) {
    if (data == nullptr || length == 0 || length > FrameLimit()) return KOVA_ERR_INVALID_ARGUMENT;
    if (waitForSps_ && !standsAlone) {
        // Only a frame that starts a key frame (00 00 00 01 then an SPS) ends the wait.
        if (length < 5 || (data[4] & 0x1F) != 7) {
            refused_.store(Refused() + 1, std::memory_order_relaxed);
            return KOVA_OK;
        }
        waitForSps_ = false;
    }
    RewindWhenEmpty();
    // Capacity and write offset change only on this thread; the read offset
    // only advances, and its release by Pop hands the bytes behind it back.
    const uint32_t capacity = Capacity();
    const uint32_t write = writeOffset_.load(std::memory_order_relaxed);
    const uint32_t free = capacity - Used(readOffset_.load(std::memory_order_acquire), write, capacity);
    if (free <= length) {  // strictly smaller: the offsets must never meet over data
        waitForSps_ = true;
        refused_.store(Refused() + 1, std::memory_order_relaxed);
        return KOVA_ERR_BUFFER_FULL;
    }
    const uint32_t first = std::min(length, capacity - write);
    std::memcpy(ring_.Data() + write, data, first);
    std::memcpy(ring_.Data(), data + first, length - first);
    platform::ScopedLock lock(queueLock_);
    Append(static_cast<int32_t>(length));
    writeOffset_.store((write + length) % capacity, std::memory_order_relaxed);
    accepted_.store(Accepted() + 1, std::memory_order_relaxed);
    return KOVA_OK;
}

// A stream decoded as it arrives keeps the store nearly empty. Starting
// again from its beginning whenever it is empty keeps the frames in the same
// few pages, instead of touching (and keeping resident) the whole store as
// the offsets go round. No frame is being read then: a frame stays queued
// until the worker is done with it.
void StreamBuffer::RewindWhenEmpty() {
    platform::ScopedLock lock(queueLock_);
    if (count_ != 0) return;
    readOffset_.store(0, std::memory_order_relaxed);
    writeOffset_.store(0, std::memory_order_relaxed);
}

void StreamBuffer::Append(int32_t length) {
    if (count_ == lengthsCapacity_) {
        // Grow by an eighth of the count, at least 4 and at most 1024 entries.
        const int32_t step = std::clamp(count_ / 8, 4, 1024);
        std::unique_ptr<int32_t[]> grown(new int32_t[lengthsCapacity_ + step]);
        std::copy(lengths_.get(), lengths_.get() + count_, grown.get());
        lengths_ = std::move(grown);
        lengthsCapacity_ += step;
    }
    lengths_[count_++] = length;
}

StreamBuffer::Frame StreamBuffer::TakeFront() {
    platform::ScopedLock lock(queueLock_);
    if (count_ == 0) return {nullptr, 0};
    const uint32_t length = static_cast<uint32_t>(lengths_[0]);
    const uint32_t read = readOffset_.load(std::memory_order_relaxed);
    const uint32_t capacity = Capacity();
    if (capacity - read >= length) return {ring_.Data() + read, length};
    // Copied under the lock: once a growth has moved the head, its old place
    // is free space the submitter may overwrite.
    const uint32_t first = capacity - read;
    std::memcpy(scratch_.Data(), ring_.Data() + read, first);
    std::memcpy(scratch_.Data() + first, ring_.Data(), length - first);
    return {scratch_.Data(), length};
}

int32_t StreamBuffer::Pop(int32_t length) {
    platform::ScopedLock lock(queueLock_);
    if (count_ == 0) return 0;
    const uint32_t read = readOffset_.load(std::memory_order_relaxed);
    readOffset_.store((read + static_cast<uint32_t>(length)) % Capacity(), std::memory_order_release);
    std::copy(lengths_.get() + 1, lengths_.get() + count_, lengths_.get());
    return --count_;
}

int32_t StreamBuffer::QueuedFrames() const {
    platform::ScopedLock lock(queueLock_);
    return count_;
}

}  // namespace tessaly::player
