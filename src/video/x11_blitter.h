// Shows planar 4:2:0 pictures in one X window: scales and converts them to the
// window's whole current rectangle and pixel format with libswscale, then
// puts the image through MIT-SHM, or through plain image requests when the
// server cannot share memory with us.
//
// Runs on one thread (the renderer's BlitThread). Every request is checked,
// so an X error (window destroyed mid-blit, segment refused) comes back here
// instead of piling up in the shared connection's event queue. Once the
// connection has failed (the server went away) a blit sends nothing and
// reports the window hidden.
#pragma once

#include <cstdint>
#include <memory>

#include "video/picture_surface.h"
#include "video/x11_pixel_format.h"
#include "video/x11_shm_segment.h"

struct xcb_connection_t;
struct SwsContext;

namespace tessaly::video {

class WindowBlitter {
public:
    enum class OpenResult { kOk, kNotAWindow, kUnsupportedFormat, kNoGraphicsContext };
    enum class BlitResult {
        kShown,
        kHidden,  // not viewable, gone, or refusing our requests for the window (or the connection is down)
        kFailed,  // viewable, but nothing reached it (out of memory, image refused)
    };

    WindowBlitter() = default;
    ~WindowBlitter() { Close(); }
    WindowBlitter(const WindowBlitter &) = delete;
    WindowBlitter &operator=(const WindowBlitter &) = delete;

    // Learns the window's pixel format and makes the graphics context.
    // useSharedMemory false keeps to plain image requests. The blitter keeps
    // the connection until Close, even when it is no longer the shared one.
    OpenResult Open(std::shared_ptr<xcb_connection_t> connection, uint32_t window, bool useSharedMemory);
    void Close();

    // Fits the picture to the window's current size and puts it; with
    // blackFirst the window is filled black before. Asks for the window's
    // state first, so a hidden window costs one round trip and no scaling.
    BlitResult Blit(const PlanarPicture &picture, bool blackFirst);

    bool UsingSharedMemory() const { return useSharedMemory_; }

private:
    // Sizes the image memory and the scaler for a window of width x height.
    bool PrepareTarget(const PlanarPicture &picture, uint32_t width, uint32_t height);
    // Each returns 0 on success or the X error code.
    int PutShared(uint32_t width, uint32_t height);
    int PutPlain(uint32_t width, uint32_t height);
    int FillBlack(uint32_t width, uint32_t height);

    std::shared_ptr<xcb_connection_t> keptConnection_;
    xcb_connection_t *connection_ = nullptr;  // keptConnection_'s
    uint32_t window_ = 0;
    uint32_t gc_ = 0;
    WindowPixelFormat format_;
    bool useSharedMemory_ = false;

    ShmSegment segment_;
    std::unique_ptr<uint8_t[]> plainImage_;  // only without shared memory; grows, never shrinks
    size_t plainImageSize_ = 0;
    uint8_t *image_ = nullptr;  // where the scaler writes
    uint32_t targetWidth_ = 0, targetHeight_ = 0, rowBytes_ = 0;
    SwsContext *scaler_ = nullptr;
};

}  // namespace tessaly::video
