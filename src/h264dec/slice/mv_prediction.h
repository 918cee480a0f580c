// Luma motion vector prediction for P macroblocks (median, directional
// 16x8 / 8x16 rules, P_Skip) on the neighbour cache.
#pragma once

#include <cstdint>
#include <cstring>

#include "h264dec/slice/slice_state.h"

namespace tessaly::h264 {

// Prediction for the partition whose top-left 4x4 block is (x, y) and which
// is w 4x4 blocks wide, using reference index ref. shape: 0 generic (median),
// 1 16x8, 2 8x16 (the directional rules apply by partition position).
void PredictMv(const NeighbourCache &c, int x, int y, int w, int ref, int shape, int16_t mvp[2]);

// P_Skip motion vector; leftAvailable / topAvailable are the macroblock
// neighbours A and B.
void PredictSkipMv(const NeighbourCache &c, bool leftAvailable, bool topAvailable, int16_t mv[2]);

// Writes ref and mv into the w x h (4x4 blocks) partition at (x, y). Inline
// so that the constant shapes become a few wide stores.
inline void FillMotion(NeighbourCache &c, int x, int y, int w, int h, int ref, const int16_t mv[2]) {
    uint32_t packed;
    std::memcpy(&packed, mv, sizeof packed);
    for (int j = y; j < y + h; ++j) {
        const int row = Cache(x, j);
        for (int i = 0; i < w; ++i) {
            c.ref[row + i] = int8_t(ref);
            std::memcpy(c.mv[row + i], &packed, sizeof packed);
        }
    }
}

}  // namespace tessaly::h264
