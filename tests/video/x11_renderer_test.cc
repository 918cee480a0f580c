// The X11 renderer against a real X server (test.sh runs these under Xvfb):
// windows are made the way a host makes them, on the test's own connection,
// and what the renderer drew is read back from the server and compared with
// the picture scaled by libswscale and converted to RGB here, independently.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "video/picture_surface.h"
#include "video/x11_renderer.h"
#include "x_test_image.h"
#include "x_test_server.h"

namespace tessaly::video {
namespace {

using namespace std::chrono_literals;
using Host = testsupport::XTestHost;

// Pictures; planes hold (width + 1) / 2 x (height + 1) / 2 chroma samples,
// the size the scaler reads (Pack gives callers' width / 2 layout).
struct I420 {
    uint32_t width = 0, height = 0;
    uint32_t yStride = 0, uvStride = 0;
    std::vector<uint8_t> y, u, v;
};

// Bars: eight full-height bars (white, yellow, cyan, green, magenta, red,
// blue, black), chroma constant across a bar. Ramps: luma left to right, Cb
// top to bottom, Cr along the diagonal, so any row or column mix-up, flip or
// stride error changes the picture. Strides of 0 mean packed rows.
enum class Pattern { kBars, kRamps };
I420 MakePicture(Pattern pattern, uint32_t width, uint32_t height, uint32_t yStride = 0, uint32_t uvStride = 0) {
    static const uint8_t kBars[8][3] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                                        {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};
    const uint32_t cw = (width + 1) / 2, ch = (height + 1) / 2;
    I420 p{width, height, yStride ? yStride : width, uvStride ? uvStride : cw, {}, {}, {}};
    // Padding filled with values that would show up as stripes if read.
    p.y.assign(size_t{p.yStride} * height, 255);
    p.u.assign(size_t{p.uvStride} * ch, 0);
    p.v.assign(size_t{p.uvStride} * ch, 255);
    auto bar = [&](uint32_t x) { return kBars[std::min<uint32_t>(std::min(x, width - 1) * 8 / width, 7)]; };
    const bool bars = pattern == Pattern::kBars;
    for (uint32_t r = 0; r < height; ++r)
        for (uint32_t x = 0; x < width; ++x)
            p.y[size_t{r} * p.yStride + x] = bars ? bar(x)[0] : uint8_t(16 + 219 * x / (width - 1));
    for (uint32_t r = 0; r < ch; ++r)
        for (uint32_t x = 0; x < cw; ++x) {
            p.u[size_t{r} * p.uvStride + x] = bars ? bar(2 * x)[1] : uint8_t(40 + 176 * r / std::max(ch - 1, 1u));
            p.v[size_t{r} * p.uvStride + x] =
                bars ? bar(2 * x)[2] : uint8_t(40 + 176 * (x + r) / std::max(cw + ch - 2, 1u));
        }
    return p;
}

// The caller's contiguous layout, luma rows of width, chroma rows of width / 2,
// exactly sized, so a read past the last row would leave the buffer.
I420 Pack(const I420 &p) {
    I420 out{p.width, p.height, p.width, p.width / 2, {}, {}, {}};
    auto rows = [](std::vector<uint8_t> &to, const std::vector<uint8_t> &from, uint32_t stride, uint32_t width,
                   uint32_t count) {
        for (uint32_t r = 0; r < count; ++r)
            to.insert(to.end(), from.begin() + size_t{r} * stride, from.begin() + size_t{r} * stride + width);
        to.shrink_to_fit();
    };
    rows(out.y, p.y, p.yStride, p.width, p.height);
    rows(out.u, p.u, p.uvStride, p.width / 2, p.height / 2);
    rows(out.v, p.v, p.uvStride, p.width / 2, p.height / 2);
    return out;
}

// The mean absolute channel difference between the window and `picture`
// scaled to it, and the share of channel values more than 24 apart.
std::pair<double, double> Difference(Host &host, uint32_t window, uint32_t width, uint32_t height,
                                     const I420 &picture) {
    const uint8_t *planes[3] = {picture.y.data(), picture.u.data(), picture.v.data()};
    const int strides[3] = {int(picture.yStride), int(picture.uvStride), int(picture.uvStride)};
    return testsupport::ImageDifference(host.ReadBgr(window, width, height),
                                        testsupport::ExpectedWindowBgr(planes, strides, int(picture.width),
                                                                       int(picture.height), int(width), int(height)));
}

// Close enough: the renderer's single scaling pass differs from the
// reference's two steps only by rounding and at colour edges.
void ExpectShown(Host &host, uint32_t window, uint32_t width, uint32_t height, const I420 &picture) {
    const auto [mean, farFraction] = Difference(host, window, width, height, picture);
    EXPECT_TRUE(mean < 2.5 && farFraction < 0.03) << width << "x" << height << ": " << mean << ", " << farFraction;
}

// Waits until `done` holds (three seconds at most).
template <typename Condition>
bool WaitFor(Condition done) {
    for (int i = 0; i < 1500; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

// Blits stop coming: the count is the same over a quiet interval (or, for a
// renderer that never settles, after ten seconds).
uint32_t SettledBlitCount(const X11Renderer &renderer) {
    for (int i = 0; i < 100; ++i) {
        const uint32_t count = renderer.BlitCount();
        std::this_thread::sleep_for(100ms);
        if (renderer.BlitCount() == count) return count;
    }
    return renderer.BlitCount();
}

// A packed picture (strides width and width / 2) goes through DrawYuv.
int32_t Draw(X11Renderer &renderer, const I420 &p) {
    if (p.yStride == p.width && p.uvStride == p.width / 2)
        return renderer.DrawYuv(p.y.data(), p.u.data(), p.v.data(), 1);
    return renderer.DrawYuvStrided(p.y.data(), p.yStride, p.u.data(), p.v.data(), p.uvStride, 1);
}

// One draw, then its blit.
bool DrawOnce(X11Renderer &renderer, const I420 &p) {
    const uint32_t before = renderer.BlitCount();
    return Draw(renderer, p) == 0 && WaitFor([&] { return renderer.BlitCount() > before; });
}

// Draws that must all be refused with `code`, and no blit after them.
void ExpectRefused(X11Renderer &renderer, const I420 &p, int32_t code) {
    const uint32_t blits = renderer.BlitCount();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Draw(renderer, p), code);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(renderer.BlitCount(), blits);
}

class Renderer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.Ok()) << "cannot connect to the X server (test.sh runs these under Xvfb)";
    }
    Host host;
    const I420 bars = MakePicture(Pattern::kBars, 704, 576), ramps = MakePicture(Pattern::kRamps, 704, 576);
};

TEST_F(Renderer, PicturesFillTheWholeWindowInItsColours) {
    struct Case {
        uint32_t width, height, yStride, uvStride;  // strides 0: packed, through DrawYuv
        uint32_t surfaceWidth, surfaceHeight, windowWidth, windowHeight;
        bool sharedMemory;
    };
    // Enlarged, shrunk, both ways at once, and then the window resized; through
    // shared memory and through plain requests (800 x 600 x 4 bytes need
    // several); a decoder's padded
    // planes (the padding must not show) and pictures smaller than the
    // surface; odd picture and window sizes.
    for (const Case c :
         {Case{352, 288, 0, 0, 352, 288, 1024, 768, true}, Case{704, 576, 0, 0, 704, 576, 352, 288, true},
          Case{704, 576, 0, 0, 704, 576, 500, 700, true}, Case{704, 576, 0, 0, 704, 576, 800, 600, false},
          Case{352, 288, 0, 0, 352, 288, 1024, 768, false}, Case{704, 576, 768, 400, 720, 576, 640, 480, true},
          Case{352, 288, 416, 256, 720, 576, 640, 480, false}, Case{176, 144, 176, 88, 720, 576, 640, 480, true},
          Case{401, 301, 0, 0, 401, 301, 331, 197, true}, Case{175, 143, 0, 0, 401, 301, 331, 197, true},
          Case{37, 23, 0, 0, 401, 301, 331, 197, false}}) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " in " << c.windowWidth << "x"
                                        << c.windowHeight);
        const uint32_t window = host.CreateWindow(uint16_t(c.windowWidth), uint16_t(c.windowHeight));
        X11Renderer renderer;
        renderer.UseSharedMemory(c.sharedMemory);
        ASSERT_EQ(renderer.Create(window, c.surfaceWidth, c.surfaceHeight), 0);
        renderer.SetPictureSize(c.width, c.height);
        uint32_t size[] = {c.windowWidth, c.windowHeight};
        for (const Pattern pattern : {Pattern::kBars, Pattern::kRamps}) {
            const I420 picture = MakePicture(pattern, c.width, c.height, c.yStride, c.uvStride);
            ASSERT_TRUE(DrawOnce(renderer, c.yStride ? picture : Pack(picture)));
            ExpectShown(host, window, size[0], size[1], picture);
            EXPECT_EQ(renderer.LastBlitUsedSharedMemory(), c.sharedMemory);
            // The next picture goes to the window at its new size.
            size[0] = size[0] * 5 / 4;
            size[1] = size[1] * 3 / 4;
            host.Do(xcb_configure_window, window, uint16_t(XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT), size);
        }
        renderer.Release();
        host.Do(xcb_destroy_window, window);
    }
}

TEST_F(Renderer, HiddenWindowIsNotDrawnUntilShownAgain) {
    const uint32_t window = host.CreateWindow(400, 300, /*map=*/false);
    X11Renderer renderer;
    ASSERT_EQ(renderer.Create(window, 704, 576), 0);
    // Create found the window hidden: no draw says shown, none is blitted.
    ExpectRefused(renderer, ramps, X11Renderer::kNotShown);

    // Draws report the window's state as the BlitThread last saw it, so the
    // first ones after the host showed or hid it may still report the state before.
    host.Do(xcb_map_window, window);
    ASSERT_TRUE(WaitFor([&] { return Draw(renderer, bars) == 0; }));
    ASSERT_TRUE(WaitFor([&] { return renderer.BlitCount() > 0; }));
    ExpectShown(host, window, 400, 300, bars);

    host.Do(xcb_unmap_window, window);
    EXPECT_TRUE(WaitFor([&] { return Draw(renderer, ramps) == X11Renderer::kNotShown; }));
    SettledBlitCount(renderer);
    ExpectRefused(renderer, ramps, X11Renderer::kNotShown);
}

TEST_F(Renderer, WindowDestroyedWhileDrawingEndsInNotShown) {
    const I420 &picture = ramps;
    for (const bool sharedMemory : {true, false}) {
        SCOPED_TRACE(sharedMemory ? "shm" : "plain");
        const uint32_t window = host.CreateWindow(1024, 768);
        X11Renderer renderer;
        renderer.UseSharedMemory(sharedMemory);
        ASSERT_EQ(renderer.Create(window, 704, 576), 0);
        // The decoding thread draws as fast as it can; the host destroys the
        // window in the middle, most likely during a blit.
        std::atomic<int32_t> lastResult{0};
        std::atomic<bool> stop{false};
        std::thread decoder([&] {
            while (!stop) lastResult = Draw(renderer, picture);
        });
        EXPECT_TRUE(WaitFor([&] { return renderer.BlitCount() > 2; }));
        host.Do(xcb_destroy_window, window);
        std::this_thread::sleep_for(200ms);
        stop = true;
        decoder.join();
        EXPECT_EQ(lastResult.load(), X11Renderer::kNotShown);
        EXPECT_EQ(Draw(renderer, picture), X11Renderer::kNotShown);
    }
    // The shared connection survived the errors: a new window is drawn normally.
    const uint32_t window = host.CreateWindow(300, 200);
    X11Renderer renderer;
    ASSERT_EQ(renderer.Create(window, 704, 576), 0);
    ASSERT_TRUE(DrawOnce(renderer, picture));
    ExpectShown(host, window, 300, 200, picture);
}

TEST_F(Renderer, PicturesDrawnDuringABlitMergeIntoTheNewest) {
    const uint32_t window = host.CreateWindow(1280, 720);
    X11Renderer renderer;
    ASSERT_EQ(renderer.Create(window, 704, 576), 0);
    constexpr uint32_t kDraws = 40;
    const uint32_t before = SettledBlitCount(renderer);
    for (uint32_t i = 0; i < kDraws; ++i) ASSERT_EQ(Draw(renderer, i % 2 ? ramps : bars), 0);
    const uint32_t blits = SettledBlitCount(renderer) - before;
    EXPECT_GE(blits, 1u);
    EXPECT_LT(blits, kDraws);
    // Whatever merged, the last picture drawn is the one shown.
    ExpectShown(host, window, 1280, 720, ramps);
}

TEST_F(Renderer, ReleaseOrCreateWhileBlittingThenDrawOnlyIntoTheNewWindow) {
    const uint32_t first = host.CreateWindow(1280, 720), second = host.CreateWindow(480, 240);
    X11Renderer renderer;
    // Release, or a Create that releases first, lands while the thread scales
    // or puts a picture: it must wait for it, and start clean.
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(renderer.Create(first, 704, 576), 0);
        ASSERT_EQ(Draw(renderer, bars), 0);
        if (round % 2) std::this_thread::sleep_for(1ms);
        if (round % 4 < 2) renderer.Release();
        EXPECT_EQ(renderer.IsInitialised(), round % 4 >= 2);
    }
    ASSERT_EQ(renderer.Create(second, 704, 576), 0);
    EXPECT_EQ(renderer.Window(), second);
    EXPECT_EQ(renderer.BlitCount(), 0u);
    ASSERT_TRUE(DrawOnce(renderer, ramps));
    ExpectShown(host, second, 480, 240, ramps);
    // The first window is drawn no more.
    EXPECT_GT(Difference(host, first, 1280, 720, ramps).first, 20.0);
}

TEST_F(Renderer, RefusedWindowsAndPicturesReturnTheirCodes) {
    X11Renderer renderer;
    const I420 picture = MakePicture(Pattern::kBars, 352, 288);
    // Not created: nothing to draw into.
    EXPECT_EQ(Draw(renderer, picture), X11Renderer::kNotShown);
    renderer.Release();

    EXPECT_EQ(renderer.Create(0, 352, 288), X11Renderer::kWindowRefused);
    const uint32_t gone = host.CreateWindow(100, 100);
    host.Do(xcb_destroy_window, gone);
    EXPECT_EQ(renderer.Create(gone, 352, 288), X11Renderer::kWindowRefused);
    EXPECT_FALSE(renderer.IsInitialised());
    EXPECT_EQ(Draw(renderer, picture), X11Renderer::kNotShown);

    const uint32_t window = host.CreateWindow(200, 200);
    EXPECT_EQ(renderer.Create(window, 1, 288), X11Renderer::kNoPictureSurface);
    EXPECT_EQ(renderer.Create(window, 0, 0), X11Renderer::kNoPictureSurface);
    ASSERT_EQ(renderer.Create(window, 352, 288), 0);

    // Larger than the surface, too small, strides below the rows or planes
    // missing: dropped, never blitted.
    for (const auto &[width, height] : {std::pair<uint32_t, uint32_t>{353, 288}, {352, 289}, {1, 1}}) {
        renderer.SetPictureSize(width, height);
        EXPECT_EQ(Draw(renderer, MakePicture(Pattern::kBars, width, height)), X11Renderer::kPictureDropped) << width;
    }
    renderer.SetPictureSize(352, 288);
    const uint8_t *y = picture.y.data(), *u = picture.u.data(), *v = picture.v.data();
    EXPECT_EQ(renderer.DrawYuv(y, nullptr, v, 1), X11Renderer::kPictureDropped);
    EXPECT_EQ(renderer.DrawYuvStrided(y, 351, u, v, 176, 1), X11Renderer::kPictureDropped);
    EXPECT_EQ(renderer.DrawYuvStrided(y, 352, u, v, 175, 1), X11Renderer::kPictureDropped);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(renderer.BlitCount(), 0u);

    renderer.Release();
    renderer.Release();
    EXPECT_FALSE(renderer.IsInitialised());
    EXPECT_EQ(Draw(renderer, picture), X11Renderer::kNotShown);
}

// The picture store alone: no X needed.
// The surface's picture is `p`, row for row in every plane.
bool Holds(const PlanarPicture &s, const I420 &p) {
    const std::vector<uint8_t> *planes[3] = {&p.y, &p.u, &p.v};
    bool same = s.width == p.width && s.height == p.height;
    for (int i = 0; i < 3; ++i)
        for (uint32_t r = 0; r < (i ? p.height / 2 : p.height); ++r)
            same &= std::memcmp(s.planes[i] + size_t{r} * uint32_t(s.strides[i]),
                                planes[i]->data() + size_t{r} * (i ? p.uvStride : p.yStride),
                                i ? p.width / 2 : p.width) == 0;
    return same;
}

bool Write(PictureSurface &surface, const I420 &p) {
    return surface.Write(p.y.data(), p.yStride, p.u.data(), p.v.data(), p.uvStride, p.width, p.height);
}

TEST(PictureSurface, ShownPictureStaysIntactWhileNewerOnesAreWritten) {
    PictureSurface surface;
    ASSERT_TRUE(surface.Allocate(64, 48));
    PlanarPicture shown;
    EXPECT_FALSE(surface.AcquireNewest(shown));
    const I420 a = MakePicture(Pattern::kBars, 64, 48), b = MakePicture(Pattern::kRamps, 64, 48),
               c = MakePicture(Pattern::kRamps, 32, 16);
    ASSERT_TRUE(Write(surface, a));
    ASSERT_TRUE(surface.AcquireNewest(shown));
    EXPECT_TRUE(Holds(shown, a));
    // Several pictures while the first is being shown: it is not touched,
    // and the next acquire gets only the newest.
    for (const I420 *p : {&b, &c, &b, &c}) ASSERT_TRUE(Write(surface, *p));
    EXPECT_TRUE(Holds(shown, a));
    PlanarPicture newest;
    ASSERT_TRUE(surface.AcquireNewest(newest));
    EXPECT_TRUE(Holds(newest, c));
    // Nothing newer: the same picture again (a repeated blit shows it again).
    PlanarPicture again;
    ASSERT_TRUE(surface.AcquireNewest(again));
    EXPECT_EQ(again.planes[0], newest.planes[0]);
}

TEST(PictureSurface, GrowingKeepsTheHeldPictureAndDropsTheOldSlots) {
    PictureSurface surface;
    ASSERT_TRUE(surface.Allocate(64, 48));
    const I420 small = MakePicture(Pattern::kBars, 64, 48), tall = MakePicture(Pattern::kRamps, 48, 96);
    ASSERT_TRUE(Write(surface, small));
    PlanarPicture held;
    ASSERT_TRUE(surface.AcquireNewest(held));
    ASSERT_TRUE(Write(surface, small));
    ASSERT_TRUE(surface.Grow(48, 96));
    EXPECT_EQ(surface.Width(), 64u);
    EXPECT_EQ(surface.Height(), 96u);
    // Every new slot written: the held picture is elsewhere and intact.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Write(surface, tall));
    EXPECT_TRUE(Holds(held, small));
    PlanarPicture newest;
    ASSERT_TRUE(surface.AcquireNewest(newest));
    EXPECT_TRUE(Holds(newest, tall));
    // Nothing written since the growth: nothing to show, not a stale slot.
    ASSERT_TRUE(surface.Grow(64, 100));
    EXPECT_FALSE(surface.AcquireNewest(newest));
}

}  // namespace
}  // namespace tessaly::video
