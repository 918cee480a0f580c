#include "video/picture_surface.h"

#include <cstring>
#include <new>

namespace tessaly::video {
namespace {

// Exact row lengths: pictures of any width are read and written within their rows.
void CopyRows(uint8_t *dst, uint32_t dstStride, const uint8_t *src, uint32_t srcStride, uint32_t width,
              uint32_t rows) {
    for (uint32_t r = 0; r < rows; ++r) std::memcpy(dst + size_t{r} * dstStride, src + size_t{r} * srcStride, width);
}

// Fills column `width` and row `rows` from their neighbours when the chroma
// plane the scaler reads is one sample wider or taller than the one given.
void RepeatLastSamples(uint8_t *plane, uint32_t stride, uint32_t width, uint32_t rows, bool extraColumn,
                       bool extraRow) {
    if (extraColumn)
        for (uint32_t r = 0; r < rows; ++r) plane[size_t{r} * stride + width] = plane[size_t{r} * stride + width - 1];
    if (extraRow)
        std::memcpy(plane + size_t{rows} * stride, plane + size_t{rows - 1} * stride, width + (extraColumn ? 1 : 0));
}

}  // namespace

bool PictureSurface::Allocate(uint32_t width, uint32_t height) {
    memory_.reset();
    width_ = height_ = 0;
    newest_ = shown_ = -1;
    if (width < kMinSide || height < kMinSide) return false;
    lumaStride_ = (width + 31) & ~31u;
    chromaStride_ = lumaStride_ / 2;
    const size_t lumaSize = size_t{lumaStride_} * height;
    const size_t chromaSize = size_t{chromaStride_} * ((height + 1) / 2);
    const size_t slotSize = lumaSize + 2 * chromaSize;
    memory_.reset(new (std::nothrow) uint8_t[slotSize * kSlots]);
    if (!memory_) return false;
    // Black, so that a slot is never shown with undefined content.
    for (int i = 0; i < kSlots; ++i) {
        uint8_t *base = memory_.get() + slotSize * i;
        std::memset(base, 16, lumaSize);
        std::memset(base + lumaSize, 128, 2 * chromaSize);
        slots_[i] = Slot{{base, base + lumaSize, base + lumaSize + chromaSize}, 0, 0};
    }
    width_ = width;
    height_ = height;
    return true;
}

bool PictureSurface::Write(const uint8_t *y, uint32_t yStride, const uint8_t *u, const uint8_t *v,
                           uint32_t uvStride, uint32_t width, uint32_t height) {
    if (!memory_ || !y || !u || !v) return false;
    if (width < kMinSide || height < kMinSide || width > width_ || height > height_) return false;
    const uint32_t chromaWidth = width / 2, chromaRows = height / 2;
    if (yStride < width || uvStride < chromaWidth) return false;

    int target = 0;
    {
        std::lock_guard<std::mutex> hold(lock_);
        while (target == newest_ || target == shown_) ++target;
    }
    Slot &slot = slots_[target];
    CopyRows(slot.planes[0], lumaStride_, y, yStride, width, height);
    CopyRows(slot.planes[1], chromaStride_, u, uvStride, chromaWidth, chromaRows);
    CopyRows(slot.planes[2], chromaStride_, v, uvStride, chromaWidth, chromaRows);
    const bool oddWidth = width & 1, oddHeight = height & 1;
    if (oddWidth || oddHeight) {
        RepeatLastSamples(slot.planes[1], chromaStride_, chromaWidth, chromaRows, oddWidth, oddHeight);
        RepeatLastSamples(slot.planes[2], chromaStride_, chromaWidth, chromaRows, oddWidth, oddHeight);
    }
    slot.width = width;
    slot.height = height;

    std::lock_guard<std::mutex> hold(lock_);
    newest_ = target;
    return true;
}

bool PictureSurface::AcquireNewest(PlanarPicture &picture) {
    int index;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (newest_ >= 0) {
            shown_ = newest_;
            newest_ = -1;
        }
        index = shown_;
    }
    if (index < 0) return false;
    const Slot &slot = slots_[index];
    picture.planes[0] = slot.planes[0];
    picture.planes[1] = slot.planes[1];
    picture.planes[2] = slot.planes[2];
    picture.strides[0] = static_cast<int>(lumaStride_);
    picture.strides[1] = picture.strides[2] = static_cast<int>(chromaStride_);
    picture.width = slot.width;
    picture.height = slot.height;
    return true;
}

}  // namespace tessaly::video
