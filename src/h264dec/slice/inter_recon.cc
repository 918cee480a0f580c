// Inter macroblocks: motion-compensated prediction of every partition from
// list 0 straight into the picture, then the residual. Reference planes have
// no border: a window that reaches outside the picture is first copied with
// clamped coordinates.
#include <cstring>

#include "h264dec/dsp/kernel_set.h"
#include "h264dec/slice/reconstruct.h"

namespace tessaly::h264 {

namespace {

inline int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Copies the W x H window at (x, y) of a plane into scratch, replicating
// the edge samples for positions outside the plane. Rows that lie wholly
// inside horizontally (the usual case) are one fixed-size copy.
template <int W, int H>
void EdgeExtend(uint8_t *scratch, const uint8_t *plane, ptrdiff_t stride, int planeW, int planeH, int x, int y) {
    // Columns [0, inStart) repeat the left edge, [inEnd, W) the right one.
    const int inStart = Clamp(-x, 0, W);
    const int inEnd = Clamp(planeW - x, inStart, W);
    const bool whole = inStart == 0 && inEnd == W;
    for (int j = 0; j < H; ++j) {
        const uint8_t *line = plane + Clamp(y + j, 0, planeH - 1) * stride;
        uint8_t *out = scratch + j * kMcScratchStride;
        if (whole) {
            std::memcpy(out, line + x, W);
            continue;
        }
        std::memset(out, line[0], size_t(inStart));
        if (inEnd > inStart) std::memcpy(out + inStart, line + x + inStart, size_t(inEnd - inStart));
        std::memset(out + inEnd, line[planeW - 1], size_t(W - inEnd));
    }
}

// W4 x H4 4x4 blocks at (x4, y4) of the macroblock at (mbX, mbY), moved by
// (mvx, mvy) in r; the shape is a template argument so that the kernel
// choice and the window sizes fold to constants.
template <int W4, int H4>
void PredictBlock(SliceDecoder &sd, const MbPlanes &out, int mbX, int mbY, int x4, int y4, const RefPicture &r, int mvx,
                  int mvy) {
    const SliceParams &p = *sd.p;
    const KernelSet &ks = *sd.ks;
    if (!r.y || !r.u || !r.v) return;
    const int planeW = p.widthMbs * 16, planeH = p.heightMbs * 16;

    // Luma: fractional positions read 2 samples before and 3 after the
    // block, full-sample ones (a plain copy) just the block.
    constexpr int bw = W4 * 4, bh = H4 * 4;
    const int lx = mbX * 16 + x4 * 4 + (mvx >> 2);
    const int ly = mbY * 16 + y4 * 4 + (mvy >> 2);
    const int frac = (mvx & 3) + 4 * (mvy & 3);
    const int before = frac ? 2 : 0, after = frac ? 3 : 0;
    const uint8_t *src;
    ptrdiff_t srcStride;
    if (lx >= before && ly >= before && lx + bw + after <= planeW && ly + bh + after <= planeH) {
        src = r.y + ptrdiff_t(ly) * r.lumaStride + lx;
        srcStride = r.lumaStride;
    } else {
        EdgeExtend<bw + 5, bh + 5>(sd.mcScratch, r.y, r.lumaStride, planeW, planeH, lx - 2, ly - 2);
        src = sd.mcScratch + 2 * kMcScratchStride + 2;
        srcStride = kMcScratchStride;
    }
    constexpr int widthIdx = bw == 16 ? 0 : (bw == 8 ? 1 : 2);
    const ptrdiff_t ls = out.lumaStride;
    ks.lumaMc[widthIdx][frac](out.y + y4 * 4 * ls + x4 * 4, ls, src, srcStride, bh);

    // Chroma: eighth-sample vectors; between fields of opposite parity the
    // vertical vector is shifted by a quarter chroma sample.
    int cmvy = mvy;
    if (p.fieldPic) {
        if (r.bottomField && !p.bottomField) cmvy -= 2;
        if (!r.bottomField && p.bottomField) cmvy += 2;
    }
    constexpr int cw = bw >> 1, ch = bh >> 1;
    const int cx = mbX * 8 + x4 * 2 + (mvx >> 3);
    const int cy = mbY * 8 + y4 * 2 + (cmvy >> 3);
    const int chromaW = planeW >> 1, chromaH = planeH >> 1;
    constexpr int chromaIdx = cw == 8 ? 0 : (cw == 4 ? 1 : 2);
    const int fx = mvx & 7, fy = cmvy & 7;
    // A full-sample block of 4 or 8 is a copy of exactly its samples.
    const bool copy = (fx | fy) == 0 && cw >= 4;
    const int extra = copy ? 0 : 1;
    const bool inside = cx >= 0 && cy >= 0 && cx + cw + extra <= chromaW && cy + ch + extra <= chromaH;
    const ptrdiff_t cs = out.chromaStride;
    if (copy && inside) {
        // The common still block: both planes inline, cheaper than two calls.
        const ptrdiff_t rs = r.chromaStride, at = ptrdiff_t(cy) * rs + cx;
        const uint8_t *su = r.u + at, *sv = r.v + at;
        uint8_t *du = out.u + y4 * 2 * cs + x4 * 2, *dv = out.v + y4 * 2 * cs + x4 * 2;
        for (int j = 0; j < ch; ++j) {
            std::memcpy(du + j * cs, su + j * rs, cw);
            std::memcpy(dv + j * cs, sv + j * rs, cw);
        }
        return;
    }
    const uint8_t *planes[2] = {r.u, r.v};
    uint8_t *dsts[2] = {out.u, out.v};
    for (int k = 0; k < 2; ++k) {
        const uint8_t *csrc;
        ptrdiff_t cstride;
        if (inside) {
            csrc = planes[k] + ptrdiff_t(cy) * r.chromaStride + cx;
            cstride = r.chromaStride;
        } else {
            EdgeExtend<cw + 1, ch + 1>(sd.mcScratch, planes[k], r.chromaStride, chromaW, chromaH, cx, cy);
            csrc = sd.mcScratch;
            cstride = kMcScratchStride;
        }
        uint8_t *cdst = dsts[k] + y4 * 2 * cs + x4 * 2;
        if (copy)
            ks.copy[chromaIdx + 1](cdst, cs, csrc, cstride, ch);
        else
            ks.chromaMc[chromaIdx](cdst, cs, csrc, cstride, ch, fx, fy);
    }
}

// A partition of the current macroblock, with its motion from the cache.
template <int W4, int H4>
void PredictPartition(SliceDecoder &sd, const MbPlanes &out, int x4, int y4) {
    const int idx = Cache(x4, y4);
    PredictBlock<W4, H4>(sd, out, sd.mbX, sd.mbY, x4, y4, sd.p->Ref(sd.cache.ref[idx]), sd.cache.mv[idx][0],
                         sd.cache.mv[idx][1]);
}

}  // namespace

void PredictSkipped(SliceDecoder &sd, const SkippedMb &mb) {
    const SliceParams &p = *sd.p;
    PredictBlock<4, 4>(sd, MbPlanesAt(p, mb.mbX, mb.mbY), mb.mbX, mb.mbY, 0, 0, p.Ref(0), mb.mvx, mb.mvy);
}

void ReconstructInter(SliceDecoder &sd, const MbPlanes &out) {
    const CurrentMb &mb = sd.mb;
    switch (mb.cls) {
    case kMbP16x8:
        PredictPartition<4, 2>(sd, out, 0, 0);
        PredictPartition<4, 2>(sd, out, 0, 2);
        break;
    case kMbP8x16:
        PredictPartition<2, 4>(sd, out, 0, 0);
        PredictPartition<2, 4>(sd, out, 2, 0);
        break;
    case kMbP8x8:
    case kMbP8x8Ref0:
        for (int k = 0; k < 4; ++k) {
            const int x = (k & 1) * 2, y = (k >> 1) * 2;
            switch (mb.subType[k]) {
            case 0: PredictPartition<2, 2>(sd, out, x, y); break;
            case 1:
                PredictPartition<2, 1>(sd, out, x, y);
                PredictPartition<2, 1>(sd, out, x, y + 1);
                break;
            case 2:
                PredictPartition<1, 2>(sd, out, x, y);
                PredictPartition<1, 2>(sd, out, x + 1, y);
                break;
            default:
                for (int j = 0; j < 4; ++j) PredictPartition<1, 1>(sd, out, x + (j & 1), y + (j >> 1));
                break;
            }
        }
        break;
    default:  // P_L0_16x16, P_Skip
        PredictPartition<4, 4>(sd, out, 0, 0);
        break;
    }
    if (mb.cbp & 15) AddLumaResidual(sd, out.y, out.lumaStride);
    if (mb.cbp & 0x30) AddChromaResidual(sd, out.u, out.v, out.chromaStride);
}

}  // namespace tessaly::h264
