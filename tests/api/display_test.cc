// Pictures in host windows, through the public calls, checked by reading the
// window's pixels back from the X server: a stream port scales its pictures
// to the window, follows KOVA_SetDisplayWindow, ignores hidden windows and
// survives destroyed ones, shows deinterlaced frames taller than its first
// setup, and serves its own callback while the host uses it; a raw-picture
// port shows the host's colours.
#include <xcb/xcb.h>

extern "C" {
#include <libswscale/swscale.h>
}

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
#include "x_test_server.h"

using namespace std::chrono_literals;

namespace {

// The host side of the X server: its own connection and windows.
class Host {
public:
    Host() : c_(tessaly::testsupport::ConnectToTestServer()) {
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    }
    ~Host() { xcb_disconnect(c_); }
    bool ok() const { return !xcb_connection_has_error(c_) && screen_->root_depth >= 24; }

    // This program's windows never overlap one another.
    xcb_window_t Window(uint16_t w, uint16_t h, bool map = true) {
        const int16_t x = nextX_;
        nextX_ = static_cast<int16_t>(nextX_ + w + 10);
        const xcb_window_t id = xcb_generate_id(c_);
        // Not black: a window that was never drawn is told apart. Other test
        // programs share the server and their windows may cover ours: with a
        // backing store, what was drawn under them can still be read back.
        const uint32_t values[] = {0x00336699, XCB_BACKING_STORE_ALWAYS};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, id, screen_->root, x, 0, w, h, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen_->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_BACKING_STORE, values);
        if (map) xcb_map_window(c_, id);
        Sync();
        return id;
    }
    void Map(xcb_window_t w) { xcb_map_window(c_, w), Sync(); }
    void Destroy(xcb_window_t w) { xcb_destroy_window(c_, w), Sync(); }

    // BGRX pixels of the window, or empty when it cannot be read.
    std::vector<uint8_t> Pixels(xcb_window_t w, uint16_t width, uint16_t height) {
        xcb_generic_error_t *error = nullptr;
        xcb_get_image_reply_t *reply =
            xcb_get_image_reply(c_, xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, w, 0, 0, width, height, ~0u), &error);
        std::free(error);
        if (!reply) return {};
        const uint8_t *data = xcb_get_image_data(reply);
        std::vector<uint8_t> out(data, data + xcb_get_image_data_length(reply));
        std::free(reply);
        return out;
    }

private:
    void Sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }
    xcb_connection_t *c_;
    xcb_screen_t *screen_;
    int16_t nextX_ = 0;
};

// An I420 picture scaled to the window the way a display would: BGRX.
std::vector<uint8_t> Scaled(const std::vector<uint8_t> &i420, int w, int h, int outW, int outH) {
    SwsContext *sws =
        sws_getContext(w, h, AV_PIX_FMT_YUV420P, outW, outH, AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr);
    std::vector<uint8_t> out(size_t(outW) * size_t(outH) * 4);
    const uint8_t *src[3] = {i420.data(), i420.data() + w * h, i420.data() + w * h * 5 / 4};
    const int srcStride[3] = {w, w / 2, w / 2};
    uint8_t *dst[1] = {out.data()};
    const int dstStride[1] = {outW * 4};
    sws_scale(sws, src, srcStride, 0, h, dst, dstStride);
    sws_freeContext(sws);
    return out;
}

// Mean absolute difference over the colour bytes of two BGRX images.
double MeanDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (size_t k = 0; k < a.size(); ++k) sum += k % 4 == 3 ? 0 : std::abs(int(a[k]) - int(b[k]));
    return sum / double(a.size() / 4 * 3);
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

// Polls until the window shows the expected image (within tolerance).
double WaitForImage(Host &host, xcb_window_t w, uint16_t width, uint16_t height, const std::vector<uint8_t> &expected) {
    double diff = MeanDifference(host.Pixels(w, width, height), expected);
    for (int k = 0; k < 200 && diff >= 3.0; ++k) {
        std::this_thread::sleep_for(10ms);
        diff = MeanDifference(host.Pixels(w, width, height), expected);
    }
    return diff;
}

class Display : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under an X server (test.sh uses Xvfb)";
        ASSERT_TRUE(host.ok());
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
        return Scaled(last.i420, last.width, last.height, width, height);
    }

    Host host;
    LastPicture last;
    std::vector<std::vector<uint8_t>> units;
};

}  // namespace

TEST_F(Display, StreamFillsTheWindowAndFollowsItToAnother) {
    const uint16_t w1 = 500, h1 = 300, w2 = 200, h2 = 360;
    const xcb_window_t first = host.Window(w1, h1), second = host.Window(w2, h2);
    ASSERT_EQ(KOVA_OpenStreamEx(2, first, 1, 0, &Keep, reinterpret_cast<intptr_t>(&last)), KOVA_OK);
    PushAndWait(2, 0, 20, 18);  // two pictures stay in the decoder
    EXPECT_LT(WaitForImage(host, first, w1, h1, LastScaledWhenIdle(2, w1, h1)), 3.0) << "scaled to the whole window";

    ASSERT_EQ(KOVA_SetDisplayWindow(2, 0x7FFFFFF0UL), KOVA_ERR_INVALID_ARGUMENT);
    ASSERT_EQ(KOVA_SetDisplayWindow(2, second), KOVA_OK);
    PushAndWait(2, 20, 40, 36);
    EXPECT_LT(WaitForImage(host, second, w2, h2, LastScaledWhenIdle(2, w2, h2)), 3.0) << "moved to the second window";

    // Window 0: decoding and callbacks go on without drawing.
    ASSERT_EQ(KOVA_SetDisplayWindow(2, 0), KOVA_OK);
    PushAndWait(2, 40, 60, 54);
}

TEST_F(Display, HiddenAndDestroyedWindowsAreHarmless) {
    const xcb_window_t hidden = host.Window(320, 240, false);
    ASSERT_EQ(KOVA_OpenStreamEx(3, hidden, 1, 0, &Keep, reinterpret_cast<intptr_t>(&last)), KOVA_OK);
    PushAndWait(3, 0, 20, 18);
    host.Map(hidden);
    PushAndWait(3, 20, 40, 36);
    host.Destroy(hidden);
    PushAndWait(3, 40, 80, 70);  // decoding goes on after the window is gone
    EXPECT_EQ(KOVA_Close(3), KOVA_OK);
}

// HD fields with the field-coding message: pairs become 1280x720 frames,
// taller than the port's first decode setup, and the window shows them.
TEST_F(Display, DeinterlacedFramesTallerThanTheSetupFillTheWindow) {
    const uint16_t ww = 640, wh = 360;
    const xcb_window_t window = host.Window(ww, wh);
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
        expected = Scaled(last.i420, last.width, last.height, ww, wh);
    }
    EXPECT_LT(WaitForImage(host, window, ww, wh, expected), 3.0);
}

// The host snapshots and moves the window while the port's callback calls
// into the same port: no lock of one side may wait for the other's.
TEST_F(Display, CallbackAndHostUseTheSamePortAtOnce) {
    const xcb_window_t windows[2] = {host.Window(200, 150), host.Window(200, 150)};
    struct Shared {
        const xcb_window_t *windows;
        std::string file;
        std::atomic<int> calls{0}, failures{0};
        std::atomic<bool> closing{false};  // from then on the port answers KOVA_ERR_NOT_OPEN
    } shared{windows, ::testing::TempDir() + "callback_snapshot.bmp"};
    const auto callback = [](int32_t, uint8_t *, int32_t, int32_t, int32_t, intptr_t user) {
        auto *s = reinterpret_cast<Shared *>(user);
        const int n = ++s->calls;
        uint32_t capacity, fill;
        const int32_t results[] = {KOVA_GetStreamBufInfo(6, &capacity, &fill), KOVA_Pause(6), KOVA_Play(6),
                                   KOVA_Snapshot(6, s->file.c_str()),
                                   KOVA_SetDisplayWindow(6, n % 3 == 0 ? 0 : s->windows[n % 2])};
        for (const int32_t rc : results)
            if (rc != KOVA_OK && !s->closing) s->failures = rc;
    };
    ASSERT_EQ(KOVA_OpenStreamEx(6, windows[0], 1, 0, callback, reinterpret_cast<intptr_t>(&shared)), KOVA_OK);
    std::atomic<bool> done{false};
    std::thread hostSide([&] {
        const std::string file = ::testing::TempDir() + "host_snapshot.bmp";
        for (int n = 0; !done; ++n) {
            const int32_t rc = KOVA_Snapshot(6, file.c_str());
            EXPECT_TRUE(rc == KOVA_OK || rc == KOVA_ERR_NO_PICTURE) << rc;
            EXPECT_EQ(KOVA_SetDisplayWindow(6, windows[n % 2]), KOVA_OK);
        }
        std::remove(file.c_str());
    });
    const auto end = std::chrono::steady_clock::now() + 3s;
    for (size_t k = 0; std::chrono::steady_clock::now() < end; k = (k + 1) % units.size()) {
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
    EXPECT_GT(shared.calls.load(), 20);
    EXPECT_EQ(shared.failures.load(), 0) << "the last failed call's result";
}

TEST_F(Display, RawPicturePortShowsTheHostsColours) {
    const uint16_t ww = 400, wh = 200;
    const xcb_window_t window = host.Window(ww, wh);
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
    EXPECT_EQ(KOVA_YUV_Show(4, 2, picture.data(), static_cast<uint32_t>(picture.size()), w, h),
              KOVA_ERR_INVALID_ARGUMENT)
        << "format 2";
    ASSERT_EQ(KOVA_YUV_Show(4, 1, picture.data(), static_cast<uint32_t>(picture.size()), w, h), KOVA_OK);
    const std::vector<uint8_t> expected = Scaled(picture, w, h, ww, wh);
    EXPECT_LT(WaitForImage(host, window, ww, wh, expected), 3.0);
    // The centre of each bar is its colour: white, yellow, cyan, green, magenta, red, blue, black.
    const std::vector<uint8_t> shown = host.Pixels(window, ww, wh);
    ASSERT_EQ(shown.size(), size_t(ww) * wh * 4);
    const int rgb[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                           {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    for (int bar = 0; bar < 8; ++bar) {
        const uint8_t *px = &shown[(size_t(wh / 2) * ww + size_t(bar * ww / 8 + ww / 16)) * 4];
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(px[2 - c], rgb[bar][c], 4) << "bar " << bar << " channel " << c;
    }
    EXPECT_EQ(KOVA_YUV_Close(4), KOVA_OK);
    EXPECT_EQ(KOVA_YUV_Close(4), KOVA_OK);
    EXPECT_EQ(KOVA_YUV_Show(4, 1, picture.data(), static_cast<uint32_t>(picture.size()), w, h), KOVA_ERR_NOT_OPEN);
}
