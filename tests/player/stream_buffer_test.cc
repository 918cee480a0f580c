// The stream buffer's space rule, back-pressure, wrap-around and growth.
#include <atomic>
#include <cstring>
#include <deque>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "player/stream_buffer.h"
#include "tessaly/kova.h"

using tessaly::player::StreamBuffer;

namespace {

constexpr uint32_t kCap = StreamBuffer::kMinCapacity;
constexpr uint32_t kLimit = StreamBuffer::kMinFrameLimit;
constexpr uint32_t k4kLimit = 3840 * 2160 * 3 / 8;

std::vector<uint8_t> Frame(uint32_t length, uint8_t seed, bool keyFrame = false) {
    std::vector<uint8_t> f(length);
    for (uint32_t k = 0; k < length; ++k) f[k] = static_cast<uint8_t>(seed + k * 7);
    if (length >= 5) {
        f[0] = f[1] = f[2] = 0;
        f[3] = 1;
        f[4] = keyFrame ? 0x67 : 0x41;
    }
    return f;
}

class StreamBufferTest : public ::testing::Test {
protected:
    tessaly::platform::RecursiveLock queueLock;
    StreamBuffer buffer{queueLock};
    std::deque<std::vector<uint8_t>> pending;  // submitted, not yet taken
    uint8_t seed = 0;

    bool Put(uint32_t length) {
        pending.push_back(Frame(length, seed++));
        return buffer.Submit(pending.back().data(), length) == KOVA_OK;
    }
    // Takes the oldest frame out as the worker does; false (and a failure)
    // when it is not the oldest one put in.
    bool TakeAndCheck() {
        if (pending.empty()) return false;
        const StreamBuffer::Frame frame = buffer.TakeFront();
        const bool same = std::vector<uint8_t>(frame.bytes, frame.bytes + frame.length) == pending.front();
        buffer.Pop(frame.length);
        EXPECT_TRUE(same) << pending.size() << " frames before the last one put in";
        pending.pop_front();
        return same;
    }
    // Cycles frames of up to maxLength through the buffer so that they
    // straddle its end many times, then takes everything out.
    void CycleAndDrain(int rounds, uint32_t maxLength) {
        for (int round = 0; round < rounds; ++round) {
            const uint32_t length = 1 + (round * 7919u) % maxLength;
            auto f = Frame(length, seed++);
            while (buffer.Submit(f.data(), length) == KOVA_ERR_BUFFER_FULL) {
                ASSERT_TRUE(TakeAndCheck());
                // The refusal started a wait for a key frame; end it with one.
                f = Frame(length, f[5], true);
            }
            pending.push_back(f);
        }
        while (!pending.empty()) ASSERT_TRUE(TakeAndCheck());
        EXPECT_EQ(buffer.Fill(), 0u);
        EXPECT_EQ(buffer.QueuedFrames(), 0);
    }
};

}  // namespace

TEST_F(StreamBufferTest, RefusalsTheStrictSpaceRuleAndTheWaitForAKeyFrame) {
    EXPECT_EQ(buffer.Submit(nullptr, 10), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(buffer.Submit(Frame(1, 1).data(), 0), KOVA_ERR_INVALID_ARGUMENT)
        << "an empty frame would stall the worker";
    EXPECT_EQ(buffer.Submit(Frame(kLimit + 1, 1).data(), kLimit + 1), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_FALSE(buffer.WaitingForSps()) << "a refused argument does not start the wait";

    // Exactly L bytes free: a frame of L is refused, as the offsets must never meet over data.
    const uint32_t L = 1000;
    ASSERT_TRUE(Put(kLimit));
    ASSERT_TRUE(Put(kCap - kLimit - L));
    ASSERT_EQ(kCap - buffer.Fill(), L);
    EXPECT_EQ(buffer.Submit(Frame(L, 4).data(), L), KOVA_ERR_BUFFER_FULL);
    EXPECT_TRUE(buffer.WaitingForSps());

    // With room again, frames are dropped with KOVA_OK until one begins 00 00 00 01 and an SPS.
    ASSERT_TRUE(TakeAndCheck());
    auto threeByteStart = Frame(L, 6);
    threeByteStart[3] = 0x67;
    for (const auto &dropped : {Frame(L, 5), Frame(4, 5), threeByteStart})
        EXPECT_EQ(buffer.Submit(dropped.data(), static_cast<uint32_t>(dropped.size())), KOVA_OK);
    EXPECT_EQ(buffer.QueuedFrames(), 1);
    EXPECT_TRUE(buffer.WaitingForSps());
    EXPECT_EQ(buffer.Submit(Frame(L, 7, true).data(), L), KOVA_OK);
    EXPECT_FALSE(buffer.WaitingForSps());
    EXPECT_EQ(buffer.QueuedFrames(), 2);
}

TEST_F(StreamBufferTest, WrappedFramesComeOutContiguousAndInOrder) { CycleAndDrain(200, 120000); }

TEST_F(StreamBufferTest, LengthQueueGrowsWithoutLosingEntries) {
    for (uint32_t k = 1; k <= 3000; ++k) ASSERT_TRUE(Put(k % 97 + 1));
    while (!pending.empty()) ASSERT_TRUE(TakeAndCheck());
    EXPECT_EQ(buffer.TakeFront().length, 0u);
}

TEST_F(StreamBufferTest, ReserveRaisesTheLimitSoThreeFramesFitAndNeverShrinks) {
    ASSERT_NO_FATAL_FAILURE(CycleAndDrain(40, 120000));  // growth with the offsets away from 0
    ASSERT_TRUE(buffer.Reserve(k4kLimit));
    EXPECT_EQ(buffer.FrameLimit(), k4kLimit);
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(Put(k4kLimit));
    ASSERT_NO_FATAL_FAILURE(CycleAndDrain(60, 2 * k4kLimit / 3));

    const uint32_t capacity = buffer.Capacity();
    EXPECT_TRUE(buffer.Reserve(kLimit));
    EXPECT_EQ(buffer.FrameLimit(), k4kLimit);
    EXPECT_EQ(buffer.Capacity(), capacity);
    // A nonsense picture size gets the decoder's largest, not more.
    ASSERT_TRUE(buffer.Reserve(UINT32_MAX));
    EXPECT_EQ(buffer.FrameLimit(), StreamBuffer::kMaxFrameLimit);
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(Put(StreamBuffer::kMaxFrameLimit));
    while (!pending.empty()) ASSERT_TRUE(TakeAndCheck());
}

TEST_F(StreamBufferTest, GrowingOverWrappedFramesKeepsThemExactAndInOrder) {
    // A frame straddles the end and another sits at the start; the worker has
    // taken the straddling one (copied out) and pops it only after the growth.
    ASSERT_TRUE(Put(200000));
    ASSERT_TRUE(Put(200000));
    ASSERT_TRUE(TakeAndCheck());
    ASSERT_TRUE(Put(200000));  // [400000, 600000): wraps
    ASSERT_TRUE(TakeAndCheck());
    ASSERT_TRUE(Put(100000));
    const StreamBuffer::Frame taken = buffer.TakeFront();
    ASSERT_TRUE(buffer.Reserve(1000000));
    ASSERT_EQ(std::vector<uint8_t>(taken.bytes, taken.bytes + taken.length), pending.front())
        << "taken bytes must stay put";
    buffer.Pop(taken.length);
    pending.pop_front();
    ASSERT_TRUE(TakeAndCheck());

    // Both offsets now stand at 700000 (the head went to just past 524288).
    // Queue data up to exactly the end, so the write offset is back at 0.
    const uint32_t capacity = buffer.Capacity();
    for (const uint32_t length : {1000000u, 1000000u, capacity - 2700000}) ASSERT_TRUE(Put(length));
    ASSERT_TRUE(buffer.Reserve(k4kLimit));
    ASSERT_TRUE(Put(3000));
    EXPECT_EQ(buffer.Fill(), capacity - 700000 + 3000);
    ASSERT_NO_FATAL_FAILURE(CycleAndDrain(60, k4kLimit));
}

TEST(StreamBufferThreads, GrowsWhileTheWorkerTakesFrames) {
    tessaly::platform::RecursiveLock queueLock;
    StreamBuffer buffer{queueLock};
    // Frame i is noise at its own offset, of a length up to the limit in force, which rises every 20 frames.
    // Every frame begins a key frame, so a refused one can simply be sent again.
    constexpr int kFrames = 200;
    struct Planned {
        uint32_t limit, length, offset;
    };
    std::vector<Planned> plan(kFrames);
    std::mt19937 random(7);
    std::vector<uint8_t> noise(kLimit + kFrames / 20 * 200000 + 4096);
    for (uint8_t &b : noise) b = uint8_t(random());
    for (int i = 0; i < kFrames; ++i) {
        const uint32_t limit = kLimit + (i + 1) / 20 * 200000;
        plan[i] = {limit, 5 + uint32_t(random() % (limit - 4)), uint32_t(i * 997 % 4096)};
        noise[plan[i].offset + 4] = 0x67;
    }

    // A fault must not hang the test: the worker drains whatever comes, noting
    // the first frame that is not as submitted.
    std::atomic<bool> submitting{true};
    std::atomic<int> firstBad{-1};
    std::thread worker([&] {
        for (int i = 0; i < kFrames;) {
            const bool finished = !submitting.load();
            const StreamBuffer::Frame taken = buffer.TakeFront();
            if (taken.length == 0) {
                if (finished) return;
                std::this_thread::yield();
                continue;
            }
            const Planned &p = plan[i];
            if (firstBad < 0 &&
                (taken.length != p.length || std::memcmp(taken.bytes, noise.data() + p.offset, p.length) != 0))
                firstBad = i;
            buffer.Pop(taken.length);
            ++i;
        }
    });
    for (int i = 0; i < kFrames; ++i) {
        const Planned &p = plan[i];
        // Sent until there is room: every frame must arrive. Only the read
        // offset tells the submitter that bytes are free again.
        int32_t result = buffer.Reserve(p.limit) ? KOVA_ERR_BUFFER_FULL : KOVA_ERR_INVALID_ARGUMENT;
        while (result == KOVA_ERR_BUFFER_FULL) {
            result = buffer.Submit(noise.data() + p.offset, p.length);
            if (result == KOVA_ERR_BUFFER_FULL) std::this_thread::yield();
        }
        if (result != KOVA_OK) {
            ADD_FAILURE() << "frame " << i << " refused or its limit not reserved";
            break;
        }
    }
    submitting = false;
    worker.join();
    EXPECT_EQ(firstBad, -1) << "the first frame taken out wrong";
}
