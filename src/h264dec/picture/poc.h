// Picture order count, types 0, 1 and 2.
#pragma once

#include <cstdint>

#include "h264dec/bitstream/param_sets.h"
#include "h264dec/bitstream/slice_header.h"

namespace tessaly::h264 {

// What the next picture's order count depends on.
struct PocState {
    int32_t prevPocMsb = 0;
    int32_t prevPocLsb = 0;
    int32_t prevFrameNumOffset = 0;
    uint32_t prevFrameNum = 0;
    int32_t lastTop = 0, lastBottom = 0;  // most recent result (gap frames of type 0 reuse it)
};

struct PocResult {
    int32_t top = 0;
    int32_t bottom = 0;
};

// Order counts of the picture that `sh` starts. Updates *state for the next
// picture; `mmco5` says whether this picture carries operation 5.
PocResult ComputePoc(const Sps &sps, const SliceHeader &sh, bool mmco5, PocState *state);

// Order counts of a non-existing frame inferred for a frame_num gap.
PocResult ComputeGapPoc(const Sps &sps, uint32_t frameNum, PocState *state);

}  // namespace tessaly::h264
