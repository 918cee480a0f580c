// Inverse transforms of the macroblock's coefficient blocks, added to the
// prediction (in the work area or the picture). Empty blocks are skipped;
// DC-only blocks take the kernels' DC path.
#include <cstring>

#include "h264dec/dsp/kernel_set.h"
#include "h264dec/slice/reconstruct.h"

namespace tessaly::h264 {

namespace {

// A block whose DC came from the separate DC transform: it may hold that DC
// alone with no coefficient counted.
inline void AddBlockWithDc(const KernelSet &ks, uint8_t *dst, ptrdiff_t stride, int16_t *coeffs, int nnz) {
    if (nnz)
        ks.idct4x4Add(dst, stride, coeffs);
    else if (coeffs[0])
        ks.idct4x4DcAdd(dst, stride, coeffs);
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
    if (i16 && (mb.cbfDc & 1)) {
        // Transformed DCs may sit in blocks without AC.
        for (int blk = 0; blk < 16; ++blk) {
            uint8_t *dst = base + kBlkY[blk] * 4 * stride + kBlkX[blk] * 4;
            AddBlockWithDc(ks, dst, stride, mb.luma + 16 * blk, c.nnz[kBlkCache[blk]]);
        }
        return;
    }
    // Only blocks with coefficients: most of an inter macroblock is empty.
    for (unsigned coded = CodedLumaBlocks(c); coded; coded &= coded - 1) {
        const int r = __builtin_ctz(coded);
        const int x = r & 3, y = r >> 2;
        int16_t *coeffs = mb.luma + 16 * kRasterBlk[r];
        uint8_t *dst = base + y * 4 * stride + x * 4;
        if (c.nnz[Cache(x, y)] == 1 && coeffs[0])
            ks.idct4x4DcAdd(dst, stride, coeffs);
        else
            ks.idct4x4Add(dst, stride, coeffs);
    }
}

void AddChromaResidual(SliceDecoder &sd, uint8_t *u, uint8_t *v, ptrdiff_t stride) {
    const KernelSet &ks = *sd.ks;
    CurrentMb &mb = sd.mb;
    if (!(mb.cbp & 0x30)) return;
    const auto *scale = sd.p->dequant->scale4x4 + (MbIsIntra(mb.cls) ? 1 : 4);  // Cb list; Cr follows
    const ptrdiff_t offsets[4] = {0, 4, 4 * stride, 4 * stride + 4};
    for (int k = 0; k < 2; ++k) {
        const bool dc = mb.cbfDc & (2 << k);
        int16_t *coeffs = mb.chroma[k];
        if (dc) {
            const int qpc = mb.qpc[k];
            ks.chromaDcDequantIdct(coeffs, mb.chromaDc[k], qpc, scale[k][qpc % 6][0]);
        }
        const uint8_t *nnz = sd.cache.nnzChroma[k];
        uint8_t *base = k ? v : u;
        uint16_t top, bottom;
        std::memcpy(&top, nnz + Cache(0, 0), 2);
        std::memcpy(&bottom, nnz + Cache(0, 1), 2);
        if (!(top | bottom)) {
            // No AC anywhere: at most the four DCs, in one call.
            if (dc) ks.chromaDcAdd(base, stride, coeffs);
            continue;
        }
        for (int blk = 0; blk < 4; ++blk)
            AddBlockWithDc(ks, base + offsets[blk], stride, coeffs + 16 * blk, nnz[kChromaCache[blk]]);
    }
}

}  // namespace tessaly::h264
