// Moving macroblock data between the per-picture records and the caches of
// the macroblock being decoded.
#pragma once

#include "h264dec/slice/slice_state.h"

namespace tessaly::h264 {

// Finds the neighbours available to the current macroblock (same slice) and
// loads their data into sd.cache.
void LoadNeighbours(SliceDecoder &sd);

// The part of LoadNeighbours a P_Skip macroblock needs: the neighbours and
// the motion of blocks A, B, C and D of its prediction.
void LoadSkipNeighbours(SliceDecoder &sd);

// Stores the decoded macroblock from sd.mb and sd.cache into its record.
void StoreMbRecord(SliceDecoder &sd);

}  // namespace tessaly::h264
