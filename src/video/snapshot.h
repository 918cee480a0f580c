// Snapshots: a planar 4:2:0 picture converted to a 24-bit bottom-up bitmap
// file, with the fixed-point BT.601 studio-range conversion.
#pragma once

#include <cstdint>

namespace tessaly::video {

struct PlanarPicture {
    const uint8_t *y = nullptr, *u = nullptr, *v = nullptr;
    uint32_t yStride = 0, uvStride = 0;
    uint32_t width = 0, height = 0;
};

// One pixel: studio-range Y, Cb, Cr to blue, green, red.
void YuvToBgr(uint8_t y, uint8_t u, uint8_t v, uint8_t bgr[3]);

// width x height x 3 bytes of blue-green-red pixels, bottom row first, rows
// not padded.
void ConvertToBgrBottomUp(const PlanarPicture &picture, uint8_t *out);

// Writes the bitmap; 0, or -501 (no memory for the pixels) or -510 (the file
// could not be created or written; nothing is left behind).
int32_t WriteBitmap(const char *fileName, const PlanarPicture &picture);

}  // namespace tessaly::video
