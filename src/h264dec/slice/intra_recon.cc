// Intra macroblocks: neighbouring unfiltered samples into the work area,
// then prediction block by block with the residual added in between.
#include <cstring>

#include "h264dec/dsp/kernel_set.h"
#include "h264dec/slice/reconstruct.h"

namespace tessaly::h264 {

namespace {

// Loads the unfiltered row above (with above-left and above-right samples)
// and the left column into the work area. The left macroblock is still
// unfiltered in the picture: its deblocking waits for this one.
void LoadIntraNeighbours(SliceDecoder &sd) {
    const SliceParams &p = *sd.p;
    const int x0 = sd.mbX * 16;
    const uint8_t *top = sd.topLuma[(sd.mbY - 1) & 1];
    uint8_t *row = sd.lumaWork - kLumaWorkStride;
    if (sd.availIntra[1]) std::memcpy(row, top + x0, 16);
    if (sd.availIntra[2])
        std::memcpy(row + 16, top + x0 + 16, 8);
    else if (sd.availIntra[1])
        std::memset(row + 16, row[15], 8);
    if (sd.availIntra[3]) row[-1] = top[x0 - 1];
    if (sd.availIntra[0]) {
        const uint8_t *left = p.y + ptrdiff_t(sd.mbY) * 16 * p.lumaStride + x0 - 1;
        for (int y = 0; y < 16; ++y) sd.lumaWork[y * kLumaWorkStride - 1] = left[y * p.lumaStride];
    }
    for (int k = 0; k < 2; ++k) {
        const uint8_t *ctop = sd.topChroma[(sd.mbY - 1) & 1][k];
        uint8_t *w = sd.chromaWork[k];
        if (sd.availIntra[1]) std::memcpy(w - kChromaWorkStride, ctop + sd.mbX * 8, 8);
        if (sd.availIntra[3]) w[-kChromaWorkStride - 1] = ctop[sd.mbX * 8 - 1];
        if (sd.availIntra[0]) {
            const uint8_t *left = (k ? p.v : p.u) + ptrdiff_t(sd.mbY) * 8 * p.chromaStride + sd.mbX * 8 - 1;
            for (int y = 0; y < 8; ++y) w[y * kChromaWorkStride - 1] = left[y * p.chromaStride];
        }
    }
}

int EdgeAvail(const SliceDecoder &sd) {
    return (sd.availIntra[0] ? kAvailLeft : 0) | (sd.availIntra[1] ? kAvailTop : 0) |
           (sd.availIntra[3] ? kAvailTopLeft : 0);
}

// Availability bits of the 4x4 block at (x, y) (or the 8x8 block, size 2).
int BlockAvail(const SliceDecoder &sd, int x, int y, int size) {
    const bool *a = sd.availIntra;
    int avail = 0;
    if (x > 0 || a[0]) avail |= kAvailLeft;
    if (y > 0 || a[1]) avail |= kAvailTop;
    if ((x > 0 && y > 0) || (x == 0 && y > 0 && a[0]) || (y == 0 && x > 0 && a[1]) || (x == 0 && y == 0 && a[3]))
        avail |= kAvailTopLeft;
    const int rx = x + size;
    bool topRight;
    if (y == 0)
        topRight = rx < 4 ? a[1] : a[2];
    else if (rx >= 4)
        topRight = false;
    else
        topRight = kRasterBlk[4 * (y - 1) + rx] < kRasterBlk[4 * y + x];
    if (topRight) avail |= kAvailTopRight;
    return avail;
}

}  // namespace

void ReconstructIntra(SliceDecoder &sd) {
    const KernelSet &ks = *sd.ks;
    CurrentMb &mb = sd.mb;
    LoadIntraNeighbours(sd);
    const NeighbourCache &c = sd.cache;

    if (mb.cls == kMbI16x16) {
        ks.intra16x16[mb.i16Mode](sd.lumaWork, kLumaWorkStride, EdgeAvail(sd));
        AddLumaResidual(sd, sd.lumaWork, kLumaWorkStride);
    } else if (mb.transform8x8) {
        for (int b8 = 0; b8 < 4; ++b8) {
            const int x = (b8 & 1) * 2, y = (b8 >> 1) * 2;
            uint8_t *dst = sd.lumaWork + y * 4 * kLumaWorkStride + x * 4;
            ks.intra8x8[mb.predMode[4 * b8]](dst, kLumaWorkStride, BlockAvail(sd, x, y, 2));
            const int idx = kBlkCache[4 * b8];
            const int n = c.nnz[idx] + c.nnz[idx + 1] + c.nnz[idx + kCacheStride] + c.nnz[idx + kCacheStride + 1];
            if (!n) continue;
            int16_t *coeffs = mb.luma + 64 * b8;
            const int single = sd.p->cabac ? c.nnz[idx] : n;
            if (single == 1 && coeffs[0] != 0)
                ks.idct8x8DcAdd(dst, kLumaWorkStride, coeffs);
            else
                ks.idct8x8Add(dst, kLumaWorkStride, coeffs);
        }
    } else {
        for (int blk = 0; blk < 16; ++blk) {
            const int x = kBlkX[blk], y = kBlkY[blk];
            uint8_t *dst = sd.lumaWork + y * 4 * kLumaWorkStride + x * 4;
            ks.intra4x4[mb.predMode[blk]](dst, kLumaWorkStride, BlockAvail(sd, x, y, 1));
            const int nnz = c.nnz[kBlkCache[blk]];
            if (!nnz) continue;
            int16_t *coeffs = mb.luma + 16 * blk;
            if (nnz == 1 && coeffs[0])
                ks.idct4x4DcAdd(dst, kLumaWorkStride, coeffs);
            else
                ks.idct4x4Add(dst, kLumaWorkStride, coeffs);
        }
    }

    const int chromaAvail = EdgeAvail(sd);
    for (int k = 0; k < 2; ++k) ks.intraChroma[mb.chromaPredMode](sd.chromaWork[k], kChromaWorkStride, chromaAvail);
    AddChromaResidual(sd, sd.chromaWork[0], sd.chromaWork[1], kChromaWorkStride);
}

void ReconstructPcm(SliceDecoder &sd) {
    const uint8_t *s = sd.mb.pcm;
    for (int y = 0; y < 16; ++y) std::memcpy(sd.lumaWork + y * kLumaWorkStride, s + 16 * y, 16);
    s += 256;
    for (int k = 0; k < 2; ++k) {
        for (int y = 0; y < 8; ++y) std::memcpy(sd.chromaWork[k] + y * kChromaWorkStride, s + 8 * y, 8);
        s += 64;
    }
}

}  // namespace tessaly::h264
