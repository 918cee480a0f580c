// Reconstruction of the parsed macroblock: intra into the work area (its
// prediction needs the unfiltered neighbours placed around it), inter
// straight into the picture; both add the inverse-transformed residual.
#pragma once

#include "h264dec/slice/slice_state.h"

namespace tessaly::h264 {

// Where a macroblock's samples go: its top-left sample in each plane.
struct MbPlanes {
    uint8_t *y, *u, *v;
    ptrdiff_t lumaStride, chromaStride;
};

// The picture's planes at the macroblock (mbX, mbY) of the slice's picture.
inline MbPlanes MbPlanesAt(const SliceParams &p, int mbX, int mbY) {
    return {p.y + ptrdiff_t(mbY) * 16 * p.lumaStride + mbX * 16, p.u + ptrdiff_t(mbY) * 8 * p.chromaStride + mbX * 8,
            p.v + ptrdiff_t(mbY) * 8 * p.chromaStride + mbX * 8, p.lumaStride, p.chromaStride};
}

void ReconstructIntra(SliceDecoder &sd);
void ReconstructInter(SliceDecoder &sd, const MbPlanes &out);
void ReconstructPcm(SliceDecoder &sd);
// The prediction of a P_Skip macroblock (its whole reconstruction).
void PredictSkipped(SliceDecoder &sd, const SkippedMb &mb);

// Residual helpers shared by both paths.
void AddLumaResidual(SliceDecoder &sd, uint8_t *dst, ptrdiff_t stride);  // 16 4x4 or 4 8x8 blocks (not Intra_NxN)
void AddChromaResidual(SliceDecoder &sd, uint8_t *u, uint8_t *v, ptrdiff_t stride);

}  // namespace tessaly::h264
