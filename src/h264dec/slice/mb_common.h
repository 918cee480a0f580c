// Small helpers shared by the CAVLC and CABAC macroblock parsers.
#pragma once

#include "h264dec/slice/slice_state.h"
#include "h264dec/tables/tables.h"

namespace tessaly::h264 {

// Unified macroblock type numbers: 0..4 are the P types (P_L0_16x16,
// P_L0_L0_16x8, P_L0_L0_8x16, P_8x8, P_8x8ref0), kMbTypeIntraBase + n the
// I-slice mb_type n (0 I_NxN, 1..24 I_16x16, 25 I_PCM).
inline constexpr int kMbTypeIntraBase = 5;
inline constexpr int kMbTypeMax = kMbTypeIntraBase + 25;

// Error codes reported in SliceResult::error.
enum SliceError : int32_t {
    kErrNone = 0,
    kErrMbType = 1,
    kErrSkipRun = 2,
    kErrRefIdx = 3,
    kErrCbp = 4,
    kErrQpDelta = 5,
    kErrResidual = 6,
    kErrIntraMode = 7,
    kErrOverrun = 8,
    kErrSubMbType = 9,
    kErrGeometry = 10,
    kErrEndOfSlice = 11,  // slice data runs past the last macroblock of the picture
    kErrMvd = 12,
};

inline void SetMbQp(SliceDecoder &sd, int qp) {
    sd.qp = qp;
    sd.mb.qp = qp;
    for (int c = 0; c < 2; ++c) {
        int qpi = qp + sd.p->chromaQpOffset[c];
        qpi = qpi < 0 ? 0 : (qpi > 51 ? 51 : qpi);
        sd.mb.qpc[c] = kChromaQp[qpi];
    }
}

// Marks the current macroblock's cache entries as having no residual.
inline void ClearCoefficientCounts(SliceDecoder &sd) {
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) sd.cache.nnz[Cache(x, y)] = 0;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 4; ++i) sd.cache.nnzChroma[c][kChromaCache[i]] = 0;
    sd.mb.cbfDc = 0;
}

// Motion fields of an intra macroblock, intra modes of an inter one.
inline void ClearMotion(SliceDecoder &sd, int8_t ref) {
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            const int i = Cache(x, y);
            sd.cache.ref[i] = ref;
            sd.cache.mv[i][0] = sd.cache.mv[i][1] = 0;
            sd.cache.mvd[i][0] = sd.cache.mvd[i][1] = 0;
        }
    }
}

inline void SetPredModes(SliceDecoder &sd, int8_t mode) {
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) sd.cache.predMode[Cache(x, y)] = mode;
}

// Intra4x4PredMode / Intra8x8PredMode predictor for the block at cache idx.
inline int PredictedIntraMode(const NeighbourCache &c, int idx) {
    const int a = c.predMode[idx - 1];
    const int b = c.predMode[idx - kCacheStride];
    if (a < 0 || b < 0) return 2;
    return a < b ? a : b;
}

}  // namespace tessaly::h264
