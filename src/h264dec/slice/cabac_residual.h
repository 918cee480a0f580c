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

// 4x4 blocks of one category decoded in a row, their coded_block_flag
// contexts taken from the counts of the blocks left and above.
struct CabacBlockGroup {
    int16_t *coeffs;        // block k at coeffs + 16 * k, raster
    const uint8_t *scan;    // as in CabacBlockTarget
    const uint16_t *scale;  // LevelScale by raster position
    int qpDiv6;
    uint8_t *nnz;             // coefficient counts, neighbour cache layout
    const uint8_t *cachePos;  // block k -> index into nnz
    uint32_t blocks;          // bit k set: block k is present
    unsigned codedBelow;      // a neighbour is coded when its count - 1 < this (64: unavailable counts)
};

// Decodes one block of category `cat` (DC or 8x8), starting with its
// coded_block_flag under ctxIdxInc `cbfInc` (8x8 blocks have none: always
// coded). Returns the number of non-zero coefficients, 0 for an uncoded
// block. One entry point per category: each call site jumps straight to its
// own decoder, and the flag is decided with the engine already in registers.
template <int cat>
int DecodeCabacBlock(CabacEngine &e, CabacContext *ctx, bool field, int cbfInc, const CabacBlockTarget &t);

// Decodes the blocks of `g` in order of k, storing each coded block's count
// in g.nnz (uncoded blocks keep theirs: zero). The engine stays in registers
// across the whole group.
template <int cat>
void DecodeCabacBlocks(CabacEngine &e, CabacContext *ctx, bool field, const CabacBlockGroup &g);

// ctxIdx of coded_block_flag for the category (0..4) and ctxIdxInc: the
// categories' contexts follow each other, four apiece.
inline int CodedBlockFlagCtx(int cat, int ctxInc) { return kCtxCodedBlockFlag + 4 * cat + ctxInc; }

}  // namespace tessaly::h264
