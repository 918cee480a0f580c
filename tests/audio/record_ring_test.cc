// The record ring against a plain model of its offsets and records, with
// random lengths that make records wrap in every possible way, and one writer
// and one reader thread at once.
#include "audio/record_ring.h"

#include <deque>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using tessaly::audio::kRingEmpty;
using tessaly::audio::kRingFull;
using tessaly::audio::kRingNoSize;
using tessaly::audio::kRingOk;
using tessaly::audio::kRingZeroLength;
using tessaly::audio::RecordRing;

uint32_t RecordSize(uint32_t length) { return (length + 3) / 4 * 4 + 4; }

std::vector<uint8_t> Payload(std::mt19937 &random, uint32_t length) {
    std::vector<uint8_t> bytes(length);
    for (uint8_t &b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

TEST(RecordRing, FollowsTheModelThroughEveryWrap) {
    std::mt19937 random(7);
    for (uint32_t size : {16u, 20u, 64u, 100u, 8192u}) {
        RecordRing ring;
        ASSERT_EQ(ring.Create(size), kRingOk);
        std::deque<std::vector<uint8_t>> queued;
        uint32_t read = 0, write = 0;
        uint64_t written = 0, taken = 0, writeErrors = 0, writeCalls = 0, readCalls = 0;
        std::vector<uint8_t> out(size);
        for (int step = 0; step < 20000; ++step) {
            SCOPED_TRACE(testing::Message() << "size " << size << " step " << step);
            if (random() % 2) {
                const uint32_t length = random() % 8 == 0 ? 0 : 1 + random() % (size / 2);
                const std::vector<uint8_t> data = Payload(random, length);
                const uint32_t free = read > write ? read - write : size - write + read;
                uint32_t recordSize = 0;
                const uint32_t result = ring.Write(data.data(), length, &recordSize);
                if (length == 0) {
                    ++writeErrors;
                    ASSERT_EQ(result, kRingZeroLength);
                    continue;
                }
                ++writeCalls;
                if (RecordSize(length) >= free) {
                    ASSERT_EQ(result, kRingFull);
                    continue;
                }
                ASSERT_EQ(result, kRingOk);
                ASSERT_EQ(recordSize, RecordSize(length));
                queued.push_back(data);
                write = (write + recordSize) % size;
                written += recordSize;
            } else {
                ++readCalls;
                uint32_t length = 0;
                const uint32_t result = ring.Read(out.data(), &length);
                if (queued.empty()) {
                    ASSERT_EQ(result, kRingEmpty);
                    continue;
                }
                ASSERT_EQ(result, kRingOk);
                ASSERT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + length), queued.front());
                read = (read + RecordSize(length)) % size;
                taken += RecordSize(length);
                queued.pop_front();
            }
            ASSERT_EQ(ring.UsedBytes(), read <= write ? write - read : size - read + write);
        }
        const RecordRing::Counters &counters = ring.Statistics();
        EXPECT_EQ(counters.bytesWritten, written);
        EXPECT_EQ(counters.bytesRead, taken);
        EXPECT_EQ(counters.writeErrors, writeErrors);
        EXPECT_EQ(counters.writeCalls, writeCalls);
        EXPECT_EQ(counters.readCalls, readCalls);
        EXPECT_EQ(counters.readFailures, 0u);
    }
}

TEST(RecordRing, SmallRingBoundaries) {
    RecordRing ring;
    EXPECT_EQ(ring.Create(0), kRingNoSize);
    uint8_t out[16];
    uint32_t length = 99;
    EXPECT_EQ(ring.Write("x", 1), kRingFull);  // no storage yet
    EXPECT_EQ(ring.Read(out, &length), kRingEmpty);
    ASSERT_EQ(ring.Create(16), kRingOk);

    // A record never fills the ring: 12 of 16 bytes fit once.
    const uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(ring.Write(eight, 8), kRingOk);
    EXPECT_EQ(ring.Write(eight, 8), kRingFull);
    EXPECT_EQ(ring.Read(out, &length), kRingOk);
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(ring.Read(out, &length), kRingEmpty);
    EXPECT_EQ(ring.Statistics().readFailures, 0u);

    // The write offset is at 12 now: the next prefix takes the last 4 bytes
    // and its whole payload lies at the start.
    EXPECT_EQ(ring.Write("abcde", 5), kRingOk);
    EXPECT_EQ(ring.UsedBytes(), 12u);
    EXPECT_EQ(ring.Write("", 0), kRingZeroLength);
    EXPECT_EQ(ring.UsedBytes(), 12u);
    EXPECT_EQ(ring.Read(out, &length), kRingOk);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 5), "abcde");

    // Discard empties what was written.
    EXPECT_EQ(ring.Write(eight, 4), kRingOk);
    ring.Discard();
    EXPECT_EQ(ring.UsedBytes(), 0u);
    EXPECT_EQ(ring.Read(out, &length), kRingEmpty);
}

// One writer and one reader thread, no lock: every record arrives whole and in
// order (ThreadSanitizer checks the publication of the offsets).
TEST(RecordRing, OneWriterOneReader) {
    RecordRing ring;
    ASSERT_EQ(ring.Create(1024), kRingOk);
    constexpr uint32_t kRecords = 100000;
    std::thread writer([&] {
        for (uint32_t n = 0; n < kRecords;) {
            uint8_t record[64];
            const uint32_t length = 4 + n % 57;
            for (uint32_t k = 0; k < length; ++k) record[k] = static_cast<uint8_t>(n + k);
            if (ring.Write(record, length) == kRingOk)
                ++n;
            else
                std::this_thread::yield();
        }
    });
    uint8_t out[64];
    for (uint32_t n = 0; n < kRecords;) {
        uint32_t length = 0;
        if (ring.Read(out, &length) != kRingOk) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(length, 4 + n % 57);
        for (uint32_t k = 0; k < length; ++k) ASSERT_EQ(out[k], static_cast<uint8_t>(n + k)) << "record " << n;
        ++n;
    }
    writer.join();
}

}  // namespace
