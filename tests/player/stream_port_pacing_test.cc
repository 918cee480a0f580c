// A stream port decodes one queued frame per tick of its stream kind's
// period, counted on the playback timer's own clock (driven here by hand).
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "nal_frame.h"
#include "player/playback_timer.h"
#include "player/video_player.h"

using namespace std::chrono_literals;
using tessaly::player::PlaybackTimer;
using tessaly::player::VideoPlayer;

namespace {

uint32_t Fill(VideoPlayer &port) {
    uint32_t capacity = 0, fill = 0;
    port.GetStreamBufInfo(&capacity, &fill);
    return fill;
}

// Ticks until the port takes a frame; returns how many ticks that took.
int TicksPerFrame(PlaybackTimer &timer, VideoPlayer &port) {
    const uint32_t before = Fill(port);
    for (int ticks = 1; ticks <= 40; ++ticks) {
        timer.Tick();
        // A frame is taken within moments of its tick, and none without one.
        for (int k = 0; k < 50 && Fill(port) == before; ++k) std::this_thread::sleep_for(1ms);
        if (Fill(port) != before) return ticks;
    }
    return -1;
}

}  // namespace

TEST(StreamPortPacing, KindOneEvery32MsOthersEvery38Ms) {
    for (const uint32_t kind : {1u, 0u, 7u}) {
        PlaybackTimer timer;  // not started: the test is the tick source
        VideoPlayer port;
        port.AttachTimer(timer);
        ASSERT_EQ(port.OpenStream(0, kind), KOVA_OK);
        const auto frame = NalFrame(100, 12);  // filler data: only the pacing matters
        for (int k = 0; k < 3; ++k) ASSERT_EQ(port.SubmitVideo(frame.data(), 100), KOVA_OK);
        const int expected = kind == 1 ? 16 : 19;  // 2 ms ticks
        EXPECT_EQ(TicksPerFrame(timer, port), expected) << "kind " << kind;
        EXPECT_EQ(TicksPerFrame(timer, port), expected) << "kind " << kind;
        port.Close();
    }
}
