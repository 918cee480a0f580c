// Small helpers shared by the CAVLC and CABAC macroblock parsers.
#pragma once

#include <cstring>

#include "h264dec/slice/slice_state.h"
#include "h264dec/tables/tables.h"

namespace tessaly::h264 {

// Unified macroblock type numbers: 0..4 are the P types (P_L0_16x16,
// P_L0_L0_16x8, P_L0_L0_8x16, P_8x8, P_8x8ref0), kMbTypeIntraBase + n the
// I-slice mb_type n (0 I_NxN, 1..24 I_16x16, 25 I_PCM).
inline constexpr int kMbTypeIntraBase = 5;
inline constexpr int kIntraTypeNxN = 0;
inline constexpr int kIntraTypePcm = 25;
// I_16x16 types from this one on code the AC of all four luma 8x8 blocks.
inline constexpr int kIntra16x16LumaAcFirst = 13;
inline constexpr int kMbTypeMax = kMbTypeIntraBase + kIntraTypePcm;

// coded_block_pattern bits: the four luma 8x8 blocks, chroma AC (and DC).
inline constexpr int kCbpLumaAll = 0x0f;
inline constexpr int kCbpChromaAc = 0x20;
// Bits of CurrentMb::cbfDc: luma, Cb and Cr DC all coded.
inline constexpr uint8_t kCbfDcAll = 7;
// Coefficient count of every I_PCM block: all 16 coded, for the CAVLC
// neighbour counts and the deblocking strength.
inline constexpr uint8_t kPcmCoeffCount = 16;
// The 4x4 / 8x8 mode a neighbour that is not I_NxN offers: DC.
inline constexpr int8_t kPredModeDc = 2;

inline constexpr int kMaxQp = 51;
inline constexpr int kMinQpDelta = -26, kMaxQpDelta = 25;

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
    kErrEndOfSlice = 11,  // slice data runs past the last macroblock it may write
    kErrMvd = 12,
};

inline void SetMbQp(SliceDecoder &sd, int qp) {
    sd.qp = qp;
    sd.mb.qp = qp;
    for (int c = 0; c < 2; ++c) {
        int qpi = qp + sd.p->chromaQpOffset[c];
        qpi = qpi < 0 ? 0 : (qpi > kMaxQp ? kMaxQp : qpi);
        sd.mb.qpc[c] = kChromaQp[qpi];
    }
}

// Stores `pattern` into the four 4-byte rows of the current macroblock in a
// byte field of the cache (unrolled: this runs for every macroblock).
inline void FillRows(uint8_t *field, uint32_t pattern) {
    std::memcpy(field + Cache(0, 0), &pattern, 4);
    std::memcpy(field + Cache(0, 1), &pattern, 4);
    std::memcpy(field + Cache(0, 2), &pattern, 4);
    std::memcpy(field + Cache(0, 3), &pattern, 4);
}

inline uint32_t RepeatByte(int8_t v) { return uint8_t(v) * 0x01010101u; }

// Marks the current macroblock's cache entries as having no residual.
inline void ClearCoefficientCounts(SliceDecoder &sd) {
    FillRows(sd.cache.nnz, 0);
    for (int c = 0; c < 2; ++c) {
        std::memset(sd.cache.nnzChroma[c] + Cache(0, 0), 0, 2);
        std::memset(sd.cache.nnzChroma[c] + Cache(0, 1), 0, 2);
    }
    sd.mb.cbfDc = 0;
}

inline void ClearMvd(SliceDecoder &sd) {
    for (int y = 0; y < 4; ++y) std::memset(sd.cache.mvd[Cache(0, y)], 0, 4 * sizeof sd.cache.mvd[0]);
}

// Motion fields of an intra macroblock, intra modes of an inter one.
inline void ClearMotion(SliceDecoder &sd, int8_t ref) {
    FillRows(reinterpret_cast<uint8_t *>(sd.cache.ref), RepeatByte(ref));
    for (int y = 0; y < 4; ++y) std::memset(sd.cache.mv[Cache(0, y)], 0, 4 * sizeof sd.cache.mv[0]);
    ClearMvd(sd);
}

inline void SetPredModes(SliceDecoder &sd, int8_t mode) {
    FillRows(reinterpret_cast<uint8_t *>(sd.cache.predMode), RepeatByte(mode));
}

// Intra4x4PredMode / Intra8x8PredMode predictor for the block at cache idx.
inline int PredictedIntraMode(const NeighbourCache &c, int idx) {
    const int a = c.predMode[idx - 1];
    const int b = c.predMode[idx - kCacheStride];
    if (a < 0 || b < 0) return 2;
    return a < b ? a : b;
}

}  // namespace tessaly::h264
