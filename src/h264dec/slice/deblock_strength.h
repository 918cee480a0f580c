// Boundary strengths and QPs of the current macroblock's edges, for the
// in-loop deblocking step.
#pragma once

#include "h264dec/dsp/deblock_mb.h"
#include "h264dec/slice/slice_state.h"

namespace tessaly::h264 {

// Fills everything of `d` but the sample pointers and strides. The current
// macroblock's record must already be stored.
void ComputeDeblockParams(const SliceDecoder &sd, DeblockMb &d);

}  // namespace tessaly::h264
