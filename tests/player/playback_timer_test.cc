// The playback timer driven tick by tick: client slots, periods counted in
// ticks of the timer's own clock, first firing one period after registering.
#include <vector>

#include <gtest/gtest.h>

#include "player/playback_timer.h"

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

TEST(PlaybackTimer, PeriodsAreCountedInTicks) {
    PlaybackTimer timer;  // not started: the test is the tick source
    Recorder rec{{}, &timer};
    const int a = timer.Register(32, &Recorder::Fire, &rec);
    const int b = timer.Register(38, &Recorder::Fire, &rec);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
    for (int k = 0; k < 60; ++k) timer.Tick();
    EXPECT_EQ(timer.Clock(), 120u);
    // 32 ms fires every 16 ticks, 38 ms every 19 (ceil(38 / 2)), first one period after registering.
    const std::vector<std::pair<int, uint32_t>> expected = {{0, 32}, {1, 38}, {0, 64}, {1, 76}, {0, 96}, {1, 114}};
    EXPECT_EQ(rec.firings, expected);
}

TEST(PlaybackTimer, FirstFiringIsOnePeriodAfterRegistering) {
    PlaybackTimer timer;
    Recorder rec{{}, &timer};
    for (int k = 0; k < 7; ++k) timer.Tick();  // clock 14
    timer.Register(10, &Recorder::Fire, &rec);
    for (int k = 0; k < 10; ++k) timer.Tick();
    ASSERT_FALSE(rec.firings.empty());
    EXPECT_EQ(rec.firings.front().second, 24u);
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
    timer.Tick();
    timer.Tick();
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
    for (int k = 0; k < 2000 && timer.Clock() < before + 20; ++k) {
        struct timespec t = {0, 1000000};
        nanosleep(&t, nullptr);
    }
    EXPECT_GE(timer.Clock(), before + 20);
    timer.Register(2, &Recorder::Fire, &rec);
    timer.Stop();
    EXPECT_EQ(timer.ClientPeriod(0), 0u);
    const uint32_t stopped = timer.Clock();
    struct timespec t = {0, 20000000};
    nanosleep(&t, nullptr);
    EXPECT_EQ(timer.Clock(), stopped);
}
