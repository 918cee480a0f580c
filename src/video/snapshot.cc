#include "video/snapshot.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <new>

#include "tessaly/kova.h"

namespace tessaly::video {
namespace {

// floor(a x 8 x k / 65536): the high half of a signed 16 x 16-bit product.
inline int Scale(int a, int k) { return (static_cast<int16_t>(a * 8) * k) >> 16; }

inline uint8_t Clamp(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

void PutLe16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t *p, uint32_t v) {
    PutLe16(p, v);
    PutLe16(p + 2, v >> 16);
}

}  // namespace

void YuvToBgr(uint8_t y, uint8_t u, uint8_t v, uint8_t bgr[3]) {
    const int ys = y > 16 ? y - 16 : 0, us = u - 128, vs = v - 128;
    const int l = Scale(ys, 9576);
    bgr[0] = Clamp(l + Scale(us, 16591));
    bgr[1] = Clamp(l + (Scale(us, -3218) + Scale(vs, -6686)));
    bgr[2] = Clamp(l + Scale(vs, 13123));
}

void ConvertToBgrBottomUp(const SnapshotPicture &p, uint8_t *out) {
    const size_t rowBytes = size_t{p.width} * 3;
    for (uint32_t r = 0; r < p.height; ++r) {
        const uint8_t *y = p.y + size_t{r} * p.yStride;
        const uint8_t *u = p.u + size_t{r / 2} * p.uvStride;
        const uint8_t *v = p.v + size_t{r / 2} * p.uvStride;
        uint8_t *dst = out + size_t{p.height - 1 - r} * rowBytes;
        for (uint32_t x = 0; x < p.width; ++x) YuvToBgr(y[x], u[x / 2], v[x / 2], dst + 3 * x);
    }
}

int32_t BitmapImage::Convert(const SnapshotPicture &p) {
    pixels_.reset(new (std::nothrow) uint8_t[size_t{p.width} * p.height * 3]);
    if (!pixels_) return KOVA_ERR_MISSING_OBJECT;
    ConvertToBgrBottomUp(p, pixels_.get());
    width_ = p.width;
    height_ = p.height;
    return KOVA_OK;
}

int32_t BitmapImage::Write(const char *fileName) const {
    const size_t dataBytes = size_t{width_} * height_ * 3;
    uint8_t header[54] = {'B', 'M'};
    PutLe32(header + 2, static_cast<uint32_t>(54 + dataBytes));
    PutLe32(header + 10, 54);
    PutLe32(header + 14, 40);
    PutLe32(header + 18, width_);
    PutLe32(header + 22, height_);
    PutLe16(header + 26, 1);
    PutLe16(header + 28, 24);
    PutLe32(header + 34, static_cast<uint32_t>(dataBytes));

    FILE *f = std::fopen(fileName, "wb");
    if (!f) return KOVA_ERR_FILE_OPEN;
    struct stat info {};
    const bool regular = fstat(fileno(f), &info) == 0 && S_ISREG(info.st_mode);
    const bool written = std::fwrite(header, 1, sizeof header, f) == sizeof header &&
                         std::fwrite(pixels_.get(), 1, dataBytes, f) == dataBytes;
    if (std::fclose(f) != 0 || !written) {
        // A partial bitmap is worse than none; but never unlink a device or pipe.
        if (regular) std::remove(fileName);
        return KOVA_ERR_FILE_OPEN;
    }
    return KOVA_OK;
}

int32_t WriteBitmap(const char *fileName, const SnapshotPicture &p) {
    BitmapImage image;
    const int32_t rc = image.Convert(p);
    return rc != KOVA_OK ? rc : image.Write(fileName);
}

}  // namespace tessaly::video
