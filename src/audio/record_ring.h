// A ring of length-prefixed byte records for one writer thread and one reader
// thread, with no lock between them: the sound path's queue from the decoding
// side to the sound device's thread.
//
// Each record is a 32-bit little-endian length L followed by the payload,
// padded to a multiple of 4; it takes R = round4(L) + 4 bytes. A record may
// wrap (its payload continues at the start of the storage) but its length
// prefix never does. A record never fills the ring completely, so equal read
// and write offsets always mean empty.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace tessaly::audio {

enum RingResult : uint32_t {
    kRingOk = 0,
    kRingNoSize = 0x1020001,      // Create with size 0
    kRingEmpty = 0x1020003,       // no whole record to read
    kRingFull = 0x1020004,        // no room for the record
    kRingZeroLength = 0x1020005,  // a record of length 0 refused
};

class RecordRing {
public:
    RecordRing() = default;
    RecordRing(const RecordRing &) = delete;
    RecordRing &operator=(const RecordRing &) = delete;

    // (Re)allocates zeroed storage of `size` bytes (a multiple of 4) and empties
    // the ring. Neither side may run meanwhile.
    uint32_t Create(uint32_t size);
    bool Created() const { return storage_ != nullptr; }
    uint32_t Size() const { return size_; }

    // Writer side. Stores `length` bytes as one record; `recordSize`, when not
    // null, receives the bytes the record takes.
    uint32_t Write(const void *data, uint32_t length, uint32_t *recordSize = nullptr);

    // Reader side. Copies the oldest record's payload, padded to a multiple of
    // 4 (the output must hold that much; at most Size() - 4), and its length.
    uint32_t Read(void *output, uint32_t *length);
    // Bytes of whole records waiting, as the reader sees them.
    uint32_t UsedBytes() const;
    // Drops everything written so far. Reader side: only while no reader runs.
    void Discard();

    // Statistics; each side's counters are meant to be read by that side, or
    // once both are idle.
    struct Counters {
        uint64_t readFailures = 0;  // Read found a damaged length
        uint64_t writeErrors = 0;   // Write of length 0
        uint64_t bytesWritten = 0;
        uint64_t bytesRead = 0;
        uint64_t readCalls = 0;
        uint64_t writeCalls = 0;  // with a non-zero length
    };
    const Counters &Statistics() const { return counters_; }

private:
    uint32_t FreeForWriter(uint32_t read, uint32_t write) const;

    std::unique_ptr<uint8_t[]> storage_;
    uint32_t size_ = 0;
    std::atomic<uint32_t> write_{0};
    std::atomic<uint32_t> read_{0};
    Counters counters_;
};

}  // namespace tessaly::audio
