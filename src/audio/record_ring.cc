#include "audio/record_ring.h"

#include <cstring>
#include <new>

#include "platform/trace.h"

namespace tessaly::audio {

namespace {

// Payload bytes a record of length L occupies (L rounded up to a multiple
// of 4), and the whole record with its prefix; 0 for a length so large that
// the rounding wraps (both sides treat that as no record).
uint32_t Padded(uint32_t length) { return (length + 3u) & ~3u; }
uint32_t RecordBytes(uint32_t length) { return length > 0xFFFFFFF0u ? 0 : Padded(length) + 4u; }

uint32_t UsedSpace(uint32_t size, uint32_t read, uint32_t write) {
    if (read == write) return 0;
    return read < write ? write - read : size - read + write;
}

}  // namespace

uint32_t RecordRing::Create(uint32_t size) {
    if (size == 0) return kRingNoSize;
    storage_.reset();
    size_ = 0;
    storage_.reset(new uint8_t[size]());
    size_ = size;
    write_.store(0, std::memory_order_relaxed);
    read_.store(0, std::memory_order_relaxed);
    counters_ = Counters{};
    return kRingOk;
}

uint32_t RecordRing::FreeForWriter(uint32_t read, uint32_t write) const {
    if (!storage_) return 3;  // too little for any record
    return read > write ? read - write : size_ - write + read;
}

uint32_t RecordRing::Write(const void *data, uint32_t length, uint32_t *recordSize) {
    if (length == 0) {
        ++counters_.writeErrors;
        platform::Trace("RB WR_ERR : ulDataLen=%u.", length);
        return kRingZeroLength;
    }
    ++counters_.writeCalls;
    const uint32_t record = RecordBytes(length);
    const uint32_t write = write_.load(std::memory_order_relaxed);
    const uint32_t read = read_.load(std::memory_order_acquire);
    if (record == 0 || record >= FreeForWriter(read, write)) return kRingFull;

    uint8_t *base = storage_.get();
    std::memcpy(base + write, &length, 4);
    const auto *bytes = static_cast<const uint8_t *>(data);
    uint32_t next;
    if (write + record < size_) {
        std::memcpy(base + write + 4, bytes, length);
        next = write + record;
    } else {
        // The record reaches or passes the end: the payload continues at the start.
        const uint32_t first = size_ - write;
        const uint32_t head = first - 4 < length ? first - 4 : length;
        std::memcpy(base + write + 4, bytes, head);
        std::memcpy(base, bytes + head, length - head);
        next = record - first;
    }
    if (recordSize != nullptr) *recordSize = record;
    counters_.bytesWritten += record;
    write_.store(next, std::memory_order_release);
    return kRingOk;
}

uint32_t RecordRing::Read(void *output, uint32_t *length) {
    ++counters_.readCalls;
    const uint32_t read = read_.load(std::memory_order_relaxed);
    const uint32_t used = UsedSpace(size_, read, write_.load(std::memory_order_acquire));
    if (used == 0) return kRingEmpty;

    const uint8_t *base = storage_.get();
    uint32_t payload;
    std::memcpy(&payload, base + read, 4);
    *length = payload;
    const uint32_t record = RecordBytes(payload);
    if (record == 0 || record > size_ || record > used) {
        ++counters_.readFailures;
        return kRingEmpty;
    }
    auto *out = static_cast<uint8_t *>(output);
    const uint32_t padded = record - 4;
    uint32_t next;
    if (read + record < size_) {
        std::memcpy(out, base + read + 4, padded);
        next = read + record;
    } else {
        const uint32_t first = size_ - read;
        std::memcpy(out, base + read + 4, first - 4);
        std::memcpy(out + (first - 4), base, padded - (first - 4));
        next = record - first;
    }
    counters_.bytesRead += record;
    read_.store(next, std::memory_order_release);
    return kRingOk;
}

uint32_t RecordRing::UsedBytes() const {
    return UsedSpace(size_, read_.load(std::memory_order_relaxed), write_.load(std::memory_order_acquire));
}

void RecordRing::Discard() { read_.store(write_.load(std::memory_order_acquire), std::memory_order_release); }

}  // namespace tessaly::audio
