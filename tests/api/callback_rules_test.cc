// What a decoded-frame callback may do on its own port: close it (the close
// returns at once and no callback follows) and throw (the port goes on).
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "stream_file.h"
#include "tessaly/kova.h"

using namespace std::chrono_literals;

namespace {

constexpr uint32_t kPort = 9;

struct CloseProbe {
    std::atomic<int> calls{0};
    std::atomic<int32_t> closeResult{1};
    std::atomic<int64_t> closeMicroseconds{-1};
};

void CloseOnThirdPicture(int32_t, uint8_t *, int32_t, int32_t, int32_t, intptr_t user) {
    auto *probe = reinterpret_cast<CloseProbe *>(user);
    if (++probe->calls != 3) return;
    const auto t0 = std::chrono::steady_clock::now();
    probe->closeResult = KOVA_Close(kPort);
    probe->closeMicroseconds =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
    // The port is closed already: calls on it are answered, not waited for.
    uint32_t capacity, fill;
    if (KOVA_GetStreamBufInfo(kPort, &capacity, &fill) != KOVA_ERR_NOT_OPEN) probe->closeResult = 2;
}

void Throw(int32_t, uint8_t *, int32_t, int32_t, int32_t, intptr_t user) {
    ++*reinterpret_cast<std::atomic<int> *>(user);
    throw std::runtime_error("host bug");
}

class CallbackRules : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(KOVA_Init(), KOVA_OK);
        units = AccessUnits(ReadFile(std::string(TESSALY_TESTDATA) + "/h264/conf/BA1_FT_C.264"));
        ASSERT_GT(units.size(), 20u);
    }
    void TearDown() override { EXPECT_EQ(KOVA_DeInit(), KOVA_OK); }

    // Queues 20 frames: more than the backlog, so they are decoded at once.
    void Push20() {
        for (size_t k = 0; k < 20; ++k)
            KOVA_AddStreamFrame(kPort, KOVA_FRAME_VIDEO, units[k].data(), static_cast<uint32_t>(units[k].size()));
    }

    std::vector<std::vector<uint8_t>> units;
};

}  // namespace

TEST_F(CallbackRules, CloseFromItsOwnCallbackReturnsAtOnceAndEndsTheCallbacks) {
    CloseProbe probe;
    ASSERT_EQ(KOVA_OpenStreamEx(kPort, 0, 1, 0, &CloseOnThirdPicture, reinterpret_cast<intptr_t>(&probe)), KOVA_OK);
    Push20();
    for (int k = 0; k < 2000 && probe.closeMicroseconds < 0; ++k) std::this_thread::sleep_for(1ms);
    ASSERT_GE(probe.closeMicroseconds.load(), 0) << "the third picture never came";
    EXPECT_EQ(probe.closeResult.load(), KOVA_OK);
    EXPECT_LT(probe.closeMicroseconds.load(), 1000000) << "the close waited for its own thread";
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(probe.calls.load(), 3) << "a callback started after the close";
    EXPECT_EQ(KOVA_OpenStream(kPort, 0, 1, 0), KOVA_OK) << "the port opens again";
}

TEST_F(CallbackRules, AThrowingCallbackDoesNotStopThePort) {
    std::atomic<int> calls{0};
    ASSERT_EQ(KOVA_OpenStreamEx(kPort, 0, 1, 0, &Throw, reinterpret_cast<intptr_t>(&calls)), KOVA_OK);
    Push20();
    for (int k = 0; k < 2000 && calls < 18; ++k) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(calls.load(), 18) << "every picture but the two the decoder still holds";
}
