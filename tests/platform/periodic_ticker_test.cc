// The ticker calls on its own thread, keeps calling, and once Stop returns
// no call is running or will come.
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/periodic_ticker.h"

using namespace std::chrono_literals;
using tessaly::platform::PeriodicTicker;

TEST(PeriodicTicker, TicksUntilStopped) {
    PeriodicTicker ticker;
    std::atomic<int> ticks{0};
    std::atomic<bool> inside{false};
    const auto caller = std::this_thread::get_id();
    std::atomic<bool> wrongThread{false};
    ASSERT_TRUE(ticker.Start(2000us, [&] {
        inside = true;
        if (std::this_thread::get_id() == caller) wrongThread = true;
        ++ticks;
        inside = false;
    }));
    EXPECT_FALSE(ticker.Start(2000us, [] {}));
    for (int k = 0; k < 1000 && ticks.load() < 20; ++k) std::this_thread::sleep_for(2ms);
    ticker.Stop();
    EXPECT_GE(ticks.load(), 20);
    EXPECT_FALSE(inside.load());
    EXPECT_FALSE(wrongThread.load());
    const int after = ticks.load();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(ticks.load(), after);
    EXPECT_FALSE(ticker.Running());
}
