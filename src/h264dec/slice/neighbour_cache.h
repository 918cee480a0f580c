// Moving macroblock data between the per-picture records and the caches of
// the macroblock being decoded.
#pragma once

#include "h264dec/slice/slice_state.h"

namespace tessaly::h264 {

// Finds the neighbours available to the current macroblock (same slice):
// sd.nb. CABAC decides mb_skip_flag from these alone, before it knows how
// much of their data the macroblock needs. Inline, so that they reach it in
// registers rather than through sd.nb.
inline void FindNeighbours(SliceDecoder &sd) {
    const int w = sd.p->widthMbs;
    const int cur = sd.mbIndex;
    const uint32_t serial = sd.sliceSerial;
    MbNeighbours &nb = sd.nb;
    // The left neighbour is the macroblock before in this slice; its record,
    // just stored, is not read back for that.
    nb.left = (sd.mbX > 0 && sd.mbAddr > sd.p->firstMb) ? cur - 1 : -1;
    if (sd.mbY > 0) {
        // A record with the current slice's serial in the place of a neighbour
        // is that neighbour: slices are contiguous runs of addresses, so a
        // slice that holds a macroblock two rows up also holds the one in
        // between.
        const int above = AboveIndex(sd);
        nb.top = sd.mbs[above].slice == serial ? above : -1;
        nb.topRight = (sd.mbX < w - 1 && sd.mbs[above + 1].slice == serial) ? above + 1 : -1;
        nb.topLeft = (sd.mbX > 0 && sd.mbs[above - 1].slice == serial) ? above - 1 : -1;
    } else {
        nb.top = nb.topRight = nb.topLeft = -1;
    }
}

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
