#include "video/x11_blitter.h"

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <new>

extern "C" {
#include <libswscale/swscale.h>
}

#include "platform/x11_windows.h"

namespace tessaly::video {
namespace {

// Fixed part of a PutImage request, in bytes.
constexpr uint32_t kPutImageHeaderBytes = 24;

// Frees a checked request's error and returns its code (0: none).
int TakeError(xcb_connection_t *connection, xcb_void_cookie_t cookie) {
    xcb_generic_error_t *error = xcb_request_check(connection, cookie);
    if (!error) return xcb_connection_has_error(connection) ? -1 : 0;
    const int code = error->error_code;
    std::free(error);
    return code;
}

// Errors that say the window is gone or no longer matches our image, as
// opposed to a failure of the shared-memory transfer itself.
bool IsWindowError(int code) {
    return code == XCB_WINDOW || code == XCB_DRAWABLE || code == XCB_MATCH || code == XCB_G_CONTEXT || code < 0;
}

}  // namespace

WindowBlitter::OpenResult WindowBlitter::Open(std::shared_ptr<xcb_connection_t> shared, uint32_t window,
                                              bool useSharedMemory) {
    Close();
    xcb_connection_t *const connection = shared.get();
    format_ = QueryWindowPixelFormat(connection, window);
    if (format_.depth == 0) return OpenResult::kNotAWindow;
    if (!format_.Usable()) return OpenResult::kUnsupportedFormat;

    const uint32_t gc = xcb_generate_id(connection);
    // Foreground 0 is black in every true-colour visual; no exposure events,
    // which nobody would read from the shared connection.
    const uint32_t values[] = {0, 0};
    if (TakeError(connection, xcb_create_gc_checked(connection, gc, window,
                                                    XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES, values)) != 0)
        return OpenResult::kNoGraphicsContext;

    keptConnection_ = std::move(shared);
    connection_ = connection;
    window_ = window;
    gc_ = gc;
    useSharedMemory_ = useSharedMemory && ShmSegment::ServerSupports(connection);
    return OpenResult::kOk;
}

void WindowBlitter::Close() {
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    segment_.Release();
    plainImage_.reset();
    plainImageSize_ = 0;
    image_ = nullptr;
    targetWidth_ = targetHeight_ = rowBytes_ = 0;
    if (gc_ && !xcb_connection_has_error(connection_)) {
        xcb_free_gc(connection_, gc_);
        xcb_flush(connection_);
    }
    gc_ = 0;
    connection_ = nullptr;
    keptConnection_.reset();
    window_ = 0;
}

bool WindowBlitter::PrepareTarget(const PlanarPicture &picture, uint32_t width, uint32_t height) {
    if (width != targetWidth_ || height != targetHeight_ || !image_) {
        image_ = nullptr;
        targetWidth_ = targetHeight_ = 0;
        rowBytes_ = format_.RowBytes(width);
        const size_t size = size_t{rowBytes_} * height;
        if (useSharedMemory_ && segment_.Reserve(connection_, size)) {
            image_ = segment_.Data();
        } else {
            // The server refused the segment: stay with plain requests.
            useSharedMemory_ = false;
            if (size > plainImageSize_) {
                plainImage_.reset(new (std::nothrow) uint8_t[size]);
                plainImageSize_ = plainImage_ ? size : 0;
            }
            image_ = plainImage_.get();
        }
        if (!image_) return false;
        targetWidth_ = width;
        targetHeight_ = height;
    }
    // Returns the same context while the sizes stay the same.
    scaler_ = sws_getCachedContext(scaler_, static_cast<int>(picture.width), static_cast<int>(picture.height),
                                   AV_PIX_FMT_YUV420P, static_cast<int>(width), static_cast<int>(height),
                                   format_.scalerFormat, SWS_BILINEAR, nullptr, nullptr, nullptr);
    return scaler_ != nullptr;
}

WindowBlitter::BlitResult WindowBlitter::Blit(const PlanarPicture &picture, bool blackFirst) {
    if (!connection_ || xcb_connection_has_error(connection_)) return BlitResult::kHidden;
    const platform::WindowState window = platform::QueryWindowState(connection_, window_);
    if (!window.viewable) return BlitResult::kHidden;
    if (window.width == 0 || window.height == 0) return BlitResult::kFailed;
    if (!PrepareTarget(picture, window.width, window.height)) return BlitResult::kFailed;

    uint8_t *const destination[4] = {image_, nullptr, nullptr, nullptr};
    const int destinationStride[4] = {static_cast<int>(rowBytes_), 0, 0, 0};
    sws_scale(scaler_, picture.planes, picture.strides, 0, static_cast<int>(picture.height), destination,
              destinationStride);

    // An error on the window itself means it went away since the query.
    auto failure = [](int error) { return IsWindowError(error) ? BlitResult::kHidden : BlitResult::kFailed; };
    if (blackFirst) {
        const int error = FillBlack(window.width, window.height);
        if (error != 0) return failure(error);
    }
    if (useSharedMemory_) {
        const int error = PutShared(window.width, window.height);
        if (error == 0) return BlitResult::kShown;
        if (IsWindowError(error)) return BlitResult::kHidden;
        // The server went back on the segment: copy through the socket from now on.
        useSharedMemory_ = false;
        segment_.Release();
        image_ = nullptr;
        return PrepareTarget(picture, window.width, window.height) ? Blit(picture, false) : BlitResult::kFailed;
    }
    const int error = PutPlain(window.width, window.height);
    return error == 0 ? BlitResult::kShown : failure(error);
}

int WindowBlitter::PutShared(uint32_t width, uint32_t height) {
    const auto w = static_cast<uint16_t>(width), h = static_cast<uint16_t>(height);
    return TakeError(connection_,
                     xcb_shm_put_image_checked(connection_, window_, gc_, w, h, 0, 0, w, h, 0, 0, format_.depth,
                                               XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment_.ServerId(), 0));
}

int WindowBlitter::PutPlain(uint32_t width, uint32_t height) {
    // The core limit holds without the big-requests extension; only rows
    // wider than that need it.
    uint32_t limit = uint32_t{xcb_get_setup(connection_)->maximum_request_length} * 4;
    if (limit < kPutImageHeaderBytes + rowBytes_) limit = xcb_get_maximum_request_length(connection_) * 4;
    if (limit < kPutImageHeaderBytes + rowBytes_) return XCB_LENGTH;
    const uint32_t rowsPerRequest = (limit - kPutImageHeaderBytes) / rowBytes_;

    // Sent back to back, checked afterwards: one round trip for the whole image.
    constexpr uint32_t kMaxRequests = 512;
    xcb_void_cookie_t cookies[kMaxRequests];
    uint32_t sent = 0;
    int firstError = 0;
    for (uint32_t row = 0; row < height;) {
        const uint32_t rows = std::min(rowsPerRequest, height - row);
        cookies[sent++] =
            xcb_put_image_checked(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_, static_cast<uint16_t>(width),
                                  static_cast<uint16_t>(rows), 0, static_cast<int16_t>(row), 0, format_.depth,
                                  rows * rowBytes_, image_ + size_t{row} * rowBytes_);
        row += rows;
        if (sent == kMaxRequests || row == height) {
            for (uint32_t i = 0; i < sent; ++i) {
                const int error = TakeError(connection_, cookies[i]);
                if (firstError == 0) firstError = error;
            }
            sent = 0;
            if (firstError != 0) break;
        }
    }
    return firstError;
}

int WindowBlitter::FillBlack(uint32_t width, uint32_t height) {
    const xcb_rectangle_t whole = {0, 0, static_cast<uint16_t>(width), static_cast<uint16_t>(height)};
    return TakeError(connection_, xcb_poly_fill_rectangle_checked(connection_, window_, gc_, 1, &whole));
}

}  // namespace tessaly::video
