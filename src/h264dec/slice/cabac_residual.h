// CABAC residual of a macroblock: each coded block's significance map and
// levels, placed in raster order and scaled (or left unscaled for the DC
// blocks).
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

// Everything the residual of one macroblock needs. It is decoded in one call
// with the engine in machine registers from its first bin to its last: a call
// per category would hand the engine's state through memory each time, on
// the path every bin waits for.
struct CabacResidualJob {
    int16_t *luma;           // 4x4 block b at luma + 16 * b, 8x8 block k at luma + 64 * k
    int16_t *lumaDc;         // Intra16x16 DC levels (unscaled)
    int16_t *chroma[2];      // four 4x4 blocks per component
    int16_t *chromaDc[2];    // unscaled
    uint8_t *nnz;            // coefficient counts, neighbour cache layout
    uint8_t *nnzChroma[2];   // the same for each chroma component
    const uint8_t *scan4x4;  // coefficient list index -> raster position
    const uint8_t *scan8x8;
    const uint16_t *lumaScale;       // LevelScale of 4x4 luma blocks by raster position
    const uint16_t *scale8x8;        // of 8x8 blocks
    const uint16_t *chromaScale[2];  // of the chroma AC blocks
    int qpDiv6;
    int chromaQpDiv6[2];
    unsigned codedBelow;    // a neighbour is coded when its count - 1 < this (64: unavailable counts)
    uint8_t dcLeft, dcTop;  // the neighbours' coded_block_flag bits of the DC blocks (cbfDc)
    uint8_t cbp;
    bool i16x16, transform8x8, field;
};

// Decodes the residual of `j`: the coded blocks' coefficients (raster, AC
// levels scaled) and counts. Returns the macroblock's DC coded_block_flag
// bits: luma (bit 0), Cb (1), Cr (2).
int DecodeCabacResidual(CabacEngine &e, CabacContext *ctx, const CabacResidualJob &j);

// ctxIdx of coded_block_flag for the category (0..4) and ctxIdxInc: the
// categories' contexts follow each other, four apiece.
inline int CodedBlockFlagCtx(int cat, int ctxInc) { return kCtxCodedBlockFlag + 4 * cat + ctxInc; }

}  // namespace tessaly::h264
