// CABAC residual blocks: significance map and levels of one block, placed in
// raster order and scaled (or left unscaled for the DC blocks).
#pragma once

#include <cstdint>

#include "h264dec/slice/cabac_contexts.h"
#include "h264dec/slice/cabac_engine.h"

namespace tessaly::h264 {

// ctxBlockCat of the standard.
enum CabacBlockCat : int {
    kCatLumaDc = 0,    // Intra16x16 DC, 16 coefficients
    kCatLumaAc = 1,    // Intra16x16 AC, 15
    kCatLuma4x4 = 2,   // 16
    kCatChromaDc = 3,  // 4
    kCatChromaAc = 4,  // 15
    kCatLuma8x8 = 5,   // 64
};

struct CabacBlockTarget {
    int16_t *coeffs;        // destination, raster
    const uint8_t *scan;    // coefficient list index -> raster position
    const uint16_t *scale;  // LevelScale by raster position; null: store levels as read
    int qpDiv6;
};

// Decodes one block of category `cat` whose coded_block_flag was 1. Returns
// the number of non-zero coefficients (at least 1). One entry point per
// category: each call site jumps straight to its own decoder.
template <int cat>
int DecodeCabacBlock(CabacEngine &e, CabacContext *ctx, bool field, const CabacBlockTarget &t);

// ctxIdx of coded_block_flag for the category (0..4) and ctxIdxInc: the
// categories' contexts follow each other, four apiece.
inline int CodedBlockFlagCtx(int cat, int ctxInc) { return kCtxCodedBlockFlag + 4 * cat + ctxInc; }

}  // namespace tessaly::h264
