// The per-port renderer: puts planar 4:2:0 pictures into a host's X window.
//
// Drawing has two stages. The decoding thread copies the picture into the
// PictureSurface and signals the BlitEvent (DrawYuv, DrawYuvStrided); it never
// waits for the display and sends no X request. The renderer's own BlitThread
// then asks whether the window is viewable, and if it is, scales and converts
// the newest picture to the window's whole rectangle (the aspect ratio is not
// kept) and puts it. Pictures drawn while a blit is under way merge into one
// blit of the newest. A draw reports the window's state as the BlitThread
// last saw it (Create asks once to start with), so the first draw after the
// host hid or showed the window may still report the state before.
//
// Create, Release, GrowSurface and the draws run on the thread that holds the
// port's DecoderLock; the object takes no lock of its own for them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/worker_thread.h"
#include "tessaly/kova.h"

namespace tessaly::video {

class X11Renderer {
public:
    X11Renderer() = default;
    virtual ~X11Renderer();
    X11Renderer(const X11Renderer &) = delete;
    X11Renderer &operator=(const X11Renderer &) = delete;

    // Create codes.
    static constexpr int32_t kNoDisplay = -1;           // no X server
    static constexpr int32_t kWindowRefused = -2;       // not a window, or the thread could not start
    static constexpr int32_t kFormatUnsupported = -20;  // the window's pixel layout is not one we write
    static constexpr int32_t kNoWindowContext = -3;     // graphics context refused
    static constexpr int32_t kNoPictureSurface = -4;    // picture memory not had, or size below 2 x 2
    // Draw codes.
    static constexpr int32_t kNotShown = -1;  // no window, not created, or window last seen hidden or gone
    static constexpr int32_t kSurfaceMissing = -9;
    static constexpr int32_t kPictureDropped = -3;  // picture larger than the surface, or unusable planes

    // Binds the renderer to the window with a picture surface of width x
    // height, then starts the BlitThread. Releases first. 0 or a Create code.
    int32_t Create(KOVA_HWND window, uint32_t width, uint32_t height);
    // Stops the BlitThread and frees the surfaces; nothing when not created.
    void Release();
    // Makes the picture surface at least width x height (each side the larger
    // of the current and the asked one) for taller or wider pictures to come,
    // keeping the window binding and the BlitThread; allocates only when the
    // surface is too small, and never waits for the BlitThread. A picture
    // drawn but not yet shown is dropped. The picture size is left as it is.
    // False when not created or the memory could not be had (the surface
    // keeps its size then).
    bool GrowSurface(uint32_t width, uint32_t height);

    // Luma rows of picture-width bytes, chroma rows of picture-width / 2.
    int32_t DrawYuv(const uint8_t *y, const uint8_t *u, const uint8_t *v, int32_t fitFlag);
    int32_t DrawYuvStrided(const uint8_t *y, uint32_t yStride, const uint8_t *u, const uint8_t *v, uint32_t uvStride,
                           int32_t fitFlag);
    // The size of the pictures the next draws hand over; Create sets it to the surface size.
    void SetPictureSize(uint32_t width, uint32_t height) {
        pictureWidth_ = width;
        pictureHeight_ = height;
    }

    // Plain image requests instead of MIT-SHM from the next Create on, for
    // servers that cannot share memory with us (and to test that path).
    void UseSharedMemory(bool use) { useSharedMemory_ = use; }

    bool IsInitialised() const { return initialised_; }
    KOVA_HWND Window() const { return window_; }
    uint32_t PictureWidth() const { return pictureWidth_; }
    uint32_t PictureHeight() const { return pictureHeight_; }
    // Blits that reached the window since Create, the time the last one took
    // (scaling, conversion and transfer) and how it was sent, for diagnostics.
    uint32_t BlitCount() const;
    uint32_t LastBlitMicroseconds() const;
    bool LastBlitUsedSharedMemory() const;

private:
    // What the BlitThread uses. Shared with it, so that a thread which does
    // not stop in time can finish with it after Release has let go.
    struct Display;
    // Waits for the BlitEvent and shows the newest picture, until stopped.
    static void RunBlitThread(Display &display, platform::Event &stop);

    std::shared_ptr<Display> display_;  // picture surface, window blitter, BlitEvent
    uint32_t pictureWidth_ = 0;
    uint32_t pictureHeight_ = 0;
    KOVA_HWND window_ = 0;
    bool initialised_ = false;
    int32_t fitFlag_ = 0;  // lives with the object: Create and Release keep it
    platform::WorkerThread blitThread_;
    bool useSharedMemory_ = true;
};

}  // namespace tessaly::video
