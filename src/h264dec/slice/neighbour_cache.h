// Moving macroblock data between the per-picture records and the caches of
// the macroblock being decoded.
#pragma once

#include "h264dec/slice/slice_state.h"

namespace tessaly::h264 {

// Finds the neighbours available to the current macroblock (same slice):
// sd.nb. CABAC decides mb_skip_flag from these alone, before it knows how
// much of their data the macroblock needs.
void FindNeighbours(SliceDecoder &sd);

// Loads the data of the neighbours in sd.nb into sd.cache.
void LoadNeighbourData(SliceDecoder &sd);

// The part of LoadNeighbourData a P_Skip macroblock needs: the motion of
// blocks A, B, C and D of its prediction.
void LoadSkipMotion(SliceDecoder &sd);

inline void LoadNeighbours(SliceDecoder &sd) {
    FindNeighbours(sd);
    LoadNeighbourData(sd);
}

inline void LoadSkipNeighbours(SliceDecoder &sd) {
    FindNeighbours(sd);
    LoadSkipMotion(sd);
}

// Stores the decoded macroblock from sd.mb and sd.cache into its record.
void StoreMbRecord(SliceDecoder &sd);

}  // namespace tessaly::h264
