// Reconstruction of the parsed macroblock into the work area: intra or
// inter prediction plus the inverse-transformed residual.
#pragma once

#include "h264dec/slice/slice_state.h"

namespace tessaly::h264 {

void ReconstructIntra(SliceDecoder &sd);
void ReconstructInter(SliceDecoder &sd);
void ReconstructPcm(SliceDecoder &sd);

// Residual helpers shared by both paths.
void AddLumaResidual(SliceDecoder &sd);   // 16 4x4 blocks or 4 8x8 blocks (not Intra_NxN)
void AddChromaResidual(SliceDecoder &sd);

}  // namespace tessaly::h264
