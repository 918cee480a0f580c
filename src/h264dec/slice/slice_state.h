// The slice decoder's working memory: per-picture macroblock records, the
// neighbour caches of the macroblock being decoded, the unfiltered edge
// samples kept for intra prediction, and the reconstruction work area.
// Everything is sized at creation; decoding never allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "h264dec/bitstream/bitreader.h"
#include "h264dec/dsp/deblock_mb.h"
#include "h264dec/slice/block_layout.h"
#include "h264dec/slice/cabac_engine.h"
#include "h264dec/slice_params.h"

namespace tessaly::h264 {

struct KernelSet;

// Macroblock classes after mapping mb_type.
enum MbClass : uint8_t {
    kMbP16x16 = 0,
    kMbP16x8,
    kMbP8x16,
    kMbP8x8,
    kMbP8x8Ref0,
    kMbPSkip,
    kMbINxN,
    kMbI16x16,
    kMbIPcm,
};

inline bool MbIsIntra(uint8_t cls) { return cls >= kMbINxN; }

// Reference index marks in the caches.
enum : int8_t { kRefUnavailable = -2, kRefIntra = -1 };

// Kept for every macroblock of the picture: what later macroblocks, their
// context derivation, prediction and deblocking read.
struct MbRecord {
    uint32_t slice = 0;  // slice serial number; 0 = never decoded
    int32_t addr = -1;   // the macroblock it describes (records are reused every two rows)
    uint8_t cls = kMbPSkip;
    uint8_t cbp = 0;  // luma bits 0..3, chroma 0..2 in bits 4..5
    uint8_t transform8x8 = 0;
    uint8_t chromaPredMode = 0;
    uint8_t cbfDc = 0;  // CABAC coded_block_flag of luma DC (bit 0), Cb DC (1), Cr DC (2)
    uint8_t qpDeblock = 0;
    uint8_t qpcDeblock[2] = {};
    uint16_t nonzero = 0;  // luma 4x4 blocks (raster bit) with coefficients, for deblocking
    uint8_t nnz[16] = {};  // raster: CAVLC TotalCoeff / CABAC coefficient count
    uint8_t nnzChroma[2][4] = {};
    int8_t predMode[16] = {};  // raster; 2 (DC) for macroblocks that are not I_NxN
    int8_t ref[4] = {};        // per 8x8, raster; kRefIntra for intra
    int32_t refId[4] = {};
    int16_t mv[16][2] = {};   // raster
    uint8_t mvd[16][2] = {};  // raster, |mvd| clipped to 64 (CABAC contexts)
};

// The macroblock being decoded.
struct alignas(16) CurrentMb {
    int16_t luma[256];      // 4x4 block b at luma[16 * b] (luma4x4BlkIdx); 8x8 block k at luma[64 * k]
    int16_t lumaDc[16];     // Intra16x16 DC levels, raster 4x4
    int16_t chroma[2][64];  // per component four 4x4 blocks
    int16_t chromaDc[2][4];
    uint8_t pcm[384];

    uint8_t cls = 0;
    uint8_t cbp = 0;
    uint8_t transform8x8 = 0;
    uint8_t i16Mode = 0;
    uint8_t chromaPredMode = 0;
    uint8_t cbfDc = 0;
    uint8_t subType[4] = {};   // 0: 8x8, 1: 8x4, 2: 4x8, 3: 4x4
    int8_t predMode[16] = {};  // luma4x4BlkIdx order (8x8: one per 8x8 block at 4*k)
    int qp = 0;
    int qpc[2] = {};
};

// Neighbour caches (layout of block_layout.h).
struct alignas(16) NeighbourCache {
    uint8_t nnz[kCacheSize];           // luma; 64 = unavailable
    uint8_t nnzChroma[2][kCacheSize];  // x, y 0..1 used
    int8_t predMode[kCacheSize];       // -1 = not usable for prediction
    int8_t ref[kCacheSize];
    int16_t mv[kCacheSize][2];
    uint8_t mvd[kCacheSize][2];
};

// The current macroblock's luma 4x4 blocks with coefficients: bit 4y + x for
// raster block (x, y), from the counts in the cache.
inline uint16_t CodedLumaBlocks(const NeighbourCache &c) {
    uint64_t halves[2] = {0, 0};  // rows 0-1 and 2-3, one byte per block
    for (int y = 0; y < 4; ++y) {
        uint32_t row;
        std::memcpy(&row, c.nnz + Cache(0, y), 4);
        halves[y >> 1] |= uint64_t(row) << (32 * (y & 1));
    }
    // Per byte: its top bit set when the byte is nonzero; then gathered.
    auto nonzero = [](uint64_t v) {
        const uint64_t high = (((v & 0x7f7f7f7f7f7f7f7full) + 0x7f7f7f7f7f7f7f7full) | v) & 0x8080808080808080ull;
        return unsigned(((high >> 7) * 0x0102040810204080ull) >> 56);
    };
    return uint16_t(nonzero(halves[0]) | nonzero(halves[1]) << 8);
}

// Availability of the neighbouring macroblocks for the current slice.
struct MbNeighbours {
    int left = -1, top = -1, topRight = -1, topLeft = -1;  // record indices, -1 = unavailable
};

inline constexpr int kLumaWorkStride = 48;
inline constexpr int kChromaWorkStride = 32;
inline constexpr int kMcScratchStride = 32;

// A P_Skip macroblock whose prediction waits for its reference samples.
struct SkippedMb {
    int16_t mbX, mbY, mvx, mvy;
};
inline constexpr int kMaxDeferredSkips = 2;

class SliceDecoder {
public:
    const KernelSet *ks = nullptr;
    int32_t maxWidthMbs = 0, maxHeightMbs = 0;

    // Per picture. Records of the current and the previous macroblock row,
    // 2 * maxWidthMbs, row parity first: small enough to stay in cache, and
    // nothing looks further up.
    MbRecord *mbs = nullptr;
    uint32_t sliceSerial = 0;        // incremented per slice, never reset
    uint32_t pictureFirstSlice = 1;  // serial of the picture's first slice

    // Unfiltered bottom rows of the previous and current macroblock rows
    // (double-buffered by row parity), for intra prediction, saved just
    // before the macroblocks are deblocked. The left neighbour needs no
    // copy: the row is deblocked after its last macroblock (see FinishMb).
    uint8_t *topLuma[2] = {};  // (maxWidthMbs + 2) * 16, offset by 16
    uint8_t *topChroma[2][2] = {};
    // Deblocking parameters of the current row's macroblocks, filtered when
    // the row (or the slice) ends: the filters then run back to back, not
    // between the parsing of every two macroblocks.
    DeblockMb *deblockRow = nullptr;  // maxWidthMbs
    int deblockPending = 0;
    int deblockRowX = 0;  // column of deblockRow[0]
    // P_Skip predictions not yet made, oldest first (see FinishMb).
    SkippedMb deferredSkips[kMaxDeferredSkips] = {};
    int deferredCount = 0;

    // Current slice.
    const SliceParams *p = nullptr;
    int mbAddr = 0, mbX = 0, mbY = 0;
    int mbIndex = 0;  // the current macroblock's record
    int qp = 0;
    int lastQpDelta = 0;  // CABAC: mb_qp_delta of the previous macroblock
    const uint8_t *scan4x4 = nullptr;
    const uint8_t *scan8x8 = nullptr;
    BitReader br;
    uint64_t stopBit = 0;  // position of rbsp_stop_one_bit
    CabacEngine cabac;
    CabacContext ctx[460];

    MbNeighbours nb;
    bool availIntra[4] = {};  // left, top, top-right, top-left usable for intra prediction
    NeighbourCache cache;
    CurrentMb mb;

    // Reconstruction work area with room for the neighbouring samples.
    uint8_t *lumaWork = nullptr;  // top-left sample of the macroblock
    uint8_t *chromaWork[2] = {};
    uint8_t *mcScratch = nullptr;  // edge-extended reference window

    void *arena = nullptr;
};

// The record of the macroblock above the current one (when mbY > 0).
inline int AboveIndex(const SliceDecoder &sd) { return sd.mbIndex + ((sd.mbY & 1) ? -sd.p->widthMbs : sd.p->widthMbs); }

}  // namespace tessaly::h264
