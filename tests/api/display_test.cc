// Pictures in host windows, through the public calls, checked by reading the
// window's pixels back from the X server: a stream port scales its pictures
// to the window, follows KOVA_SetDisplayWindow, ignores hidden windows and
// survives destroyed ones, shows deinterlaced frames taller than its first
// setup, and serves its own callback while the host uses it; a raw-picture
// port shows the host's colours and refuses a picture one byte short.
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "stream_file.h"
#include "tessaly/kova.h"
#include "x_test_image.h"
#include "x_test_server.h"

using namespace std::chrono_literals;

namespace {

using Host = tessaly::testsupport::XTestHost;

// A packed I420 picture as a width x height window should show it.
std::vector<uint8_t> Expected(const std::vector<uint8_t> &i420, int w, int h, int width, int height) {
    const uint8_t *planes[3] = {i420.data(), i420.data() + w * h, i420.data() + w * h * 5 / 4};
    const int strides[3] = {w, w / 2, w / 2};
    return tessaly::testsupport::ExpectedWindowBgr(planes, strides, w, h, width, height);
}

struct LastPicture {
    std::mutex mutex;
    std::vector<uint8_t> i420;
    int width = 0, height = 0, count = 0;
};

void Keep(int32_t, uint8_t *picture, int32_t size, int32_t width, int32_t height, intptr_t user) {
    auto *last = reinterpret_cast<LastPicture *>(user);
    std::lock_guard<std::mutex> lock(last->mutex);
    last->i420.assign(picture, picture + size);
    last->width = width;
    last->height = height;
    ++last->count;
}

// Polls until the window shows the expected image; the mean difference left.
double WaitForImage(Host &host, xcb_window_t w, uint16_t width, uint16_t height, const std::vector<uint8_t> &expected) {
    double diff = tessaly::testsupport::ImageDifference(host.ReadBgr(w, width, height), expected).first;
    for (int k = 0; k < 200 && diff >= 2.5; ++k) {
        std::this_thread::sleep_for(10ms);
        diff = tessaly::testsupport::ImageDifference(host.ReadBgr(w, width, height), expected).first;
    }
    return diff;
}

class Display : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under an X server (test.sh uses Xvfb)";
        ASSERT_TRUE(host.Ok());
        ASSERT_EQ(KOVA_Init(), KOVA_OK);
        units = AccessUnits(ReadFile(std::string(TESSALY_TESTDATA) + "/h264/conf/BA1_FT_C.264"));
        ASSERT_GT(units.size(), 100u);
    }
    void TearDown() override { EXPECT_EQ(KOVA_DeInit(), KOVA_OK); }

    void Push(uint32_t port, size_t from, size_t to) {
        for (size_t k = from; k < to && k < units.size(); ++k)
            ASSERT_EQ(KOVA_AddStreamFrame(port, 1, units[k].data(), static_cast<uint32_t>(units[k].size())), KOVA_OK);
    }
    void PushAndWait(uint32_t port, size_t from, size_t to, int count) {
        ASSERT_NO_FATAL_FAILURE(Push(port, from, to));
        WaitForPictures(count);
    }
    // Waits until the port has shown `count` pictures in all.
    void WaitForPictures(int count) {
        for (int k = 0; k < 2000; ++k) {
            if (std::lock_guard<std::mutex> lock(last.mutex); last.count >= count) return;
            std::this_thread::sleep_for(5ms);
        }
        FAIL() << "pictures did not arrive";
    }
    // The last picture scaled to a window, once the port has gone idle.
    std::vector<uint8_t> LastScaledWhenIdle(uint32_t port, uint16_t width, uint16_t height) {
        uint32_t capacity, fill;
        for (int k = 0; k < 100 && KOVA_GetStreamBufInfo(port, &capacity, &fill) == KOVA_OK && fill != 0; ++k)
            std::this_thread::sleep_for(10ms);
        std::lock_guard<std::mutex> lock(last.mutex);
        return Expected(last.i420, last.width, last.height, width, height);
    }

    Host host;
    LastPicture last;
    std::vector<std::vector<uint8_t>> units;
};

}  // namespace

TEST_F(Display, StreamFillsTheWindowAndFollowsItToAnother) {
    const uint16_t w1 = 500, h1 = 300, w2 = 200, h2 = 360;
    const xcb_window_t first = host.CreateWindow(w1, h1), second = host.CreateWindow(w2, h2);
    ASSERT_EQ(KOVA_OpenStreamEx(2, first, 1, 0, &Keep, reinterpret_cast<intptr_t>(&last)), KOVA_OK);
    PushAndWait(2, 0, 20, 18);  // two pictures stay in the decoder
    EXPECT_LT(WaitForImage(host, first, w1, h1, LastScaledWhenIdle(2, w1, h1)), 2.5) << "scaled to the whole window";

    ASSERT_EQ(KOVA_SetDisplayWindow(2, 0x7FFFFFF0UL), KOVA_ERR_INVALID_ARGUMENT);
    ASSERT_EQ(KOVA_SetDisplayWindow(2, second), KOVA_OK);
    PushAndWait(2, 20, 40, 36);
    EXPECT_LT(WaitForImage(host, second, w2, h2, LastScaledWhenIdle(2, w2, h2)), 2.5) << "moved to the second window";

    // Window 0: decoding and callbacks go on without drawing.
    ASSERT_EQ(KOVA_SetDisplayWindow(2, 0), KOVA_OK);
    PushAndWait(2, 40, 60, 54);
}

TEST_F(Display, HiddenAndDestroyedWindowsAreHarmless) {
    const xcb_window_t hidden = host.CreateWindow(320, 240, false);
    ASSERT_EQ(KOVA_OpenStreamEx(3, hidden, 1, 0, &Keep, reinterpret_cast<intptr_t>(&last)), KOVA_OK);
    PushAndWait(3, 0, 20, 18);
    host.Do(xcb_map_window, hidden);
    PushAndWait(3, 20, 40, 36);
    host.Do(xcb_destroy_window, hidden);
    PushAndWait(3, 40, 80, 70);  // decoding goes on after the window is gone
    EXPECT_EQ(KOVA_Close(3), KOVA_OK);
}

// HD fields with the field-coding message: pairs become 1280x720 frames,
// taller than the port's first decode setup, and the window shows them.
TEST_F(Display, DeinterlacedFramesTallerThanTheSetupFillTheWindow) {
    const uint16_t ww = 640, wh = 360;
    const xcb_window_t window = host.CreateWindow(ww, wh);
    ASSERT_EQ(KOVA_OpenStreamEx(5, window, 1, 0, &Keep, reinterpret_cast<intptr_t>(&last)), KOVA_OK);
    units = AccessUnits(ReadFile(std::string(TESSALY_TESTDATA) + "/player/hd_fieldsei_1280x360.264"));
    ASSERT_EQ(units.size(), 12u);
    Push(5, 0, 12);
    WaitForPictures(5);  // the last two fields stay in the decoder
    std::vector<uint8_t> expected;
    {
        std::lock_guard<std::mutex> lock(last.mutex);
        ASSERT_EQ(last.width, 1280);
        ASSERT_EQ(last.height, 720);
        expected = Expected(last.i420, last.width, last.height, ww, wh);
    }
    EXPECT_LT(WaitForImage(host, window, ww, wh, expected), 2.5);
}

// The host snapshots and moves the window while the port's callback calls
// into the same port: no lock of one side may wait for the other's.
TEST_F(Display, CallbackAndHostUseTheSamePortAtOnce) {
    const xcb_window_t windows[2] = {host.CreateWindow(200, 150), host.CreateWindow(200, 150)};
    struct Shared {
        const xcb_window_t *windows;
        std::string file;
        std::atomic<int> calls{0}, failures{0}, failedCall{-1};
        std::atomic<bool> closing{false};  // from then on the port answers KOVA_ERR_NOT_OPEN
    } shared{windows, ::testing::TempDir() + "callback_snapshot.bmp"};
    const auto callback = [](int32_t, uint8_t *, int32_t, int32_t, int32_t, intptr_t user) {
        auto *s = reinterpret_cast<Shared *>(user);
        const int n = ++s->calls;
        uint32_t capacity, fill;
        const int32_t results[] = {KOVA_GetStreamBufInfo(6, &capacity, &fill), KOVA_Pause(6), KOVA_Play(6),
                                   KOVA_Snapshot(6, s->file.c_str()),
                                   KOVA_SetDisplayWindow(6, n % 3 == 0 ? 0 : s->windows[n % 2])};
        for (int k = 0; k < 5; ++k)
            if (results[k] != KOVA_OK && !s->closing) {
                s->failures = results[k];
                s->failedCall = k;
            }
    };
    ASSERT_EQ(KOVA_OpenStreamEx(6, windows[0], 1, 0, callback, reinterpret_cast<intptr_t>(&shared)), KOVA_OK);
    std::atomic<bool> done{false};
    std::thread hostSide([&] {
        const std::string file = ::testing::TempDir() + "host_snapshot.bmp";
        for (int n = 0; !done; ++n) {
            const int32_t rc = KOVA_Snapshot(6, file.c_str());
            EXPECT_TRUE(rc == KOVA_OK || rc == KOVA_ERR_NO_PICTURE) << rc;
            EXPECT_EQ(KOVA_SetDisplayWindow(6, windows[n % 2]), KOVA_OK);
            // A host paces its calls; back to back they would hold the port
            // lock nearly all the time and starve the feeding loop below.
            std::this_thread::sleep_for(1ms);
        }
        std::remove(file.c_str());
    });
    // Both sides go on until 40 pictures have passed; a deadlock would stop them (30 s at most).
    const auto end = std::chrono::steady_clock::now() + 30s;
    for (size_t k = 0; shared.calls < 40 && std::chrono::steady_clock::now() < end; k = (k + 1) % units.size()) {
        uint32_t capacity, fill;
        while (KOVA_GetStreamBufInfo(6, &capacity, &fill) == KOVA_OK && fill > capacity / 2)
            std::this_thread::sleep_for(1ms);
        KOVA_AddStreamFrame(6, 1, units[k].data(), static_cast<uint32_t>(units[k].size()));
    }
    done = true;
    hostSide.join();
    shared.closing = true;
    EXPECT_EQ(KOVA_Close(6), KOVA_OK);
    std::remove(shared.file.c_str());
    EXPECT_GE(shared.calls.load(), 40);
    EXPECT_EQ(shared.failures.load(), 0) << "the last failed call's result, from call " << shared.failedCall
                                         << " (buffer info, pause, play, snapshot, window)";
}

TEST_F(Display, RawPicturePortShowsTheHostsColours) {
    const uint16_t ww = 400, wh = 200;
    const xcb_window_t window = host.CreateWindow(ww, wh);
    EXPECT_EQ(KOVA_YUV_Open(4, 0), KOVA_ERR_INVALID_ARGUMENT) << "a raw-picture port needs a window";
    ASSERT_EQ(KOVA_YUV_Open(4, window), KOVA_OK);
    EXPECT_EQ(KOVA_YUV_Open(4, window), KOVA_ERR_ALREADY_OPEN);
    // Eight vertical colour bars (studio-range Y, Cb, Cr of the classic bars).
    const uint8_t bars[8][3] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                                {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};
    const int w = 320, h = 240;
    std::vector<uint8_t> picture(w * h * 3 / 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) picture[y * w + x] = bars[x / 40][0];
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) {
            picture[w * h + y * w / 2 + x] = bars[x / 20][1];
            picture[w * h * 5 / 4 + y * w / 2 + x] = bars[x / 20][2];
        }
    const auto size = static_cast<uint32_t>(picture.size());
    EXPECT_EQ(KOVA_YUV_Show(4, 2, picture.data(), size, w, h), KOVA_ERR_INVALID_ARGUMENT) << "format 2";
    // All three planes are read: one byte short of the chroma is refused, not overread.
    EXPECT_EQ(KOVA_YUV_Show(4, 1, picture.data(), size - 1, w, h), KOVA_ERR_INVALID_ARGUMENT);
    ASSERT_EQ(KOVA_YUV_Show(4, 1, picture.data(), size, w, h), KOVA_OK);
    EXPECT_LT(WaitForImage(host, window, ww, wh, Expected(picture, w, h, ww, wh)), 2.5);
    EXPECT_EQ(KOVA_YUV_Close(4), KOVA_OK);
    EXPECT_EQ(KOVA_YUV_Close(4), KOVA_OK);
    EXPECT_EQ(KOVA_YUV_Show(4, 1, picture.data(), static_cast<uint32_t>(picture.size()), w, h), KOVA_ERR_NOT_OPEN);
}
