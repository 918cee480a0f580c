#include "player/stream_buffer.h"

#include <algorithm>
#include <cstring>

#include "tessaly/kova.h"

namespace tessaly::player {

StreamBuffer::StreamBuffer(platform::RecursiveLock &queueLock)
    : queueLock_(queueLock), bytes_(new uint8_t[kCapacity]) {}

uint32_t StreamBuffer::Fill() const {
    const uint32_t read = readOffset_.load(std::memory_order_acquire);
    const uint32_t write = writeOffset_.load(std::memory_order_acquire);
    if (read == write) return 0;
    return read < write ? write - read : kCapacity - (read - write);
}

int32_t StreamBuffer::Submit(const uint8_t *data, uint32_t length) {
    if (data == nullptr || length > kMaxFrame) return KOVA_ERR_INVALID_ARGUMENT;
    if (waitForSps_) {
        // Only a frame that starts a key frame (00 00 00 01 then an SPS) ends the wait.
        if (length < 5 || (data[4] & 0x1F) != 7) return KOVA_OK;
        waitForSps_ = false;
    }
    const uint32_t free = kCapacity - Fill();
    if (free <= length) {  // strictly smaller: the offsets must never meet over data
        waitForSps_ = true;
        return KOVA_ERR_BUFFER_FULL;
    }
    const uint32_t write = writeOffset_.load(std::memory_order_relaxed);
    const uint32_t first = std::min(length, kCapacity - write);
    std::memcpy(bytes_.get() + write, data, first);
    std::memcpy(bytes_.get(), data + first, length - first);
    {
        platform::ScopedLock lock(queueLock_);
        Append(static_cast<int32_t>(length));
    }
    writeOffset_.store((write + length) % kCapacity, std::memory_order_release);
    return KOVA_OK;
}

void StreamBuffer::Append(int32_t length) {
    if (count_ == capacity_) {
        // Grow by an eighth of the count, at least 4 and at most 1024 entries.
        const int32_t step = std::clamp(count_ / 8, 4, 1024);
        std::unique_ptr<int32_t[]> grown(new int32_t[capacity_ + step]);
        std::copy(lengths_.get(), lengths_.get() + count_, grown.get());
        lengths_ = std::move(grown);
        capacity_ += step;
    }
    lengths_[count_++] = length;
}

int32_t StreamBuffer::PeekLength() const {
    platform::ScopedLock lock(queueLock_);
    return count_ ? lengths_[0] : 0;
}

const uint8_t *StreamBuffer::FrameBytes(int32_t length, uint8_t *scratch) const {
    const uint32_t read = readOffset_.load(std::memory_order_relaxed);
    const uint32_t len = static_cast<uint32_t>(length);
    if (kCapacity - read >= len) return bytes_.get() + read;
    const uint32_t first = kCapacity - read;
    std::memcpy(scratch, bytes_.get() + read, first);
    std::memcpy(scratch + first, bytes_.get(), len - first);
    return scratch;
}

int32_t StreamBuffer::Pop(int32_t length) {
    readOffset_.store((readOffset_.load(std::memory_order_relaxed) + static_cast<uint32_t>(length)) % kCapacity,
                      std::memory_order_release);
    platform::ScopedLock lock(queueLock_);
    if (count_ == 0) return 0;
    std::copy(lengths_.get() + 1, lengths_.get() + count_, lengths_.get());
    return --count_;
}

int32_t StreamBuffer::QueuedFrames() const {
    platform::ScopedLock lock(queueLock_);
    return count_;
}

}  // namespace tessaly::player
