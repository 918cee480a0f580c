// The stop / exited handshake, including a worker that outlives the close
// time-out and must keep working on state the closer has let go of.
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/worker_thread.h"

using namespace std::chrono_literals;
using tessaly::platform::Event;
using tessaly::platform::WorkerThread;

TEST(WorkerThread, StopsAWorkerThatHonoursTheStopEvent) {
    WorkerThread worker;
    std::atomic<int> loops{0};
    ASSERT_TRUE(worker.Start([&](Event &stop) {
        while (!stop.Wait(1ms)) ++loops;
    }));
    EXPECT_FALSE(worker.Start([](Event &) {})) << "one thread at a time";
    std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(worker.Stop(10000ms));
    EXPECT_FALSE(worker.Running());
    EXPECT_GT(loops.load(), 0);

    // Restartable: the stop event is reset by each start.
    std::atomic<bool> ran{false};
    ASSERT_TRUE(worker.Start([&](Event &stop) {
        ran = true;
        stop.Wait();
    }));
    EXPECT_TRUE(worker.Stop(10000ms));
    EXPECT_TRUE(ran.load());
}

// A restart after a time-out gets fresh events: the abandoned thread's stop
// stays set, and its late exit cannot pass for the new thread's.
TEST(WorkerThread, TimedOutWorkerIsLeftToFinishOnItsOwn) {
    auto release = std::make_shared<Event>(true);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    auto stillStopped = std::make_shared<std::atomic<bool>>(false);
    WorkerThread worker;
    ASSERT_TRUE(worker.Start([release, finished, stillStopped](Event &stop) {
        release->Wait(10000ms);  // busy in a long step, deaf to stop
        *stillStopped = stop.IsSet();
        *finished = true;
    }));
    const Event *abandonedStop = &worker.StopEvent();
    EXPECT_FALSE(worker.Stop(50ms));
    EXPECT_FALSE(worker.Running());

    ASSERT_TRUE(worker.Start([](Event &stop) { stop.Wait(); }));
    EXPECT_NE(&worker.StopEvent(), abandonedStop);
    EXPECT_FALSE(finished->load());
    release->Set();
    for (int k = 0; k < 500 && !finished->load(); ++k) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(finished->load());
    EXPECT_TRUE(stillStopped->load()) << "the restart cleared the abandoned thread's stop";
    EXPECT_TRUE(worker.Stop(10000ms));
}
