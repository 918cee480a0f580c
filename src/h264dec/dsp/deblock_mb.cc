// Per-macroblock deblocking: picks thresholds from the QPs and offsets and
// runs the edge kernels in the standard's order.
#include "h264dec/dsp/deblock_mb.h"

#include <cstring>

#include "h264dec/dsp/kernel_set.h"
#include "h264dec/tables/tables.h"

namespace tessaly::h264 {
namespace {

inline int ClipIndex(int v) { return v < 0 ? 0 : (v > 51 ? 51 : v); }

// Thresholds of one average QP: alpha, beta and tC0 by bS (index 0: bS 0,
// no filtering, -1; index 4: bS 4 on a mixed edge, filtered as bS 3).
struct EdgeParams {
    int alpha, beta;
    int8_t tcByBs[5];
    bool Off() const { return alpha == 0 || beta == 0; }  // no sample can pass
};

EdgeParams ParamsFor(int qpAv, const DeblockMb &mb) {
    const int indexA = ClipIndex(qpAv + mb.filterOffsetA);
    const uint8_t *tc = kDeblockTc0[indexA];
    return {kDeblockAlpha[indexA], kDeblockBeta[ClipIndex(qpAv + mb.filterOffsetB)],
            {-1, static_cast<int8_t>(tc[0]), static_cast<int8_t>(tc[1]), static_cast<int8_t>(tc[2]), static_cast<int8_t>(tc[2])}};
}

inline uint32_t BsWord(const uint8_t bs[4]) {
    uint32_t w;
    std::memcpy(&w, bs, 4);
    return w;
}

// Filters one edge given its four segment strengths.
inline void FilterEdge(EdgeFilterFn normal, EdgeFilterStrongFn strong, uint8_t *pix, ptrdiff_t stride,
                       const uint8_t bs[4], const EdgeParams &p) {
    const uint32_t word = BsWord(bs);
    if (word == 0 || p.Off()) return;
    if (word == 0x04040404u) {
        strong(pix, stride, p.alpha, p.beta);
        return;
    }
    auto tc = [&](int k) { return p.tcByBs[bs[k] > 4 ? 4 : bs[k]]; };  // bS is 0..4; the clamp guards the table
    const int8_t tc0[4] = {tc(0), tc(1), tc(2), tc(3)};
    normal(pix, stride, p.alpha, p.beta, tc0);
}

}  // namespace

void DeblockMb_Filter(const KernelSet &ks, const DeblockMb &mb) {
    const uint32_t left = mb.filterLeftEdge ? BsWord(mb.bsV[0]) : 0, top = mb.filterTopEdge ? BsWord(mb.bsH[0]) : 0;
    uint32_t inner = 0;
    for (int e = 1; e < 4; e++) inner |= BsWord(mb.bsV[e]) | BsWord(mb.bsH[e]);
    if ((left | top | inner) == 0) return;

    const ptrdiff_t ls = mb.lumaStride, cs = mb.chromaStride;
    const EdgeParams lumaInner = ParamsFor(mb.qp, mb);
    const EdgeParams lumaLeft = left ? ParamsFor((mb.qp + mb.qpLeft + 1) >> 1, mb) : lumaInner;
    const EdgeParams lumaTop = top ? ParamsFor((mb.qp + mb.qpTop + 1) >> 1, mb) : lumaInner;
    const int innerStep = mb.transform8x8 ? 2 : 1;  // 8x8 transforms have no edges 1 and 3

    // Luma: vertical edges left to right, then horizontal edges top to bottom.
    if (left) FilterEdge(ks.lumaEdgeV, ks.lumaEdgeVStrong, mb.luma, ls, mb.bsV[0], lumaLeft);
    for (int e = innerStep; e < 4; e += innerStep)
        FilterEdge(ks.lumaEdgeV, ks.lumaEdgeVStrong, mb.luma + 4 * e, ls, mb.bsV[e], lumaInner);
    if (top) FilterEdge(ks.lumaEdgeH, ks.lumaEdgeHStrong, mb.luma, ls, mb.bsH[0], lumaTop);
    for (int e = innerStep; e < 4; e += innerStep)
        FilterEdge(ks.lumaEdgeH, ks.lumaEdgeHStrong, mb.luma + 4 * e * ls, ls, mb.bsH[e], lumaInner);

    // Chroma (4:2:0): edges 0 and 2 of the luma grid, chroma transforms are
    // always 4x4 so the inner edge is filtered whatever the luma transform.
    uint8_t *const planes[2] = {mb.cb, mb.cr};
    for (int c = 0; c < 2; c++) {
        uint8_t *plane = planes[c];
        const int qp = mb.chromaQp[c];
        const EdgeParams chromaInner = ParamsFor(qp, mb);
        if (left)
            FilterEdge(ks.chromaEdgeV, ks.chromaEdgeVStrong, plane, cs, mb.bsV[0],
                       ParamsFor((qp + mb.chromaQpLeft[c] + 1) >> 1, mb));
        FilterEdge(ks.chromaEdgeV, ks.chromaEdgeVStrong, plane + 4, cs, mb.bsV[2], chromaInner);
        if (top)
            FilterEdge(ks.chromaEdgeH, ks.chromaEdgeHStrong, plane, cs, mb.bsH[0],
                       ParamsFor((qp + mb.chromaQpTop[c] + 1) >> 1, mb));
        FilterEdge(ks.chromaEdgeH, ks.chromaEdgeHStrong, plane + 4 * cs, cs, mb.bsH[2], chromaInner);
    }
}

}  // namespace tessaly::h264
