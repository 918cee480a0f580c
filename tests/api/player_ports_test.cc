// Ports under load: the 64-client limit, the backlog rule, back-pressure as
// the host sees it, many ports fed from many threads, closing while decoding.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "nal_frame.h"
#include "tessaly/kova.h"

using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> Frame(uint32_t length, bool keyFrame = false) { return NalFrame(length, keyFrame ? 0x67 : 0x41); }

uint32_t Fill(uint32_t port) {
    uint32_t capacity = 0, fill = 0;
    EXPECT_EQ(KOVA_GetStreamBufInfo(port, &capacity, &fill), KOVA_OK);
    return fill;
}

// Waits (bounded) until the port's fill reaches the value.
bool FillBecomes(uint32_t port, uint32_t wanted, std::chrono::milliseconds limit = 10000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (Fill(port) == wanted) return true;
        std::this_thread::sleep_for(2ms);
    }
    return Fill(port) == wanted;
}

// With ports 0..63 open, every timer client is taken: a further port gets no
// ticks, so nothing decodes there unless the test releases a step.
class UntickedPort : public ::testing::Test {
protected:
    static constexpr uint32_t kPort = 100;
    void SetUp() override {
        ASSERT_EQ(KOVA_Init(), KOVA_OK);
        for (uint32_t p = 0; p < 64; ++p) ASSERT_EQ(KOVA_OpenStream(p, 0, 1, 0), KOVA_OK);
        ASSERT_EQ(KOVA_OpenStream(kPort, 0, 1, 0), KOVA_OK) << "the 65th port still opens";
    }
    void TearDown() override { EXPECT_EQ(KOVA_DeInit(), KOVA_OK); }
};

}  // namespace

TEST_F(UntickedPort, BacklogAboveFifteenIsWorkedOffThenWaits) {
    const auto f = Frame(1000);
    for (int k = 0; k < 20; ++k) ASSERT_EQ(KOVA_AddStreamFrame(kPort, 1, f.data(), 1000), KOVA_OK);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Fill(kPort), 20000u) << "no ticks: nothing decoded yet";
    ASSERT_EQ(KOVA_NextFrame(kPort), KOVA_OK);
    EXPECT_TRUE(FillBecomes(kPort, 15000u)) << "one step, then the backlog rule down to 15 frames";
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Fill(kPort), 15000u);
    ASSERT_EQ(KOVA_NextFrame(kPort), KOVA_OK);
    EXPECT_TRUE(FillBecomes(kPort, 14000u));
}

TEST_F(UntickedPort, RefusedFrameStartsTheWaitForAKeyFrame) {
    const auto big = Frame(393216), rest = Frame(131071), one = Frame(5), key = Frame(600, true);
    ASSERT_EQ(KOVA_AddStreamFrame(kPort, 1, big.data(), 393216), KOVA_OK);
    ASSERT_EQ(KOVA_AddStreamFrame(kPort, 1, rest.data(), 131071), KOVA_OK) << "131072 free: strictly larger";
    EXPECT_EQ(Fill(kPort), 524287u);
    EXPECT_EQ(KOVA_AddStreamFrame(kPort, 1, one.data(), 5), KOVA_ERR_BUFFER_FULL);
    ASSERT_EQ(KOVA_NextFrame(kPort), KOVA_OK);  // decode the big frame
    ASSERT_TRUE(FillBecomes(kPort, 131071u));
    EXPECT_EQ(KOVA_AddStreamFrame(kPort, 1, one.data(), 5), KOVA_OK) << "dropped while waiting";
    EXPECT_EQ(Fill(kPort), 131071u);
    EXPECT_EQ(KOVA_AddStreamFrame(kPort, 1, key.data(), 600), KOVA_OK);
    EXPECT_EQ(Fill(kPort), 131671u) << "the key frame ends the wait and is queued";
    EXPECT_EQ(KOVA_AddStreamFrame(kPort, 1, one.data(), 5), KOVA_OK);
    EXPECT_EQ(Fill(kPort), 131676u);
}

TEST(PlayerPorts, TickedPortDrainsItsQueue) {
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    ASSERT_EQ(KOVA_OpenStream(5, 0, 1, 0), KOVA_OK);
    const auto f = Frame(800);
    for (int k = 0; k < 10; ++k) ASSERT_EQ(KOVA_AddStreamFrame(5, 1, f.data(), 800), KOVA_OK);
    EXPECT_TRUE(FillBecomes(5, 0)) << "one frame per 32 ms tick";
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK);
}

TEST(PlayerPorts, AllPortsFedFromEightThreadsThenClosedWhileDecoding) {
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    std::atomic<int> callbacks{0}, failures{0};
    auto callback = [](int32_t, uint8_t *, int32_t, int32_t, int32_t, intptr_t user) {
        ++*reinterpret_cast<std::atomic<int> *>(user);
    };
    std::vector<std::thread> hosts;
    for (int t = 0; t < 8; ++t) {
        hosts.emplace_back([&, t] {
            const auto f = Frame(2000);
            for (uint32_t p = static_cast<uint32_t>(t); p < 256; p += 8) {
                if (KOVA_OpenStreamEx(p, 0, p & 1, 0, callback, reinterpret_cast<intptr_t>(&callbacks)) != KOVA_OK)
                    ++failures;
            }
            for (int round = 0; round < 20; ++round) {
                for (uint32_t p = static_cast<uint32_t>(t); p < 256; p += 8) {
                    const int32_t rc = KOVA_AddStreamFrame(p, 1, f.data(), 2000);
                    if (rc != KOVA_OK && rc != KOVA_ERR_BUFFER_FULL) ++failures;
                    if (round == 10 && p % 3 == 0) KOVA_NextFrame(p);
                }
            }
            // Close half of the ports while their workers may be decoding.
            for (uint32_t p = static_cast<uint32_t>(t); p < 256; p += 16)
                if (KOVA_Close(p) != KOVA_OK) ++failures;
        });
    }
    for (auto &h : hosts) h.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(KOVA_Play(0), KOVA_ERR_NOT_OPEN);
    EXPECT_EQ(KOVA_Play(8), KOVA_OK);
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK) << "closes the rest";
    ASSERT_EQ(KOVA_Init(), KOVA_OK);
    EXPECT_EQ(KOVA_Play(8), KOVA_ERR_NOT_OPEN);
    EXPECT_EQ(KOVA_DeInit(), KOVA_OK);
}
