// Time a picture takes on the blit thread: scaling and colour conversion
// alone, and the whole blit into a window (window state query, conversion,
// MIT-SHM put and its reply), for the sizes a monitoring wall uses.
// Needs an X server ($DISPLAY; Xvfb will do):
//
//   xvfb-run -a -s "-screen 0 2048x1536x24" build/bench/display_blit
#include <xcb/xcb.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/x11_windows.h"
#include "video/x11_blitter.h"

namespace {

using tessaly::video::PlanarPicture;
using tessaly::video::WindowBlitter;

// A picture with detail everywhere, so no conversion path can shortcut flat areas.
struct TestPicture {
    std::vector<uint8_t> y, u, v;
    PlanarPicture view;
    TestPicture(uint32_t width, uint32_t height)
        : y(size_t{width} * height), u(size_t{width} * height / 4), v(size_t{width} * height / 4) {
        for (size_t i = 0; i < y.size(); ++i) y[i] = uint8_t(i * 7 ^ (i >> 11));
        for (size_t i = 0; i < u.size(); ++i) u[i] = uint8_t(i * 3), v[i] = uint8_t(i * 5 + 17);
        view.planes[0] = y.data();
        view.planes[1] = u.data();
        view.planes[2] = v.data();
        view.strides[0] = int(width);
        view.strides[1] = view.strides[2] = int(width / 2);
        view.width = width;
        view.height = height;
    }
};

// Conversion only, as the blitter sets it up for a 32-bit window.
void ScaleOnly(benchmark::State &state) {
    const auto w = uint32_t(state.range(0)), h = uint32_t(state.range(1));
    const auto ww = int(state.range(2)), wh = int(state.range(3));
    const TestPicture picture(w, h);
    std::vector<uint8_t> image(size_t(ww) * wh * 4);
    SwsContext *scaler = sws_getContext(int(w), int(h), AV_PIX_FMT_YUV420P, ww, wh, AV_PIX_FMT_BGRA, SWS_BILINEAR,
                                        nullptr, nullptr, nullptr);
    uint8_t *const destination[4] = {image.data(), nullptr, nullptr, nullptr};
    const int destinationStride[4] = {ww * 4, 0, 0, 0};
    for (auto _ : state)
        sws_scale(scaler, picture.view.planes, picture.view.strides, 0, int(h), destination, destinationStride);
    sws_freeContext(scaler);
}

// The whole blit into a mapped window of the given size.
void WholeBlit(benchmark::State &state) {
    const auto w = uint32_t(state.range(0)), h = uint32_t(state.range(1));
    const auto ww = uint16_t(state.range(2)), wh = uint16_t(state.range(3));
    const std::shared_ptr<xcb_connection_t> connection = tessaly::platform::SharedXConnection();
    if (!connection) {
        state.SkipWithError("no X server ($DISPLAY)");
        return;
    }
    xcb_connection_t *c = connection.get();
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const uint32_t window = xcb_generate_id(c);
    const uint32_t values[] = {0, 1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, ww, wh, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c, window);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // the server has mapped it
    const TestPicture picture(w, h);
    {
        WindowBlitter blitter;
        if (blitter.Open(connection, window, true) != WindowBlitter::OpenResult::kOk) {
            state.SkipWithError("window not usable");
        } else {
            for (auto _ : state)
                if (blitter.Blit(picture.view, false) != WindowBlitter::BlitResult::kShown) {
                    state.SkipWithError("blit not shown");
                    break;
                }
            state.SetLabel(blitter.UsingSharedMemory() ? "MIT-SHM" : "plain requests");
        }
    }
    xcb_destroy_window(c, window);
    xcb_flush(c);
}

void Sizes(benchmark::internal::Benchmark *b) {
    b->Args({1920, 1080, 960, 540})
        ->Args({1920, 1080, 1920, 1080})
        ->Args({704, 576, 1280, 720})
        ->Args({704, 576, 1920, 1080})
        ->Args({704, 576, 352, 288});
    b->ArgNames({"w", "h", "win_w", "win_h"})->Unit(benchmark::kMillisecond);
}

BENCHMARK(ScaleOnly)->Apply(Sizes);
BENCHMARK(WholeBlit)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
