// CABAC context index layout (ctxIdxOffset of each syntax element) and the
// context initialisation.
#pragma once

#include <cstdint>

#include "h264dec/slice/cabac_engine.h"
#include "h264dec/slice_params.h"

namespace tessaly::h264 {

enum CabacCtxOffset : int {
    kCtxMbTypeI = 3,
    kCtxMbSkipP = 11,
    kCtxMbTypeP = 14,
    kCtxMbTypePIntraPrefix = 17,
    kCtxSubMbTypeP = 21,
    kCtxMvdX = 40,
    kCtxMvdY = 47,
    kCtxRefIdx = 54,
    kCtxMbQpDelta = 60,
    kCtxIntraChromaPredMode = 64,
    kCtxPrevIntraPredModeFlag = 68,
    kCtxRemIntraPredMode = 69,
    kCtxCbpLuma = 73,
    kCtxCbpChroma = 77,
    kCtxCodedBlockFlag = 85,
    kCtxSignificantFrame = 105,
    kCtxLastFrame = 166,
    kCtxAbsLevel = 227,
    kCtxSignificantField = 277,
    kCtxLastField = 338,
    kCtxTransform8x8 = 399,
    kCtxSignificant8x8Frame = 402,
    kCtxLast8x8Frame = 417,
    kCtxAbsLevel8x8 = 426,
    kCtxSignificant8x8Field = 436,
    kCtxLast8x8Field = 451,
};

inline constexpr int kNumCabacContexts = 460;

// preCtxState = Clip3(1, 126, ((m * SliceQPY) >> 4) + n) for every context.
void InitCabacContexts(CabacContext *ctx, SliceType type, int cabacInitIdc, int sliceQp);

}  // namespace tessaly::h264
