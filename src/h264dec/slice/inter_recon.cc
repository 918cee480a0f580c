// Inter macroblocks: motion-compensated prediction of every partition from
// list 0, then the residual. Reference planes have no border: a window that
// reaches outside the picture is first copied with clamped coordinates.
#include "h264dec/dsp/kernel_set.h"
#include "h264dec/slice/reconstruct.h"

namespace tessaly::h264 {

namespace {

inline int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Copies the w x h window at (x, y) of a plane into scratch, replicating
// the edge samples for positions outside the plane.
void EdgeExtend(uint8_t *scratch, const uint8_t *plane, ptrdiff_t stride, int planeW, int planeH, int x, int y,
                int w, int h) {
    for (int j = 0; j < h; ++j) {
        const uint8_t *line = plane + Clamp(y + j, 0, planeH - 1) * stride;
        uint8_t *out = scratch + j * kMcScratchStride;
        for (int i = 0; i < w; ++i) out[i] = line[Clamp(x + i, 0, planeW - 1)];
    }
}

void PredictPartition(SliceDecoder &sd, int x4, int y4, int w4, int h4) {
    const SliceParams &p = *sd.p;
    const KernelSet &ks = *sd.ks;
    const int idx = Cache(x4, y4);
    const int ref = sd.cache.ref[idx];
    const RefPicture &r = p.refList[ref < 0 ? 0 : (ref > 32 ? 32 : ref)];
    if (!r.y || !r.u || !r.v) return;
    const int mvx = sd.cache.mv[idx][0], mvy = sd.cache.mv[idx][1];
    const int planeW = p.widthMbs * 16, planeH = p.heightMbs * 16;

    // Luma: the kernels read 2 samples before and 3 after the block.
    const int bw = w4 * 4, bh = h4 * 4;
    const int lx = sd.mbX * 16 + x4 * 4 + (mvx >> 2);
    const int ly = sd.mbY * 16 + y4 * 4 + (mvy >> 2);
    const uint8_t *src;
    ptrdiff_t srcStride;
    if (lx >= 2 && ly >= 2 && lx + bw + 3 <= planeW && ly + bh + 3 <= planeH) {
        src = r.y + ptrdiff_t(ly) * r.lumaStride + lx;
        srcStride = r.lumaStride;
    } else {
        EdgeExtend(sd.mcScratch, r.y, r.lumaStride, planeW, planeH, lx - 2, ly - 2, bw + 5, bh + 5);
        src = sd.mcScratch + 2 * kMcScratchStride + 2;
        srcStride = kMcScratchStride;
    }
    const int widthIdx = bw == 16 ? 0 : (bw == 8 ? 1 : 2);
    uint8_t *dst = sd.lumaWork + y4 * 4 * kLumaWorkStride + x4 * 4;
    ks.lumaMc[widthIdx][(mvx & 3) + 4 * (mvy & 3)](dst, kLumaWorkStride, src, srcStride, bh);

    // Chroma: eighth-sample vectors; between fields of opposite parity the
    // vertical vector is shifted by a quarter chroma sample.
    int cmvy = mvy;
    if (p.fieldPic) {
        if (r.bottomField && !p.bottomField) cmvy -= 2;
        if (!r.bottomField && p.bottomField) cmvy += 2;
    }
    const int cw = bw >> 1, ch = bh >> 1;
    const int cx = sd.mbX * 8 + x4 * 2 + (mvx >> 3);
    const int cy = sd.mbY * 8 + y4 * 2 + (cmvy >> 3);
    const int chromaW = planeW >> 1, chromaH = planeH >> 1;
    const int chromaIdx = cw == 8 ? 0 : (cw == 4 ? 1 : 2);
    const bool inside = cx >= 0 && cy >= 0 && cx + cw + 1 <= chromaW && cy + ch + 1 <= chromaH;
    const uint8_t *planes[2] = {r.u, r.v};
    for (int k = 0; k < 2; ++k) {
        const uint8_t *csrc;
        ptrdiff_t cstride;
        if (inside) {
            csrc = planes[k] + ptrdiff_t(cy) * r.chromaStride + cx;
            cstride = r.chromaStride;
        } else {
            EdgeExtend(sd.mcScratch, planes[k], r.chromaStride, chromaW, chromaH, cx, cy, cw + 1, ch + 1);
            csrc = sd.mcScratch;
            cstride = kMcScratchStride;
        }
        uint8_t *cdst = sd.chromaWork[k] + y4 * 2 * kChromaWorkStride + x4 * 2;
        ks.chromaMc[chromaIdx](cdst, kChromaWorkStride, csrc, cstride, ch, mvx & 7, cmvy & 7);
    }
}

}  // namespace

void ReconstructInter(SliceDecoder &sd) {
    const CurrentMb &mb = sd.mb;
    switch (mb.cls) {
    case kMbP16x8:
        PredictPartition(sd, 0, 0, 4, 2);
        PredictPartition(sd, 0, 2, 4, 2);
        break;
    case kMbP8x16:
        PredictPartition(sd, 0, 0, 2, 4);
        PredictPartition(sd, 2, 0, 2, 4);
        break;
    case kMbP8x8:
    case kMbP8x8Ref0:
        for (int k = 0; k < 4; ++k) {
            const int x = (k & 1) * 2, y = (k >> 1) * 2;
            switch (mb.subType[k]) {
            case 0: PredictPartition(sd, x, y, 2, 2); break;
            case 1:
                PredictPartition(sd, x, y, 2, 1);
                PredictPartition(sd, x, y + 1, 2, 1);
                break;
            case 2:
                PredictPartition(sd, x, y, 1, 2);
                PredictPartition(sd, x + 1, y, 1, 2);
                break;
            default:
                for (int j = 0; j < 4; ++j) PredictPartition(sd, x + (j & 1), y + (j >> 1), 1, 1);
                break;
            }
        }
        break;
    default:  // P_L0_16x16, P_Skip
        PredictPartition(sd, 0, 0, 4, 4);
        break;
    }
    if (mb.cbp & 15) AddLumaResidual(sd);
    AddChromaResidual(sd);
}

}  // namespace tessaly::h264
