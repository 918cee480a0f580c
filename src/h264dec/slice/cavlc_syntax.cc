#include "h264dec/slice/cavlc_syntax.h"

#include "h264dec/slice/cavlc_residual.h"
#include "h264dec/slice/mb_common.h"

namespace tessaly::h264 {

namespace {

// coded_block_pattern by codeNum (4:2:0), intra (Intra_4x4 / Intra_8x8) and inter.
constexpr uint8_t kCbpIntra[48] = {47, 31, 15, 0,  23, 27, 29, 30, 7,  11, 13, 14, 39, 43, 45, 46,
                                   16, 3,  5,  10, 12, 19, 21, 26, 28, 35, 37, 42, 44, 1,  2,  4,
                                   8,  17, 18, 20, 24, 6,  9,  22, 25, 32, 33, 34, 36, 40, 38, 41};
constexpr uint8_t kCbpInter[48] = {0,  16, 1,  2,  4,  8,  32, 3,  5,  10, 12, 15, 47, 7,  11, 13,
                                   14, 6,  9,  31, 35, 37, 42, 44, 33, 34, 36, 40, 39, 43, 45, 46,
                                   17, 18, 20, 24, 19, 21, 26, 28, 23, 27, 29, 30, 22, 25, 38, 41};

constexpr uint8_t kIdentity4[4] = {0, 1, 2, 3};

// nC from the left and upper counts; 64 marks an unavailable neighbour.
inline int PredictNc(const uint8_t *nnz, int idx) {
    int n = nnz[idx - 1] + nnz[idx - kCacheStride];
    if (n < 64) n = (n + 1) >> 1;
    return n & 31;
}

}  // namespace

int CavlcSyntax::MbType() {
    const uint32_t v = br_.ReadUe();
    if (sd_.p->type == SliceType::I) return v <= 25 ? kMbTypeIntraBase + int(v) : -1;
    if (v <= 4) return int(v);
    return v <= 30 ? kMbTypeIntraBase + int(v) - 5 : -1;
}

int CavlcSyntax::IntraChromaPredMode() {
    const uint32_t v = br_.ReadUe();
    return v <= 3 ? int(v) : -1;
}

int CavlcSyntax::SubMbType() {
    const uint32_t v = br_.ReadUe();
    return v <= 3 ? int(v) : -1;
}

int CavlcSyntax::RefIdx(int, int, int numRef) {
    if (numRef == 2) return br_.ReadBit() ? 0 : 1;
    const uint32_t v = br_.ReadUe();
    return v < 32 ? int(v) : -1;
}

int CavlcSyntax::Mvd(int, int, int) {
    const int32_t v = br_.ReadSe();
    return (v < -32768 || v > 32767) ? INT32_MIN : v;
}

int CavlcSyntax::CodedBlockPattern() {
    const uint32_t v = br_.ReadUe();
    if (v > 47) return -1;
    return MbIsIntra(sd_.mb.cls) ? kCbpIntra[v] : kCbpInter[v];
}

int CavlcSyntax::MbQpDelta() {
    const int32_t v = br_.ReadSe();
    return v == INT32_MIN ? -1000 : v;
}

int CavlcSyntax::Residual(SliceDecoder &sd) {
    CurrentMb &mb = sd.mb;
    NeighbourCache &c = sd.cache;
    const SliceParams &p = *sd.p;
    const bool intra = MbIsIntra(mb.cls);
    const int cbp = mb.cbp;
    const int qpDiv6 = mb.qp / 6, qpMod6 = mb.qp % 6;
    const uint16_t *lumaScale = p.dequant->scale4x4[intra ? 0 : 3][qpMod6];

    if (mb.cls == kMbI16x16) {
        const CavlcBlockTarget dc{mb.lumaDc, sd.scan4x4, nullptr, 0, 4, 1};
        const int dcCount = ReadCavlcBlock(br_, PredictNc(c.nnz, Cache(0, 0)), 16, dc);
        if (dcCount < 0) return kErrResidual;
        if (dcCount) mb.cbfDc |= 1;
        if (cbp & 15) {
            for (int blk = 0; blk < 16; ++blk) {
                const int idx = kBlkCache[blk];
                const CavlcBlockTarget t{mb.luma + 16 * blk, sd.scan4x4 + 1, lumaScale, qpDiv6, 4, 1};
                const int n = ReadCavlcBlock(br_, PredictNc(c.nnz, idx), 15, t);
                if (n < 0) return kErrResidual;
                c.nnz[idx] = uint8_t(n);
            }
        }
    } else {
        for (int b8 = 0; b8 < 4; ++b8) {
            if (!((cbp >> b8) & 1)) continue;
            for (int k = 0; k < 4; ++k) {
                const int blk = 4 * b8 + k;
                const int idx = kBlkCache[blk];
                int n;
                if (mb.transform8x8) {
                    // The 8x8 block is coded as four interleaved 4x4 blocks.
                    const CavlcBlockTarget t{mb.luma + 64 * b8, sd.scan8x8 + k,
                                             p.dequant->scale8x8[intra ? 0 : 1][qpMod6], qpDiv6, 6, 4};
                    n = ReadCavlcBlock(br_, PredictNc(c.nnz, idx), 16, t);
                } else {
                    const CavlcBlockTarget t{mb.luma + 16 * blk, sd.scan4x4, lumaScale, qpDiv6, 4, 1};
                    n = ReadCavlcBlock(br_, PredictNc(c.nnz, idx), 16, t);
                }
                if (n < 0) return kErrResidual;
                c.nnz[idx] = uint8_t(n);
            }
        }
    }

    if (cbp & 0x30) {
        for (int k = 0; k < 2; ++k) {
            const CavlcBlockTarget t{mb.chromaDc[k], kIdentity4, nullptr, 0, 4, 1};
            const int n = ReadCavlcBlock(br_, -1, 4, t);
            if (n < 0) return kErrResidual;
            if (n) mb.cbfDc |= uint8_t(2 << k);
        }
        if (cbp & 0x20) {
            for (int k = 0; k < 2; ++k) {
                const int qpc = mb.qpc[k];
                const uint16_t *scale = p.dequant->scale4x4[(intra ? 1 : 4) + k][qpc % 6];
                for (int blk = 0; blk < 4; ++blk) {
                    const int idx = kChromaCache[blk];
                    const CavlcBlockTarget t{mb.chroma[k] + 16 * blk, sd.scan4x4 + 1, scale, qpc / 6, 4, 1};
                    const int n = ReadCavlcBlock(br_, PredictNc(c.nnzChroma[k], idx), 15, t);
                    if (n < 0) return kErrResidual;
                    c.nnzChroma[k][idx] = uint8_t(n);
                }
            }
        }
    }
    return br_.Position() > sd.p->bitEnd ? kErrOverrun : kErrNone;
}

int CavlcSyntax::Pcm(SliceDecoder &sd) {
    br_.AlignToByte();
    const uint64_t start = br_.Position() >> 3;
    if (start + 384 > (sd.p->bitEnd >> 3)) return kErrOverrun;
    for (int i = 0; i < 384; ++i) sd.mb.pcm[i] = uint8_t(br_.ReadBits(8));
    return kErrNone;
}

}  // namespace tessaly::h264
