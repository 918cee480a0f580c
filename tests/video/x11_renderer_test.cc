// The X11 renderer against a real X server (test.sh runs these under Xvfb):
// windows are made the way a host makes them, on the test's own connection,
// and what the renderer drew is read back from the server and compared with
// the picture scaled by libswscale and converted to RGB here, independently.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "video/picture_surface.h"
#include "video/x11_renderer.h"
#include "x_test_server.h"

namespace tessaly::video {
namespace {

using namespace std::chrono_literals;

// ---------------------------------------------------------------------------
// Pictures

struct I420 {
    uint32_t width = 0, height = 0;
    uint32_t yStride = 0, uvStride = 0;
    // Chroma planes hold (width + 1) / 2 x (height + 1) / 2 samples, the size
    // the scaler reads; callers that lay out width / 2 get a packed copy.
    std::vector<uint8_t> y, u, v;

    uint32_t ChromaWidth() const { return (width + 1) / 2; }
    uint32_t ChromaHeight() const { return (height + 1) / 2; }
};

I420 MakePicture(uint32_t width, uint32_t height, uint32_t yStride, uint32_t uvStride) {
    I420 p;
    p.width = width;
    p.height = height;
    p.yStride = yStride;
    p.uvStride = uvStride;
    // Padding filled with values that would show up as stripes if read.
    p.y.assign(size_t{yStride} * height, 255);
    p.u.assign(size_t{uvStride} * p.ChromaHeight(), 0);
    p.v.assign(size_t{uvStride} * p.ChromaHeight(), 255);
    return p;
}

// Eight full-height bars (white, yellow, cyan, green, magenta, red, blue,
// black); chroma is constant across a bar, so the odd last column repeats.
I420 ColourBars(uint32_t width, uint32_t height, uint32_t yStride = 0, uint32_t uvStride = 0) {
    static const uint8_t kBars[8][3] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                                        {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};
    I420 p = MakePicture(width, height, yStride ? yStride : width, uvStride ? uvStride : (width + 1) / 2);
    auto bar = [&](uint32_t x) { return std::min<uint32_t>(x * 8 / width, 7); };
    for (uint32_t r = 0; r < height; ++r)
        for (uint32_t x = 0; x < width; ++x) p.y[size_t{r} * p.yStride + x] = kBars[bar(x)][0];
    for (uint32_t r = 0; r < p.ChromaHeight(); ++r)
        for (uint32_t x = 0; x < p.ChromaWidth(); ++x) {
            const uint32_t b = bar(std::min(2 * x, width - 1));
            p.u[size_t{r} * p.uvStride + x] = kBars[b][1];
            p.v[size_t{r} * p.uvStride + x] = kBars[b][2];
        }
    return p;
}

// Luma ramps left to right, Cb top to bottom, Cr along the diagonal: any row
// or column mix-up, flip or stride error changes the picture.
I420 Gradients(uint32_t width, uint32_t height, uint32_t yStride = 0, uint32_t uvStride = 0) {
    I420 p = MakePicture(width, height, yStride ? yStride : width, uvStride ? uvStride : (width + 1) / 2);
    for (uint32_t r = 0; r < height; ++r)
        for (uint32_t x = 0; x < width; ++x) p.y[size_t{r} * p.yStride + x] = uint8_t(16 + 219 * x / (width - 1));
    const uint32_t cw = p.ChromaWidth(), ch = p.ChromaHeight();
    for (uint32_t r = 0; r < ch; ++r)
        for (uint32_t x = 0; x < cw; ++x) {
            p.u[size_t{r} * p.uvStride + x] = uint8_t(40 + 176 * r / std::max(ch - 1, 1u));
            p.v[size_t{r} * p.uvStride + x] = uint8_t(40 + 176 * (x + r) / std::max(cw + ch - 2, 1u));
        }
    return p;
}

// The caller's contiguous layout: luma rows of width, chroma rows of width / 2.
struct PackedI420 {
    std::vector<uint8_t> y, u, v;
};
PackedI420 Pack(const I420 &p) {
    PackedI420 out;
    const uint32_t cw = p.width / 2, ch = p.height / 2;
    for (uint32_t r = 0; r < p.height; ++r)
        out.y.insert(out.y.end(), p.y.begin() + size_t{r} * p.yStride, p.y.begin() + size_t{r} * p.yStride + p.width);
    for (uint32_t r = 0; r < ch; ++r) {
        out.u.insert(out.u.end(), p.u.begin() + size_t{r} * p.uvStride, p.u.begin() + size_t{r} * p.uvStride + cw);
        out.v.insert(out.v.end(), p.v.begin() + size_t{r} * p.uvStride, p.v.begin() + size_t{r} * p.uvStride + cw);
    }
    // Exactly sized, so a read past the last row would leave the buffer.
    out.y.shrink_to_fit();
    out.u.shrink_to_fit();
    out.v.shrink_to_fit();
    return out;
}

// What the window should show: the picture scaled to the window in 4:2:0,
// then converted with the BT.601 studio-range equations. Returns B, G, R per pixel.
std::vector<uint8_t> ExpectedWindow(const I420 &p, uint32_t width, uint32_t height) {
    SwsContext *scaler = sws_getContext(int(p.width), int(p.height), AV_PIX_FMT_YUV420P, int(width), int(height),
                                        AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    EXPECT_NE(scaler, nullptr);
    const uint32_t cw = (width + 1) / 2, ch = (height + 1) / 2;
    std::vector<uint8_t> y(size_t{width} * height), u(size_t{cw} * ch), v(size_t{cw} * ch);
    const uint8_t *src[4] = {p.y.data(), p.u.data(), p.v.data(), nullptr};
    const int srcStride[4] = {int(p.yStride), int(p.uvStride), int(p.uvStride), 0};
    uint8_t *dst[4] = {y.data(), u.data(), v.data(), nullptr};
    const int dstStride[4] = {int(width), int(cw), int(cw), 0};
    sws_scale(scaler, src, srcStride, 0, int(p.height), dst, dstStride);
    sws_freeContext(scaler);

    std::vector<uint8_t> bgr(size_t{width} * height * 3);
    auto clamp = [](double x) { return uint8_t(std::clamp(std::lround(x), 0L, 255L)); };
    for (uint32_t r = 0; r < height; ++r)
        for (uint32_t x = 0; x < width; ++x) {
            const double luma = 1.164 * (y[size_t{r} * width + x] - 16);
            const double cb = u[size_t{r / 2} * cw + x / 2] - 128.0, cr = v[size_t{r / 2} * cw + x / 2] - 128.0;
            uint8_t *out = &bgr[(size_t{r} * width + x) * 3];
            out[0] = clamp(luma + 2.017 * cb);
            out[1] = clamp(luma - 0.392 * cb - 0.813 * cr);
            out[2] = clamp(luma + 1.596 * cr);
        }
    return bgr;
}

// ---------------------------------------------------------------------------
// A host: its own connection, its own windows.

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

class Host {
public:
    Host() : connection_(tessaly::testsupport::ConnectToTestServer()) {}
    ~Host() { xcb_disconnect(connection_); }

    bool Ok() const { return !xcb_connection_has_error(connection_); }
    int Error() const { return xcb_connection_has_error(connection_); }

    uint32_t CreateWindow(uint16_t width, uint16_t height, bool map = true, int16_t x = 0) {
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        const uint32_t window = xcb_generate_id(connection_);
        // A white background, so that an undrawn window never passes for a
        // picture. Other test programs share the server and their windows may
        // cover ours: with a backing store, what was drawn under them can
        // still be read back.
        const uint32_t values[] = {screen->white_pixel, XCB_BACKING_STORE_ALWAYS, 1};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen->root, x, 0, width, height, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_BACKING_STORE | XCB_CW_OVERRIDE_REDIRECT, values);
        if (map) Map(window);
        Sync();
        return window;
    }
    void Map(uint32_t window) {
        xcb_map_window(connection_, window);
        Sync();
    }
    void Unmap(uint32_t window) {
        xcb_unmap_window(connection_, window);
        Sync();
    }
    void Destroy(uint32_t window) {
        xcb_destroy_window(connection_, window);
        Sync();
    }
    void Resize(uint32_t window, uint32_t width, uint32_t height) {
        const uint32_t values[] = {width, height};
        xcb_configure_window(connection_, window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
        Sync();
    }

    // The window's pixels as B, G, R (the server's 24-bit true-colour layout).
    std::vector<uint8_t> ReadPixels(uint32_t window, uint32_t width, uint32_t height) {
        Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(
            connection_,
            xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, uint16_t(width), uint16_t(height), ~0u),
            nullptr));
        std::vector<uint8_t> bgr;
        if (!image || image->depth != 24) return bgr;
        const uint8_t *data = xcb_get_image_data(image.get());
        if (size_t(xcb_get_image_data_length(image.get())) != size_t{width} * height * 4) return bgr;
        bgr.resize(size_t{width} * height * 3);
        for (size_t i = 0; i < size_t{width} * height; ++i) std::memcpy(&bgr[i * 3], data + i * 4, 3);
        return bgr;
    }

private:
    void Sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

    xcb_connection_t *connection_;
};

struct Difference {
    double mean = 0;         // mean absolute difference over all channels
    double farFraction = 1;  // share of channel values more than 24 apart
};

Difference Compare(const std::vector<uint8_t> &actual, const std::vector<uint8_t> &expected) {
    Difference d;
    if (actual.size() != expected.size() || actual.empty()) return d;
    uint64_t sum = 0, far = 0;
    for (size_t i = 0; i < actual.size(); ++i) {
        const int diff = std::abs(int(actual[i]) - int(expected[i]));
        sum += uint64_t(diff);
        far += diff > 24;
    }
    d.mean = double(sum) / double(actual.size());
    d.farFraction = double(far) / double(actual.size());
    return d;
}

// Waits until the renderer has finished more than `before` blits.
bool WaitForBlit(const X11Renderer &renderer, uint32_t before, std::chrono::milliseconds timeout = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (renderer.BlitCount() <= before) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Blits stop coming: the count is the same over a quiet interval (or, for a
// renderer that never settles, after ten seconds).
uint32_t SettledBlitCount(const X11Renderer &renderer) {
    uint32_t count = renderer.BlitCount();
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(100ms);
        const uint32_t now = renderer.BlitCount();
        if (now == count) break;
        count = now;
    }
    return count;
}

// Draws (through `draw`, which returns whether the picture reached the
// window) and checks that the window shows `picture` scaled to its size.
// Close enough: the renderer's single scaling pass differs from the
// reference's two steps only by rounding and at colour edges.
template <typename DrawFunction>
void ExpectDrawnAndShown(Host &host, uint32_t window, uint32_t width, uint32_t height, const I420 &picture,
                         DrawFunction draw) {
    ASSERT_TRUE(draw());
    const Difference d = Compare(host.ReadPixels(window, width, height), ExpectedWindow(picture, width, height));
    EXPECT_LT(d.mean, 2.5) << width << "x" << height;
    EXPECT_LT(d.farFraction, 0.03) << width << "x" << height;
}

int32_t Draw(X11Renderer &renderer, const I420 &p) {
    return renderer.DrawYuvStrided(p.y.data(), p.yStride, p.u.data(), p.v.data(), p.uvStride, 1);
}

// One strided draw, then its blit.
bool DrawOnce(X11Renderer &renderer, const I420 &p) {
    const uint32_t before = renderer.BlitCount();
    return Draw(renderer, p) == 0 && WaitForBlit(renderer, before);
}

// Draws until a draw returns `result` (three seconds at most). Draws report
// the window's state as the BlitThread last saw it, so the first ones after
// the host showed or hid the window may still report the state before.
bool DrawUntil(X11Renderer &renderer, const I420 &p, int32_t result) {
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (Draw(renderer, p) != result) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class Renderer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under an X server (test.sh uses Xvfb)";
        ASSERT_TRUE(host.Ok()) << "cannot connect to the X server: error " << host.Error();
    }
    Host host;
};

// ---------------------------------------------------------------------------

TEST_F(Renderer, PicturesFillTheWholeWindowInItsColours) {
    struct Case {
        uint32_t pictureWidth, pictureHeight, windowWidth, windowHeight;
        bool sharedMemory;
    };
    // Enlarged, shrunk, both ways at once; through shared memory and through
    // plain requests (800 x 600 x 4 bytes need several requests).
    for (const Case c :
         {Case{352, 288, 1024, 768, true}, Case{704, 576, 352, 288, true}, Case{704, 576, 500, 700, true},
          Case{704, 576, 800, 600, false}, Case{352, 288, 1024, 768, false}}) {
        SCOPED_TRACE(testing::Message() << c.pictureWidth << "x" << c.pictureHeight << " in " << c.windowWidth << "x"
                                        << c.windowHeight << (c.sharedMemory ? " shm" : " plain"));
        const uint32_t window = host.CreateWindow(uint16_t(c.windowWidth), uint16_t(c.windowHeight));
        X11Renderer renderer;
        renderer.UseSharedMemory(c.sharedMemory);
        ASSERT_EQ(renderer.Create(window, c.pictureWidth, c.pictureHeight), 0);
        for (const I420 &picture :
             {ColourBars(c.pictureWidth, c.pictureHeight), Gradients(c.pictureWidth, c.pictureHeight)}) {
            const PackedI420 packed = Pack(picture);
            ExpectDrawnAndShown(host, window, c.windowWidth, c.windowHeight, picture, [&] {
                const uint32_t before = renderer.BlitCount();
                return renderer.DrawYuv(packed.y.data(), packed.u.data(), packed.v.data(), 1) == 0 &&
                       WaitForBlit(renderer, before);
            });
            EXPECT_EQ(renderer.LastBlitUsedSharedMemory(), c.sharedMemory);
        }
        renderer.Release();
        host.Destroy(window);
    }
}

TEST_F(Renderer, StridedPlanesAndSmallerPicturesThanTheSurface) {
    const uint32_t window = host.CreateWindow(640, 480);
    X11Renderer renderer;
    ASSERT_EQ(renderer.Create(window, 720, 576), 0);
    // A decoder's padded planes: the padding (white luma, extreme chroma) must not show.
    for (const I420 &picture :
         {Gradients(704, 576, 768, 400), ColourBars(352, 288, 416, 256), Gradients(176, 144, 176, 88)}) {
        SCOPED_TRACE(testing::Message() << picture.width << "x" << picture.height << " stride " << picture.yStride);
        renderer.SetPictureSize(picture.width, picture.height);
        ExpectDrawnAndShown(host, window, 640, 480, picture, [&] { return DrawOnce(renderer, picture); });
    }
}

TEST_F(Renderer, OddPictureAndWindowSizes) {
    const uint32_t window = host.CreateWindow(331, 197);
    X11Renderer renderer;
    ASSERT_EQ(renderer.Create(window, 401, 301), 0);
    for (const I420 &picture : {ColourBars(401, 301), ColourBars(175, 143), Gradients(37, 23)}) {
        SCOPED_TRACE(testing::Message() << picture.width << "x" << picture.height);
        renderer.SetPictureSize(picture.width, picture.height);
        // Contiguous planes with width / 2 chroma samples per row, exactly sized.
        const PackedI420 packed = Pack(picture);
        ExpectDrawnAndShown(host, window, 331, 197, picture, [&] {
            const uint32_t before = renderer.BlitCount();
            return renderer.DrawYuv(packed.y.data(), packed.u.data(), packed.v.data(), 1) == 0 &&
                   WaitForBlit(renderer, before);
        });
    }
}

TEST_F(Renderer, ResizedWindowGetsThePictureAtItsNewSize) {
    const uint32_t window = host.CreateWindow(320, 240);
    X11Renderer renderer;
    ASSERT_EQ(renderer.Create(window, 704, 576), 0);
    const I420 picture = Gradients(704, 576);
    const PackedI420 packed = Pack(picture);
    struct Size {
        uint32_t width, height;
    };
    for (const Size size : {Size{320, 240}, Size{960, 540}, Size{200, 600}, Size{320, 240}}) {
        SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
        host.Resize(window, size.width, size.height);
        ExpectDrawnAndShown(host, window, size.width, size.height, picture, [&] {
            const uint32_t before = renderer.BlitCount();
            return renderer.DrawYuv(packed.y.data(), packed.u.data(), packed.v.data(), 1) == 0 &&
                   WaitForBlit(renderer, before);
        });
    }
}

TEST_F(Renderer, HiddenWindowIsNotDrawnUntilShownAgain) {
    const uint32_t window = host.CreateWindow(400, 300, /*map=*/false);
    X11Renderer renderer;
    ASSERT_EQ(renderer.Create(window, 352, 288), 0);
    const I420 bars = ColourBars(352, 288), ramps = Gradients(352, 288);
    // Create found the window hidden: no draw says shown, none is blitted.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Draw(renderer, ramps), X11Renderer::kNotShown);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(renderer.BlitCount(), 0u);

    host.Map(window);
    ExpectDrawnAndShown(host, window, 400, 300, bars,
                        [&] { return DrawUntil(renderer, bars, 0) && WaitForBlit(renderer, 0); });

    host.Unmap(window);
    const uint32_t shown = SettledBlitCount(renderer);
    EXPECT_TRUE(DrawUntil(renderer, ramps, X11Renderer::kNotShown));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Draw(renderer, ramps), X11Renderer::kNotShown);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(renderer.BlitCount(), shown);
}

TEST_F(Renderer, WindowDestroyedWhileDrawingEndsInNotShown) {
    for (const bool sharedMemory : {true, false}) {
        SCOPED_TRACE(sharedMemory ? "shm" : "plain");
        const uint32_t window = host.CreateWindow(1024, 768);
        X11Renderer renderer;
        renderer.UseSharedMemory(sharedMemory);
        ASSERT_EQ(renderer.Create(window, 704, 576), 0);
        const I420 picture = Gradients(704, 576);

        // The decoding thread draws as fast as it can; the host destroys the
        // window in the middle, most likely during a blit.
        std::atomic<int32_t> lastResult{0};
        std::atomic<bool> stop{false};
        std::thread decoder([&] {
            while (!stop) lastResult = Draw(renderer, picture);
        });
        ASSERT_TRUE(WaitForBlit(renderer, 2));
        host.Destroy(window);
        std::this_thread::sleep_for(200ms);
        stop = true;
        decoder.join();
        EXPECT_EQ(lastResult.load(), X11Renderer::kNotShown);
        EXPECT_EQ(Draw(renderer, picture), X11Renderer::kNotShown);
        renderer.Release();
        EXPECT_FALSE(renderer.IsInitialised());
    }
    // The shared connection survived the errors: a new window is drawn normally.
    const uint32_t window = host.CreateWindow(300, 200);
    X11Renderer renderer;
    ASSERT_EQ(renderer.Create(window, 352, 288), 0);
    const I420 picture = ColourBars(352, 288);
    ExpectDrawnAndShown(host, window, 300, 200, picture, [&] { return DrawOnce(renderer, picture); });
}

TEST_F(Renderer, PicturesDrawnDuringABlitMergeIntoTheNewest) {
    const uint32_t window = host.CreateWindow(1280, 720);
    X11Renderer renderer;
    ASSERT_EQ(renderer.Create(window, 704, 576), 0);
    const I420 bars = ColourBars(704, 576), ramps = Gradients(704, 576);
    constexpr uint32_t kDraws = 40;
    // Whatever merged, the last picture drawn is the one shown.
    ExpectDrawnAndShown(host, window, 1280, 720, ramps, [&] {
        const uint32_t before = SettledBlitCount(renderer);
        for (uint32_t i = 0; i < kDraws; ++i)
            if (Draw(renderer, i % 2 ? ramps : bars) != 0) return false;
        const uint32_t blits = SettledBlitCount(renderer) - before;
        EXPECT_GE(blits, 1u);
        EXPECT_LT(blits, kDraws);
        return blits >= 1;
    });
}

TEST_F(Renderer, SecondCreateMovesDrawingToTheNewWindow) {
    const uint32_t first = host.CreateWindow(320, 240), second = host.CreateWindow(480, 360, true, 400);
    X11Renderer renderer;
    ASSERT_EQ(renderer.Create(first, 352, 288), 0);
    const I420 bars = ColourBars(352, 288), ramps = Gradients(352, 288);
    ASSERT_EQ(Draw(renderer, bars), 0);
    ASSERT_TRUE(WaitForBlit(renderer, 0));

    ASSERT_EQ(renderer.Create(second, 352, 288), 0);
    EXPECT_EQ(renderer.Window(), second);
    EXPECT_EQ(renderer.BlitCount(), 0u);
    ExpectDrawnAndShown(host, second, 480, 360, ramps, [&] { return DrawOnce(renderer, ramps); });
    // The first window is drawn no more.
    EXPECT_GT(Compare(host.ReadPixels(first, 320, 240), ExpectedWindow(ramps, 320, 240)).mean, 20.0);
}

TEST_F(Renderer, ReleaseWhileBlittingAndCreateAgain) {
    const uint32_t window = host.CreateWindow(1280, 720);
    const I420 bars = ColourBars(704, 576), ramps = Gradients(704, 576);
    X11Renderer renderer;
    // Release lands while the thread scales or puts a picture: it must wait
    // for it, and the next Create must start clean.
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(renderer.Create(window, 704, 576), 0);
        ASSERT_EQ(Draw(renderer, bars), 0);
        if (round % 2) std::this_thread::sleep_for(1ms);
        renderer.Release();
        EXPECT_FALSE(renderer.IsInitialised());
    }
    ASSERT_EQ(renderer.Create(window, 704, 576), 0);
    ExpectDrawnAndShown(host, window, 1280, 720, ramps, [&] { return DrawOnce(renderer, ramps); });
}

TEST_F(Renderer, GrownSurfaceTakesTallerPicturesInTheSameWindow) {
    const uint32_t window = host.CreateWindow(640, 360);
    X11Renderer renderer;
    ASSERT_EQ(renderer.Create(window, 1280, 576), 0);
    const I420 tall = Gradients(1280, 720);
    const PackedI420 packed = Pack(tall);
    renderer.SetPictureSize(1280, 720);
    EXPECT_EQ(renderer.DrawYuv(packed.y.data(), packed.u.data(), packed.v.data(), 1), X11Renderer::kPictureDropped);
    // Each growth most likely lands while the BlitThread still scales the
    // picture drawn just before from the slots being replaced.
    for (uint32_t height = 576; height < 720; height += 48) {
        const I420 bars = ColourBars(1280, height);
        renderer.SetPictureSize(1280, height);
        ASSERT_EQ(Draw(renderer, bars), 0);
        ASSERT_TRUE(renderer.GrowSurface(1280, height + 48));
    }
    EXPECT_TRUE(renderer.GrowSurface(640, 480)) << "never shrinks";
    ExpectDrawnAndShown(host, window, 640, 360, tall, [&] {
        renderer.SetPictureSize(1280, 720);
        const uint32_t before = SettledBlitCount(renderer);
        return renderer.DrawYuv(packed.y.data(), packed.u.data(), packed.v.data(), 1) == 0 &&
               WaitForBlit(renderer, before);
    });
}

TEST_F(Renderer, RefusedWindowsAndPicturesReturnTheirCodes) {
    X11Renderer renderer;
    const I420 picture = ColourBars(352, 288);
    // Not created: nothing to draw into.
    EXPECT_EQ(Draw(renderer, picture), X11Renderer::kNotShown);
    renderer.Release();

    EXPECT_EQ(renderer.Create(0, 352, 288), X11Renderer::kWindowRefused);
    const uint32_t gone = host.CreateWindow(100, 100);
    host.Destroy(gone);
    EXPECT_EQ(renderer.Create(gone, 352, 288), X11Renderer::kWindowRefused);
    EXPECT_FALSE(renderer.IsInitialised());
    EXPECT_EQ(Draw(renderer, picture), X11Renderer::kNotShown);

    const uint32_t window = host.CreateWindow(200, 200);
    EXPECT_EQ(renderer.Create(window, 1, 288), X11Renderer::kNoPictureSurface);
    EXPECT_EQ(renderer.Create(window, 0, 0), X11Renderer::kNoPictureSurface);
    ASSERT_EQ(renderer.Create(window, 352, 288), 0);
    EXPECT_EQ(renderer.PictureWidth(), 352u);
    EXPECT_EQ(renderer.PictureHeight(), 288u);

    // Larger than the surface, too small, or planes missing: dropped, never blitted.
    renderer.SetPictureSize(353, 288);
    EXPECT_EQ(Draw(renderer, ColourBars(353, 288)), X11Renderer::kPictureDropped);
    renderer.SetPictureSize(352, 289);
    EXPECT_EQ(Draw(renderer, ColourBars(352, 289)), X11Renderer::kPictureDropped);
    renderer.SetPictureSize(1, 1);
    EXPECT_EQ(Draw(renderer, picture), X11Renderer::kPictureDropped);
    renderer.SetPictureSize(352, 288);
    EXPECT_EQ(renderer.DrawYuv(picture.y.data(), nullptr, picture.v.data(), 1), X11Renderer::kPictureDropped);
    EXPECT_EQ(renderer.DrawYuvStrided(picture.y.data(), 100, picture.u.data(), picture.v.data(), 176, 1),
              X11Renderer::kPictureDropped);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(renderer.BlitCount(), 0u);

    renderer.Release();
    renderer.Release();
    EXPECT_FALSE(renderer.IsInitialised());
    EXPECT_EQ(Draw(renderer, picture), X11Renderer::kNotShown);
}

// ---------------------------------------------------------------------------
// The picture store alone: no X needed.

std::vector<uint8_t> PlaneRows(const PlanarPicture &p, int plane, uint32_t width, uint32_t rows) {
    std::vector<uint8_t> out;
    for (uint32_t r = 0; r < rows; ++r)
        out.insert(out.end(), p.planes[plane] + size_t{r} * uint32_t(p.strides[plane]),
                   p.planes[plane] + size_t{r} * uint32_t(p.strides[plane]) + width);
    return out;
}

TEST(PictureSurface, ShownPictureStaysIntactWhileNewerOnesAreWritten) {
    PictureSurface surface;
    ASSERT_TRUE(surface.Allocate(64, 48));
    PlanarPicture shown;
    EXPECT_FALSE(surface.AcquireNewest(shown));

    const I420 a = ColourBars(64, 48), b = Gradients(64, 48), c = ColourBars(32, 16);
    auto write = [&](const I420 &p) {
        return surface.Write(p.y.data(), p.yStride, p.u.data(), p.v.data(), p.uvStride, p.width, p.height);
    };
    ASSERT_TRUE(write(a));
    ASSERT_TRUE(surface.AcquireNewest(shown));
    const std::vector<uint8_t> shownLuma = PlaneRows(shown, 0, 64, 48);
    EXPECT_EQ(shownLuma, Pack(a).y);

    // Several pictures while the first is being shown: it is not touched,
    // and the next acquire gets only the newest.
    ASSERT_TRUE(write(b));
    ASSERT_TRUE(write(c));
    ASSERT_TRUE(write(b));
    ASSERT_TRUE(write(c));
    EXPECT_EQ(PlaneRows(shown, 0, 64, 48), shownLuma);
    PlanarPicture newest;
    ASSERT_TRUE(surface.AcquireNewest(newest));
    EXPECT_EQ(newest.width, 32u);
    EXPECT_EQ(newest.height, 16u);
    EXPECT_EQ(PlaneRows(newest, 0, 32, 16), Pack(c).y);
    EXPECT_EQ(PlaneRows(newest, 1, 16, 8), Pack(c).u);
    EXPECT_EQ(PlaneRows(newest, 2, 16, 8), Pack(c).v);

    // Nothing newer: the same picture again (a repeated blit shows it again).
    PlanarPicture again;
    ASSERT_TRUE(surface.AcquireNewest(again));
    EXPECT_EQ(again.planes[0], newest.planes[0]);
}

TEST(PictureSurface, GrowingKeepsTheHeldPictureAndDropsTheOldSlots) {
    PictureSurface surface;
    ASSERT_TRUE(surface.Allocate(64, 48));
    const I420 small = ColourBars(64, 48), tall = Gradients(48, 96);
    auto write = [&](const I420 &p) {
        return surface.Write(p.y.data(), p.yStride, p.u.data(), p.v.data(), p.uvStride, p.width, p.height);
    };
    ASSERT_TRUE(write(small));
    PlanarPicture held;
    ASSERT_TRUE(surface.AcquireNewest(held));
    ASSERT_TRUE(write(small));
    ASSERT_TRUE(surface.Grow(48, 96));
    EXPECT_EQ(surface.Width(), 64u);
    EXPECT_EQ(surface.Height(), 96u);

    // Every new slot written: the held picture is elsewhere and intact.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(write(tall));
    EXPECT_EQ(PlaneRows(held, 0, 64, 48), Pack(small).y);
    PlanarPicture newest;
    ASSERT_TRUE(surface.AcquireNewest(newest));
    EXPECT_EQ(newest.height, 96u);
    EXPECT_EQ(PlaneRows(newest, 0, 48, 96), Pack(tall).y);

    // Nothing written since the growth: nothing to show, not a stale slot.
    ASSERT_TRUE(surface.Grow(64, 100));
    EXPECT_FALSE(surface.AcquireNewest(newest));
}

TEST(PictureSurface, OddSizesRepeatTheLastChromaSample) {
    PictureSurface surface;
    ASSERT_TRUE(surface.Allocate(9, 7));
    const PackedI420 packed = Pack(Gradients(9, 7));  // chroma 4 x 3 as given
    ASSERT_TRUE(surface.Write(packed.y.data(), 9, packed.u.data(), packed.v.data(), 4, 9, 7));
    PlanarPicture p;
    ASSERT_TRUE(surface.AcquireNewest(p));
    for (int plane : {1, 2}) {
        const std::vector<uint8_t> &given = plane == 1 ? packed.u : packed.v;
        const std::vector<uint8_t> read = PlaneRows(p, plane, 5, 4);  // the scaler reads 5 x 4
        for (uint32_t r = 0; r < 4; ++r)
            for (uint32_t x = 0; x < 5; ++x)
                EXPECT_EQ(read[r * 5 + x], given[std::min(r, 2u) * 4 + std::min(x, 3u)])
                    << plane << " " << r << " " << x;
    }
}

TEST(PictureSurface, RefusesWhatDoesNotFit) {
    PictureSurface surface;
    EXPECT_FALSE(surface.Allocate(1, 100));
    const std::vector<uint8_t> plane(64 * 64, 100);
    EXPECT_FALSE(surface.Write(plane.data(), 64, plane.data(), plane.data(), 32, 16, 16));  // not allocated
    ASSERT_TRUE(surface.Allocate(32, 32));
    EXPECT_FALSE(surface.Write(plane.data(), 64, plane.data(), plane.data(), 32, 33, 16));
    EXPECT_FALSE(surface.Write(plane.data(), 64, plane.data(), plane.data(), 32, 16, 33));
    EXPECT_FALSE(surface.Write(plane.data(), 15, plane.data(), plane.data(), 32, 16, 16));  // stride below width
    EXPECT_FALSE(surface.Write(plane.data(), 64, plane.data(), plane.data(), 7, 16, 16));
    EXPECT_FALSE(surface.Write(nullptr, 64, plane.data(), plane.data(), 32, 16, 16));
    PlanarPicture p;
    EXPECT_FALSE(surface.AcquireNewest(p));
    EXPECT_TRUE(surface.Write(plane.data(), 64, plane.data(), plane.data(), 32, 32, 32));
}

}  // namespace
}  // namespace tessaly::video
