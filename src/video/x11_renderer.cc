#include "video/x11_renderer.h"

#include <pthread.h>

#include <chrono>
#include <csignal>
#include <new>

#include "platform/event.h"
#include "platform/x11_windows.h"
#include "video/picture_surface.h"
#include "video/x11_blitter.h"

namespace tessaly::video {
namespace {

// How long Release waits for a blit under way before leaving the thread to
// finish on its own.
constexpr std::chrono::milliseconds kBlitThreadStopTimeout{1000};

}  // namespace

struct X11Renderer::Display {
    PictureSurface pictureSurface;
    WindowBlitter blitter;
    platform::Event blitEvent{false};
    std::atomic<bool> blackPending{false};
    std::atomic<bool> viewable{false};  // as last seen: by Create, then by each blit
    std::atomic<uint32_t> blitCount{0};
    std::atomic<uint32_t> lastBlitMicroseconds{0};
    std::atomic<bool> sharedMemoryInUse{false};
};

void X11Renderer::RunBlitThread(Display &display, platform::Event &stop) {
    // This thread talks to nothing but the X server, so it keeps SIGPIPE
    // blocked for good (see SigpipeGuard): a pending one dies with the thread.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    platform::Event *const events[] = {&stop, &display.blitEvent};
    while (platform::WaitAny(events, 2) == 1) {
        PlanarPicture picture;
        if (!display.pictureSurface.AcquireNewest(picture)) continue;
        const bool blackFirst = display.blackPending.exchange(false);
        const auto start = std::chrono::steady_clock::now();
        const WindowBlitter::BlitResult result = display.blitter.Blit(picture, blackFirst);
        display.viewable.store(result != WindowBlitter::BlitResult::kHidden, std::memory_order_relaxed);
        if (result != WindowBlitter::BlitResult::kShown) {
            // Owed to the first picture that reaches the window.
            if (blackFirst) display.blackPending.store(true);
            continue;
        }
        const auto took =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        display.lastBlitMicroseconds.store(static_cast<uint32_t>(took.count()), std::memory_order_relaxed);
        display.sharedMemoryInUse.store(display.blitter.UsingSharedMemory(), std::memory_order_relaxed);
        display.blitCount.fetch_add(1, std::memory_order_release);
    }
}

X11Renderer::~X11Renderer() { Release(); }

int32_t X11Renderer::Create(KOVA_HWND window, uint32_t width, uint32_t height) {
    Release();
    std::shared_ptr<xcb_connection_t> connection = platform::SharedXConnection();
    if (!connection) return kNoDisplay;
    const platform::SigpipeGuard noSigpipe;
    // Also the first answer to whether draws are shown, until the BlitThread knows better.
    const platform::WindowState state = platform::QueryWindowState(connection.get(), window);
    if (!state.exists) return kWindowRefused;

    std::shared_ptr<Display> display;
    try {
        display = std::make_shared<Display>();
    } catch (const std::bad_alloc &) {
        return kNoPictureSurface;
    }
    switch (display->blitter.Open(std::move(connection), static_cast<uint32_t>(window), useSharedMemory_)) {
    case WindowBlitter::OpenResult::kOk: break;
    case WindowBlitter::OpenResult::kNotAWindow: return kWindowRefused;
    case WindowBlitter::OpenResult::kUnsupportedFormat: return kFormatUnsupported;
    case WindowBlitter::OpenResult::kNoGraphicsContext: return kNoWindowContext;
    }
    if (!display->pictureSurface.Allocate(width, height)) return kNoPictureSurface;
    display->viewable.store(state.viewable, std::memory_order_relaxed);
    if (!blitThread_.Start([display](platform::Event &stop) { RunBlitThread(*display, stop); })) return kWindowRefused;

    display_ = std::move(display);
    window_ = window;
    pictureWidth_ = width;
    pictureHeight_ = height;
    initialised_ = true;
    return 0;
}

void X11Renderer::Release() {
    if (!initialised_) return;
    const platform::SigpipeGuard noSigpipe;
    // A thread that does not stop in time is detached with its own reference
    // to the display state, so nothing it uses is freed under it.
    blitThread_.Stop(kBlitThreadStopTimeout);
    display_.reset();
    initialised_ = false;
}

int32_t X11Renderer::DrawYuv(const uint8_t *y, const uint8_t *u, const uint8_t *v, int32_t fitFlag) {
    return DrawYuvStrided(y, pictureWidth_, u, v, pictureWidth_ / 2, fitFlag);
}

int32_t X11Renderer::DrawYuvStrided(const uint8_t *y, uint32_t yStride, const uint8_t *u, const uint8_t *v,
                                    uint32_t uvStride, int32_t fitFlag) {
    if (window_ == 0 || !initialised_) return kNotShown;
    if (!display_) return kSurfaceMissing;
    // No X request here: the BlitThread finds out whether the window is
    // viewable. Pictures for a hidden window are therefore still copied and
    // signalled, which is what refreshes that state.
    const bool viewable = display_->viewable.load(std::memory_order_relaxed);
    if (!display_->pictureSurface.Write(y, yStride, u, v, uvStride, pictureWidth_, pictureHeight_))
        return viewable ? kPictureDropped : kNotShown;
    if (fitFlag != fitFlag_) {
        fitFlag_ = fitFlag;
        display_->blackPending.store(true);
    }
    display_->blitEvent.Set();
    return viewable ? 0 : kNotShown;
}

bool X11Renderer::GrowSurface(uint32_t width, uint32_t height) {
    return initialised_ && display_ && display_->pictureSurface.Grow(width, height);
}

uint32_t X11Renderer::BlitCount() const { return display_ ? display_->blitCount.load(std::memory_order_acquire) : 0; }

bool X11Renderer::LastBlitUsedSharedMemory() const {
    return display_ && display_->sharedMemoryInUse.load(std::memory_order_relaxed);
}

uint32_t X11Renderer::LastBlitMicroseconds() const {
    return display_ ? display_->lastBlitMicroseconds.load(std::memory_order_relaxed) : 0;
}

}  // namespace tessaly::video
