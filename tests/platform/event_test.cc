// Event semantics the player's threads rely on: manual events stay set, auto
// events let one waiter through per signal and merge repeated signals,
// WaitAny reports the lowest ready event, and no signal is ever lost.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/event.h"

using namespace std::chrono_literals;
using tessaly::platform::Event;
using tessaly::platform::WaitAny;

TEST(Event, ManualAndAutoReset) {
    Event manual(true), automatic(false);
    EXPECT_FALSE(manual.Wait(0ms));
    EXPECT_FALSE(automatic.Wait(5ms));
    manual.Set();
    automatic.Set();
    automatic.Set();  // merges with the first
    EXPECT_TRUE(manual.Wait(0ms));
    EXPECT_TRUE(manual.Wait(0ms));
    EXPECT_TRUE(automatic.Wait(0ms));
    EXPECT_FALSE(automatic.Wait(0ms));
    manual.Reset();
    EXPECT_FALSE(manual.Wait(0ms));
    Event initially(false, true);
    EXPECT_TRUE(initially.IsSet());
    EXPECT_TRUE(initially.Wait(0ms));
    EXPECT_FALSE(initially.IsSet());
}

TEST(Event, WaitAnyPrefersTheLowestAndTimesOut) {
    Event stop(true), frame(false);
    Event *both[] = {&stop, &frame};
    EXPECT_EQ(WaitAny(both, 2, 10ms), -1);
    frame.Set();
    stop.Set();
    EXPECT_EQ(WaitAny(both, 2, 0ms), 0);
    EXPECT_TRUE(frame.IsSet()) << "the frame signal must not be consumed by a wait that returned stop";
    stop.Reset();
    EXPECT_EQ(WaitAny(both, 2, 0ms), 1);
    EXPECT_FALSE(frame.IsSet());
}

TEST(Event, OneAutoSignalReleasesExactlyOneWaiter) {
    Event gate(false);
    std::atomic<int> passed{0};
    std::vector<std::thread> waiters;
    for (int k = 0; k < 4; ++k)
        waiters.emplace_back([&] {
            if (gate.Wait(2000ms)) ++passed;
        });
    std::this_thread::sleep_for(20ms);
    gate.Set();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(passed.load(), 1);
    for (int k = 0; k < 3; ++k) gate.Set(), std::this_thread::sleep_for(20ms);
    for (auto &t : waiters) t.join();
    EXPECT_EQ(passed.load(), 4);
}

TEST(Event, PingPongLosesNoSignal) {
    // Two threads hand a token back and forth through auto-reset events; a
    // lost wake-up would stall one side until its time-out.
    Event ping(false), pong(false), stop(true);
    constexpr int kRounds = 20000;
    std::atomic<int> timeouts{0};
    std::thread other([&] {
        Event *events[] = {&stop, &ping};
        for (int k = 0; k < kRounds; ++k) {
            const int which = WaitAny(events, 2, 5000ms);
            if (which != 1) {
                ++timeouts;
                return;
            }
            pong.Set();
        }
    });
    for (int k = 0; k < kRounds; ++k) {
        ping.Set();
        if (!pong.Wait(5000ms)) {
            ++timeouts;
            break;
        }
    }
    stop.Set();
    other.join();
    EXPECT_EQ(timeouts.load(), 0);
}
