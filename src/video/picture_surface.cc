#include "video/picture_surface.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <utility>

namespace tessaly::video {
namespace {

// Exact row lengths: pictures of any width are read and written within their rows.
void CopyRows(uint8_t *dst, uint32_t dstStride, const uint8_t *src, uint32_t srcStride, uint32_t width, uint32_t rows) {
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

bool PictureSurface::Build(uint32_t width, uint32_t height, Storage &storage) {
    Storage built;
    built.lumaStride = (width + 31) & ~31u;
    built.chromaStride = built.lumaStride / 2;
    const size_t lumaSize = size_t{built.lumaStride} * height;
    const size_t chromaSize = size_t{built.chromaStride} * ((height + 1) / 2);
    const size_t slotSize = lumaSize + 2 * chromaSize;
    built.memory = platform::AllocatePages(slotSize * kSlots);
    if (!built.memory) return false;
    // Black, so that a slot is never shown with undefined content.
    for (int i = 0; i < kSlots; ++i) {
        uint8_t *base = built.memory.get() + slotSize * i;
        std::memset(base, 16, lumaSize);
        std::memset(base + lumaSize, 128, 2 * chromaSize);
        built.slots[i] = Slot{{base, base + lumaSize, base + lumaSize + chromaSize}, 0, 0};
    }
    built.width = width;
    built.height = height;
    storage = std::move(built);
    return true;
}

bool PictureSurface::Allocate(uint32_t width, uint32_t height) {
    std::lock_guard<std::mutex> hold(lock_);
    storage_ = Storage{};
    retired_.reset();
    newest_ = shown_ = -1;
    if (width < kMinSide || height < kMinSide) return false;
    return Build(width, height, storage_);
}

bool PictureSurface::Grow(uint32_t width, uint32_t height) {
    if (!storage_.memory) return false;
    if (width <= storage_.width && height <= storage_.height) return true;
    Storage grown;
    if (!Build(std::max(width, storage_.width), std::max(height, storage_.height), grown)) return false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        std::swap(storage_, grown);
        // The display thread may be reading the slot it acquired last. When
        // that is one of the old slots, they live until its next acquire;
        // otherwise it reads at most slots retired by an earlier growth (an
        // acquire from these would have freed them), and these can go now.
        // Nothing is shown from the old slots again.
        if (shown_ >= 0) {
            assert(!retired_);
            retired_ = std::move(grown.memory);
        }
        newest_ = shown_ = -1;
    }
    return true;  // the old slots, unless retired, are freed here, outside the lock
}

bool PictureSurface::Write(const uint8_t *y, uint32_t yStride, const uint8_t *u, const uint8_t *v, uint32_t uvStride,
                           uint32_t width, uint32_t height) {
    if (!storage_.memory || !y || !u || !v) return false;
    if (width < kMinSide || height < kMinSide || width > storage_.width || height > storage_.height) return false;
    const uint32_t chromaWidth = width / 2, chromaRows = height / 2;
    if (yStride < width || uvStride < chromaWidth) return false;

    int target = 0;
    {
        std::lock_guard<std::mutex> hold(lock_);
        while (target == newest_ || target == shown_) ++target;
    }
    // Only this thread changes the layout, so the slot is used without the lock.
    Slot &slot = storage_.slots[target];
    const uint32_t lumaStride = storage_.lumaStride, chromaStride = storage_.chromaStride;
    CopyRows(slot.planes[0], lumaStride, y, yStride, width, height);
    CopyRows(slot.planes[1], chromaStride, u, uvStride, chromaWidth, chromaRows);
    CopyRows(slot.planes[2], chromaStride, v, uvStride, chromaWidth, chromaRows);
    const bool oddWidth = width & 1, oddHeight = height & 1;
    if (oddWidth || oddHeight) {
        RepeatLastSamples(slot.planes[1], chromaStride, chromaWidth, chromaRows, oddWidth, oddHeight);
        RepeatLastSamples(slot.planes[2], chromaStride, chromaWidth, chromaRows, oddWidth, oddHeight);
    }
    slot.width = width;
    slot.height = height;

    std::lock_guard<std::mutex> hold(lock_);
    newest_ = target;
    return true;
}

bool PictureSurface::AcquireNewest(PlanarPicture &picture) {
    // The caller is done with the picture it held: slots retired under it can go (outside the lock).
    platform::PageBlock done;
    std::lock_guard<std::mutex> hold(lock_);
    done = std::move(retired_);
    if (newest_ >= 0) {
        shown_ = newest_;
        newest_ = -1;
    }
    if (shown_ < 0) return false;
    const Slot &slot = storage_.slots[shown_];
    picture.planes[0] = slot.planes[0];
    picture.planes[1] = slot.planes[1];
    picture.planes[2] = slot.planes[2];
    picture.strides[0] = static_cast<int>(storage_.lumaStride);
    picture.strides[1] = picture.strides[2] = static_cast<int>(storage_.chromaStride);
    picture.width = slot.width;
    picture.height = slot.height;
    return true;
}

}  // namespace tessaly::video
