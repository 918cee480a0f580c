// Inverse transforms of the macroblock's coefficient blocks, added to the
// prediction in the work area. Empty blocks are skipped; DC-only blocks take
// the kernels' DC path.
#include "h264dec/dsp/kernel_set.h"
#include "h264dec/slice/reconstruct.h"

namespace tessaly::h264 {

namespace {

inline void AddBlock4x4(const KernelSet &ks, uint8_t *dst, ptrdiff_t stride, int16_t *coeffs, int nnz, bool dcFromTransform) {
    if (nnz == 0) {
        if (coeffs[0]) ks.idct4x4DcAdd(dst, stride, coeffs);
    } else if (nnz == 1 && !dcFromTransform && coeffs[0]) {
        ks.idct4x4DcAdd(dst, stride, coeffs);
    } else {
        ks.idct4x4Add(dst, stride, coeffs);
    }
}

}  // namespace

void AddLumaResidual(SliceDecoder &sd, uint8_t *base, ptrdiff_t stride) {
    const KernelSet &ks = *sd.ks;
    CurrentMb &mb = sd.mb;
    const NeighbourCache &c = sd.cache;
    if (mb.cls == kMbI16x16 && (mb.cbfDc & 1)) {
        const int qp = mb.qp;
        ks.lumaDcDequantIdct(mb.luma, mb.lumaDc, qp, sd.p->dequant->scale4x4[0][qp % 6][0]);
    }
    if (mb.transform8x8) {
        for (int b8 = 0; b8 < 4; ++b8) {
            const int idx = kBlkCache[4 * b8];
            const int n = c.nnz[idx] + c.nnz[idx + 1] + c.nnz[idx + kCacheStride] + c.nnz[idx + kCacheStride + 1];
            if (!n) continue;
            int16_t *coeffs = mb.luma + 64 * b8;
            uint8_t *dst = base + (b8 >> 1) * 8 * stride + (b8 & 1) * 8;
            // CABAC keeps the block's count in all four entries, CAVLC one
            // count per interleaved part.
            const int single = sd.p->cabac ? c.nnz[idx] : n;
            const bool dcOnly = single == 1 && coeffs[0] != 0;
            if (dcOnly)
                ks.idct8x8DcAdd(dst, stride, coeffs);
            else
                ks.idct8x8Add(dst, stride, coeffs);
        }
        return;
    }
    const bool i16 = mb.cls == kMbI16x16;
    for (int blk = 0; blk < 16; ++blk) {
        uint8_t *dst = base + kBlkY[blk] * 4 * stride + kBlkX[blk] * 4;
        AddBlock4x4(ks, dst, stride, mb.luma + 16 * blk, c.nnz[kBlkCache[blk]], i16);
    }
}

void AddChromaResidual(SliceDecoder &sd, uint8_t *u, uint8_t *v, ptrdiff_t stride) {
    const KernelSet &ks = *sd.ks;
    CurrentMb &mb = sd.mb;
    if (!(mb.cbp & 0x30)) return;
    const bool intra = MbIsIntra(mb.cls);
    for (int k = 0; k < 2; ++k) {
        if (mb.cbfDc & (2 << k)) {
            const int qpc = mb.qpc[k];
            ks.chromaDcDequantIdct(mb.chroma[k], mb.chromaDc[k], qpc,
                                   sd.p->dequant->scale4x4[(intra ? 1 : 4) + k][qpc % 6][0]);
        }
        const uint8_t *nnz = sd.cache.nnzChroma[k];
        uint8_t *base = k ? v : u;
        if ((nnz[kChromaCache[0]] | nnz[kChromaCache[1]] | nnz[kChromaCache[2]] | nnz[kChromaCache[3]]) == 0) {
            // No AC anywhere: at most the four DCs, in one call.
            if (mb.cbfDc & (2 << k)) ks.chromaDcAdd(base, stride, mb.chroma[k]);
            continue;
        }
        for (int blk = 0; blk < 4; ++blk) {
            uint8_t *dst = base + (blk >> 1) * 4 * stride + (blk & 1) * 4;
            AddBlock4x4(ks, dst, stride, mb.chroma[k] + 16 * blk, nnz[kChromaCache[blk]], true);
        }
    }
}

}  // namespace tessaly::h264
