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

namespace detail {

inline int Median(int a, int b, int c) {
    const int mx = a > b ? a : b;
    const int mn = a < b ? a : b;
    return c > mx ? mx : (c < mn ? mn : c);
}

// Whether the block above-right of a partition has been decoded. Inside the
// macroblock, blocks are decoded in luma4x4BlkIdx order, so a block is
// available exactly when its index is lower than the partition's.
inline bool TopRightDecoded(int x, int y, int w) {
    const int cx = x + w;
    if (y == 0) return true;  // row above: the cache says whether it exists
    if (cx >= 4) return false;
    return kRasterBlk[4 * (y - 1) + cx] < kRasterBlk[4 * y + x];
}

}  // namespace detail

// Inline: the partition shapes are constants at every call.
inline void PredictMv(const NeighbourCache &c, int x, int y, int w, int ref, int shape, int16_t mvp[2]) {
    const int a = Cache(x - 1, y);
    const int b = Cache(x, y - 1);
    int cIdx = Cache(x + w, y - 1);
    if (!detail::TopRightDecoded(x, y, w) || c.ref[cIdx] == kRefUnavailable) cIdx = Cache(x - 1, y - 1);

    const int refA = c.ref[a], refB = c.ref[b], refC = c.ref[cIdx];
    if (shape == 1) {
        if (y == 0 && refB == ref) {
            mvp[0] = c.mv[b][0];
            mvp[1] = c.mv[b][1];
            return;
        }
        if (y != 0 && refA == ref) {
            mvp[0] = c.mv[a][0];
            mvp[1] = c.mv[a][1];
            return;
        }
    } else if (shape == 2) {
        if (x == 0 && refA == ref) {
            mvp[0] = c.mv[a][0];
            mvp[1] = c.mv[a][1];
            return;
        }
        if (x != 0 && refC == ref) {
            mvp[0] = c.mv[cIdx][0];
            mvp[1] = c.mv[cIdx][1];
            return;
        }
    }

    // Only A exists: it is the prediction.
    if (refB == kRefUnavailable && refC == kRefUnavailable && refA != kRefUnavailable) {
        mvp[0] = c.mv[a][0];
        mvp[1] = c.mv[a][1];
        return;
    }
    const int matches = (refA == ref) + (refB == ref) + (refC == ref);
    if (matches == 1) {
        const int n = refA == ref ? a : (refB == ref ? b : cIdx);
        mvp[0] = c.mv[n][0];
        mvp[1] = c.mv[n][1];
        return;
    }
    mvp[0] = int16_t(detail::Median(c.mv[a][0], c.mv[b][0], c.mv[cIdx][0]));
    mvp[1] = int16_t(detail::Median(c.mv[a][1], c.mv[b][1], c.mv[cIdx][1]));
}

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
