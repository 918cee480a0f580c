// How a window's pixels are laid out in a Z-format image, as the scaler must
// write them.
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

struct xcb_connection_t;

namespace tessaly::video {

struct WindowPixelFormat {
    AVPixelFormat scalerFormat = AV_PIX_FMT_NONE;
    uint8_t depth = 0;  // window depth, as image requests must state it
    uint8_t bytesPerPixel = 0;
    uint8_t scanlinePadBytes = 0;

    bool Usable() const { return scalerFormat != AV_PIX_FMT_NONE; }
    // Bytes per image row for a given width, padded as the server expects.
    uint32_t RowBytes(uint32_t width) const {
        const uint32_t raw = width * bytesPerPixel;
        return (raw + scanlinePadBytes - 1) / scanlinePadBytes * scanlinePadBytes;
    }
};

// Looks up the window's visual and depth. The format is not Usable() when the
// window is gone or its visual is not a true-colour layout we can write
// (16-bit 5-6-5, 24-bit packed or 32-bit with 8-bit channels).
WindowPixelFormat QueryWindowPixelFormat(xcb_connection_t *connection, uint32_t window);

}  // namespace tessaly::video
