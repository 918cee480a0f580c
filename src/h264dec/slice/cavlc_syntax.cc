#include "h264dec/slice/cavlc_syntax.h"

#include "h264dec/slice/cavlc_residual.h"

namespace tessaly::h264 {

namespace {

constexpr uint8_t kIdentity4[4] = {0, 1, 2, 3};

// The coeff_token table for the block at cache index idx, from the left
// and upper counts (64 marks an unavailable neighbour).
inline uint16_t TokenTable(const uint8_t *nnz, int idx) {
    return kCavlcVlc.coeffTokenByNnzSum[nnz[idx - 1] + nnz[idx - kCacheStride]];
}

}  // namespace

int CavlcSyntax::Residual(SliceDecoder &sd) {
    CurrentMb &mb = sd.mb;
    NeighbourCache &c = sd.cache;
    const SliceParams &p = *sd.p;
    const bool intra = MbIsIntra(mb.cls);
    const int cbp = mb.cbp;
    // The elements before the residual may already have run past the data.
    auto overrun = [&] { return br_.Position() > p.bitEnd ? kErrOverrun : kErrNone; };
    if (cbp == 0 && mb.cls != kMbI16x16) return overrun();
    const int qpDiv6 = mb.qp / 6, qpMod6 = mb.qp % 6;
    const uint16_t *lumaScale = p.dequant->scale4x4[intra ? 0 : 3][qpMod6];
    CavlcBitWindow bits(br_);

    if (mb.cls == kMbI16x16) {
        const CavlcBlockTarget dc{mb.lumaDc, sd.scan4x4, nullptr, 0, 4, 1};
        const int dcCount = ReadCavlcBlock(bits, TokenTable(c.nnz, Cache(0, 0)), 16, dc);
        if (dcCount < 0) return kErrResidual;
        if (dcCount) mb.cbfDc |= 1;
        if (cbp & 15) {
            CavlcBlockTarget t{mb.luma, sd.scan4x4 + 1, lumaScale, qpDiv6, 4, 1};
            for (int blk = 0; blk < 16; ++blk, t.coeffs += 16) {
                const int idx = kBlkCache[blk];
                const int n = ReadCavlcBlock(bits, TokenTable(c.nnz, idx), 15, t);
                if (n < 0) return kErrResidual;
                c.nnz[idx] = uint8_t(n);
            }
        }
    } else if (mb.transform8x8) {
        // Each 8x8 block is coded as four interleaved 4x4 blocks.
        CavlcBlockTarget t{mb.luma, sd.scan8x8, p.dequant->scale8x8[intra ? 0 : 1][qpMod6], qpDiv6, 6, 4};
        for (int b8 = 0; b8 < 4; ++b8, t.coeffs += 64) {
            if (!((cbp >> b8) & 1)) continue;
            for (int k = 0; k < 4; ++k) {
                const int idx = kBlkCache[4 * b8 + k];
                t.scan = sd.scan8x8 + k;
                const int n = ReadCavlcBlock(bits, TokenTable(c.nnz, idx), 16, t);
                if (n < 0) return kErrResidual;
                c.nnz[idx] = uint8_t(n);
            }
        }
    } else {
        CavlcBlockTarget t{mb.luma, sd.scan4x4, lumaScale, qpDiv6, 4, 1};
        for (int b8 = 0; b8 < 4; ++b8) {
            if (!((cbp >> b8) & 1)) continue;
            for (int k = 0; k < 4; ++k) {
                const int blk = 4 * b8 + k;
                const int idx = kBlkCache[blk];
                t.coeffs = mb.luma + 16 * blk;
                const int n = ReadCavlcBlock(bits, TokenTable(c.nnz, idx), 16, t);
                if (n < 0) return kErrResidual;
                c.nnz[idx] = uint8_t(n);
            }
        }
    }

    if (cbp & 0x30) {
        for (int k = 0; k < 2; ++k) {
            const CavlcBlockTarget t{mb.chromaDc[k], kIdentity4, nullptr, 0, 4, 1};
            const int n = ReadCavlcBlock(bits, kCavlcVlc.coeffToken[0], 4, t);
            if (n < 0) return kErrResidual;
            if (n) mb.cbfDc |= uint8_t(2 << k);
        }
        if (cbp & 0x20) {
            for (int k = 0; k < 2; ++k) {
                const int qpc = mb.qpc[k];
                CavlcBlockTarget t{
                    mb.chroma[k], sd.scan4x4 + 1, p.dequant->scale4x4[(intra ? 1 : 4) + k][qpc % 6], qpc / 6, 4, 1};
                for (int blk = 0; blk < 4; ++blk, t.coeffs += 16) {
                    const int idx = kChromaCache[blk];
                    const int n = ReadCavlcBlock(bits, TokenTable(c.nnzChroma[k], idx), 15, t);
                    if (n < 0) return kErrResidual;
                    c.nnzChroma[k][idx] = uint8_t(n);
                }
            }
        }
    }
    bits.Sync();
    return overrun();
}

int CavlcSyntax::Pcm(SliceDecoder &sd) {
    br_.AlignToByte();
    const uint64_t start = br_.Position() >> 3;
    if (start + 384 > (sd.p->bitEnd >> 3)) return kErrOverrun;
    for (int i = 0; i < 384; ++i) sd.mb.pcm[i] = uint8_t(br_.ReadBits(8));
    return kErrNone;
}

}  // namespace tessaly::h264
