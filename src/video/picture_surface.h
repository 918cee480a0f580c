// The renderer's planar 4:2:0 picture store, shared by the thread that draws
// pictures and the thread that shows them.
//
// Three slots of the surface size, allocated once per stream setup (Grow may
// enlarge them once more): at any moment one holds the picture being shown,
// one the newest picture not yet shown, and the third is free for the next
// draw. The drawing thread therefore
// never waits for the display, and the display thread always reads a complete
// picture. The lock guards the slot indices and the slot layout, which Grow
// replaces; it is never held while pixels are copied or scaled.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/page_block.h"

namespace tessaly::video {

struct PlanarPicture {
    const uint8_t *planes[3] = {nullptr, nullptr, nullptr};  // Y, U (Cb), V (Cr)
    int strides[3] = {0, 0, 0};
    uint32_t width = 0, height = 0;
};

class PictureSurface {
public:
    // Smallest picture the surface takes: 4:2:0 needs at least one chroma sample.
    static constexpr uint32_t kMinSide = 2;

    PictureSurface() = default;
    PictureSurface(const PictureSurface &) = delete;
    PictureSurface &operator=(const PictureSurface &) = delete;

    // Before the display thread starts. False when the memory could not be had.
    bool Allocate(uint32_t width, uint32_t height);
    // Makes the slots at least width x height, each side the larger of the
    // current and the asked one; allocates only when the surface is too small.
    // The display thread may go on reading the picture it holds: that memory
    // is freed at its next AcquireNewest. A picture written but not yet shown
    // is dropped. Drawing thread only. False when the memory could not be had;
    // the surface is unchanged then.
    bool Grow(uint32_t width, uint32_t height);
    uint32_t Width() const { return storage_.width; }
    uint32_t Height() const { return storage_.height; }

    // Copies a picture of width x height (chroma width / 2 x height / 2, as
    // the callers lay it out) into a free slot and makes it the newest. For
    // odd sizes the last chroma column and row are repeated so that the
    // scaler, which reads (n + 1) / 2 chroma samples, sees defined values.
    // Drawing thread only. False when the picture does not fit.
    bool Write(const uint8_t *y, uint32_t yStride, const uint8_t *u, const uint8_t *v, uint32_t uvStride,
               uint32_t width, uint32_t height);

    // Display thread: the newest picture, which stays untouched until the next
    // call. False before the first Write.
    bool AcquireNewest(PlanarPicture &picture);

private:
    static constexpr int kSlots = 3;
    struct Slot {
        uint8_t *planes[3] = {nullptr, nullptr, nullptr};
        uint32_t width = 0, height = 0;
    };
    struct Storage {
        platform::PageBlock memory;
        Slot slots[kSlots];
        uint32_t width = 0, height = 0;
        uint32_t lumaStride = 0, chromaStride = 0;
    };
    // Black slots of width x height; false when the memory could not be had.
    static bool Build(uint32_t width, uint32_t height, Storage &storage);

    // The drawing thread reads it freely; it changes it, and the display
    // thread reads it, only under the lock.
    Storage storage_;

    std::mutex lock_;
    int newest_ = -1;              // written, not yet taken by the display thread
    int shown_ = -1;               // being read (or last read) by the display thread
    platform::PageBlock retired_;  // slots replaced by Grow while the display thread read one
};

}  // namespace tessaly::video
