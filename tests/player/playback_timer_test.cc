// The playback timer driven tick by tick: client slots, periods counted in
// ticks of the timer's own clock, first firing one period after registering.
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "player/playback_timer.h"

using namespace std::chrono_literals;
using tessaly::player::PlaybackTimer;

namespace {

struct Recorder {
    std::vector<std::pair<int, uint32_t>> firings;  // client, clock
    PlaybackTimer *timer = nullptr;
    static void Fire(int index, void *user) {
        auto *r = static_cast<Recorder *>(user);
        r->firings.emplace_back(index, r->timer->Clock());
    }
};

}  // namespace

TEST(PlaybackTimer, PeriodsAreCountedInTicksFromRegistering) {
    PlaybackTimer timer;  // not started: the test is the tick source
    Recorder rec{{}, &timer};
    timer.Register(32, &Recorder::Fire, &rec);
    for (int k = 0; k < 7; ++k) timer.Tick();
    timer.Register(38, &Recorder::Fire, &rec);  // at clock 14
    for (int k = 0; k < 53; ++k) timer.Tick();
    EXPECT_EQ(timer.Clock(), 120u);
    // 32 ms fires every 16 ticks, 38 ms every 19 (ceil(38 / 2)), first one period after registering.
    const std::vector<std::pair<int, uint32_t>> expected = {{0, 32}, {1, 52}, {0, 64}, {1, 90}, {0, 96}};
    EXPECT_EQ(rec.firings, expected);
}

TEST(PlaybackTimer, SixtyFourClientsLowestFreeFirst) {
    PlaybackTimer timer;
    Recorder rec{{}, &timer};
    for (int k = 0; k < PlaybackTimer::kMaxClients; ++k) EXPECT_EQ(timer.Register(4, &Recorder::Fire, &rec), k);
    EXPECT_EQ(timer.Register(4, &Recorder::Fire, &rec), -1);
    timer.Unregister(17);
    timer.Unregister(3);
    EXPECT_EQ(timer.ClientPeriod(3), 0u);
    EXPECT_EQ(timer.Register(6, &Recorder::Fire, &rec), 3);
    EXPECT_EQ(timer.Register(6, &Recorder::Fire, &rec), 17);
    EXPECT_EQ(timer.Register(6, &Recorder::Fire, &rec), -1);
    timer.Unregister(-1);  // harmless
    timer.Unregister(64);
    rec.firings.clear();
    for (int k = 0; k < 2; ++k) timer.Tick();
    // Clients fire in index order within a tick.
    ASSERT_EQ(rec.firings.size(), 62u);
    for (size_t k = 1; k < rec.firings.size(); ++k) EXPECT_LT(rec.firings[k - 1].first, rec.firings[k].first);
}

TEST(PlaybackTimer, StopClearsClientsAndTheRealSourceTicks) {
    PlaybackTimer timer;
    Recorder rec{{}, &timer};
    ASSERT_TRUE(timer.Start(2));
    EXPECT_FALSE(timer.Start(2));
    const uint32_t before = timer.Clock();
    for (int k = 0; k < 2000 && timer.Clock() < before + 20; ++k) std::this_thread::sleep_for(1ms);
    EXPECT_GE(timer.Clock(), before + 20);
    timer.Register(2, &Recorder::Fire, &rec);
    timer.Stop();
    EXPECT_EQ(timer.ClientPeriod(0), 0u);
    const uint32_t stopped = timer.Clock();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(timer.Clock(), stopped);
}
