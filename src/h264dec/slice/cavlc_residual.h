// CAVLC residual_block: coeff_token, trailing ones, levels, total_zeros and
// run_before, with the coefficients placed in raster order and scaled.
#pragma once

#include <cstdint>

#include "h264dec/bitreader.h"

namespace tessaly::h264 {

struct CavlcBlockTarget {
    int16_t *coeffs;        // destination, raster
    const uint8_t *scan;    // coefficient index (from startIdx) -> raster position
    const uint16_t *scale;  // null: store levels as read (DC blocks)
    int qpDiv6;
    int shift;              // 4 for 4x4 blocks, 6 for interleaved 8x8 parts
    int stride;             // 1, or 4 for a 4x4 part of an interleaved 8x8 block
};

// nC: the predicted count (0..16), or -1 for chroma DC. maxCoeffs: 16, 15 or 4.
// Returns TotalCoeff (0..maxCoeffs) or -1 on a code error.
int ReadCavlcBlock(BitReader &br, int nC, int maxCoeffs, const CavlcBlockTarget &t);

}  // namespace tessaly::h264
