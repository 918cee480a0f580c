// Snapshots: a planar 4:2:0 picture converted to a 24-bit bottom-up bitmap
// file, with the fixed-point BT.601 studio-range conversion.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/page_block.h"

namespace tessaly::video {

struct SnapshotPicture {
    const uint8_t *y = nullptr, *u = nullptr, *v = nullptr;
    uint32_t yStride = 0, uvStride = 0;
    uint32_t width = 0, height = 0;
};

// One pixel: studio-range Y, Cb, Cr to blue, green, red.
void YuvToBgr(uint8_t y, uint8_t u, uint8_t v, uint8_t bgr[3]);

// width x height x 3 bytes of blue-green-red pixels, bottom row first, rows
// not padded.
void ConvertToBgrBottomUp(const SnapshotPicture &picture, uint8_t *out);

// A converted picture, so that the conversion can run while the picture is
// held still and the file is written after letting go of it.
class BitmapImage {
public:
    // KOVA_OK, or KOVA_ERR_MISSING_OBJECT (no memory for the pixels).
    int32_t Convert(const SnapshotPicture &picture);
    // KOVA_OK, or KOVA_ERR_FILE_OPEN (the file could not be created or written
    // in full: no partial file is left behind, and a file that was there
    // stays as it was).
    int32_t Write(const char *fileName) const;

private:
    platform::PageBlock pixels_;
    uint32_t width_ = 0, height_ = 0;
};

// Convert, then Write.
int32_t WriteBitmap(const char *fileName, const SnapshotPicture &picture);

}  // namespace tessaly::video
