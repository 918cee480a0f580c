// Reference picture list 0 for P slices: initial order and modification.
#pragma once

#include <cstdint>

#include "h264dec/bitstream/slice_header.h"
#include "h264dec/picture/dpb.h"

namespace tessaly::h264 {

inline constexpr int kRefListSize = 33;

struct RefListEntry {
    Picture *pic = nullptr;
    uint8_t parity = kBothFields;  // kTopField / kBottomField for a field, kBothFields for a frame
    uint8_t isLong = 0;
};

struct RefListContext {
    uint8_t structure = kStructFrame;  // of the current picture
    uint32_t frameNum = 0;
    uint32_t maxFrameNum = 16;
    uint32_t numActive = 1;
};

// Builds list 0: initial order, modification commands, repetition of the
// first entry behind the references found. Returns false when the slice
// cannot be decoded (no reference at all, or a command names a missing one).
bool BuildRefList0(Dpb *d, const RefListContext &c, const SliceHeader &sh, RefListEntry list[kRefListSize]);

}  // namespace tessaly::h264
