// The stream buffer's space rule, back-pressure and wrap-around.
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "player/stream_buffer.h"
#include "tessaly/kova.h"

using tessaly::player::StreamBuffer;

namespace {

constexpr uint32_t kCap = StreamBuffer::kCapacity;

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
    std::vector<uint8_t> scratch = std::vector<uint8_t>(StreamBuffer::kMaxFrame);

    // Takes the oldest frame out as the worker does.
    std::vector<uint8_t> Take() {
        const int32_t length = buffer.PeekLength();
        const uint8_t *bytes = buffer.FrameBytes(length, scratch.data());
        std::vector<uint8_t> out(bytes, bytes + length);
        buffer.Pop(length);
        return out;
    }
};

}  // namespace

TEST_F(StreamBufferTest, FrameSizeLimits) {
    EXPECT_EQ(buffer.Submit(Frame(393217, 1).data(), 393217), KOVA_ERR_INVALID_ARGUMENT);
    EXPECT_FALSE(buffer.WaitingForSps()) << "an oversize frame does not start the wait";
    EXPECT_EQ(buffer.Submit(Frame(393216, 1).data(), 393216), KOVA_OK);
    EXPECT_EQ(buffer.Fill(), 393216u);
    EXPECT_EQ(buffer.Submit(nullptr, 10), KOVA_ERR_INVALID_ARGUMENT);
}

TEST_F(StreamBufferTest, FrameMustBeStrictlySmallerThanTheFreeSpace) {
    // Leave exactly L bytes free: fill kCap - L.
    const uint32_t L = 1000;
    uint32_t used = 0;
    while (kCap - used - L > 300000) {
        ASSERT_EQ(buffer.Submit(Frame(300000, 2).data(), 300000), KOVA_OK);
        used += 300000;
    }
    const uint32_t pad = kCap - used - L;
    ASSERT_EQ(buffer.Submit(Frame(pad, 3).data(), pad), KOVA_OK);
    ASSERT_EQ(kCap - buffer.Fill(), L);
    EXPECT_EQ(buffer.Submit(Frame(L, 4).data(), L), KOVA_ERR_BUFFER_FULL);
    EXPECT_TRUE(buffer.WaitingForSps());
    // Free one byte more: L - 1 would have fit before; now only key frames are taken.
    Take();
    EXPECT_EQ(buffer.Submit(Frame(L, 5).data(), L), KOVA_OK) << "a non-key frame is dropped with 0";
    const int32_t queued = buffer.QueuedFrames();
    const auto key3 = [] {
        auto f = Frame(L, 6);
        f[3] = 0x67;  // 00 00 01 67: three-byte start code, not recognised
        return f;
    }();
    EXPECT_EQ(buffer.Submit(key3.data(), L), KOVA_OK);
    EXPECT_EQ(buffer.QueuedFrames(), queued);
    EXPECT_TRUE(buffer.WaitingForSps());
    EXPECT_EQ(buffer.Submit(Frame(L, 7, true).data(), L), KOVA_OK);
    EXPECT_FALSE(buffer.WaitingForSps());
    EXPECT_EQ(buffer.QueuedFrames(), queued + 1);
}

TEST_F(StreamBufferTest, WrappedFramesComeOutContiguousAndInOrder) {
    // Cycle enough data through the buffer that frames straddle the end many times.
    uint8_t seed = 0;
    std::vector<std::vector<uint8_t>> pending;
    size_t taken = 0;
    for (int round = 0; round < 200; ++round) {
        const uint32_t length = 1 + (round * 7919u) % 120000u;
        auto f = Frame(length, seed++);
        while (buffer.Submit(f.data(), length) == KOVA_ERR_BUFFER_FULL) {
            ASSERT_FALSE(pending.empty());
            ASSERT_EQ(Take(), pending.front()) << "frame " << taken;
            pending.erase(pending.begin());
            ++taken;
            // The refusal started a wait for a key frame; end it with one.
            f = Frame(length, seed, true);
        }
        pending.push_back(f);
    }
    while (!pending.empty()) {
        ASSERT_EQ(Take(), pending.front());
        pending.erase(pending.begin());
    }
    EXPECT_EQ(buffer.Fill(), 0u);
    EXPECT_EQ(buffer.QueuedFrames(), 0);
}

TEST_F(StreamBufferTest, LengthQueueGrowsWithoutLosingEntries) {
    for (uint32_t k = 1; k <= 3000; ++k) ASSERT_EQ(buffer.Submit(Frame(k % 97 + 1, 0).data(), k % 97 + 1), KOVA_OK);
    for (uint32_t k = 1; k <= 3000; ++k) {
        ASSERT_EQ(buffer.PeekLength(), static_cast<int32_t>(k % 97 + 1));
        buffer.Pop(buffer.PeekLength());
    }
    EXPECT_EQ(buffer.PeekLength(), 0);
}
