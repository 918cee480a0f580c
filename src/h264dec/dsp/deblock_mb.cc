// Per-macroblock deblocking: picks thresholds from the QPs and offsets and
// runs the edge kernels in the standard's order.
#include "h264dec/dsp/deblock_mb.h"

#include "h264dec/dsp/kernel_set.h"
#include "h264dec/tables/tables.h"

namespace tessaly::h264 {
namespace {

inline int ClipIndex(int v) { return v < 0 ? 0 : (v > 51 ? 51 : v); }

// Thresholds of one average QP: alpha, beta and tC0 by bS (index 0: bS 0,
// no filtering, -1; index 4: bS 4 on a mixed edge, filtered as bS 3; 5..7
// only make the lookup safe without a clamp).
struct EdgeParams {
    int alpha, beta;
    int8_t tcByBs[8];
    bool Off() const { return alpha == 0 || beta == 0; }  // no sample can pass
};

EdgeParams ParamsFor(int qpAv, const DeblockMb &mb) {
    const int indexA = ClipIndex(qpAv + mb.filterOffsetA);
    const uint8_t *tc = kDeblockTc0[indexA];
    return {kDeblockAlpha[indexA], kDeblockBeta[ClipIndex(qpAv + mb.filterOffsetB)],
            {-1, static_cast<int8_t>(tc[0]), static_cast<int8_t>(tc[1]), static_cast<int8_t>(tc[2]), static_cast<int8_t>(tc[2]),
             static_cast<int8_t>(tc[2]), static_cast<int8_t>(tc[2]), static_cast<int8_t>(tc[2])}};
}

// The strengths are read byte by byte: the caller has just stored them as
// bytes, and a wider load would wait for those stores to reach the cache.
inline int BsAny(const uint8_t bs[4]) { return bs[0] | bs[1] | bs[2] | bs[3]; }
inline bool BsAllStrong(const uint8_t bs[4]) { return (bs[0] & bs[1] & bs[2] & bs[3]) == 4; }  // bS is 0..4

// Filters one edge given its four segment strengths.
inline void FilterEdge(EdgeFilterFn normal, EdgeFilterStrongFn strong, uint8_t *pix, ptrdiff_t stride,
                       const uint8_t bs[4], const EdgeParams &p) {
    if (BsAny(bs) == 0 || p.Off()) return;
    if (BsAllStrong(bs)) {
        strong(pix, stride, p.alpha, p.beta);
        return;
    }
    const int8_t tc0[4] = {p.tcByBs[bs[0] & 7], p.tcByBs[bs[1] & 7], p.tcByBs[bs[2] & 7], p.tcByBs[bs[3] & 7]};
    normal(pix, stride, p.alpha, p.beta, tc0);
}

}  // namespace

void DeblockMb_Filter(const KernelSet &ks, const DeblockMb &mb) {
    // Most macroblocks of a P picture have few edges with bS > 0: find them
    // first and derive thresholds only for the QPs that are used.
    const bool left = mb.filterLeftEdge && BsAny(mb.bsV[0]), top = mb.filterTopEdge && BsAny(mb.bsH[0]);
    const bool innerV2 = BsAny(mb.bsV[2]), innerH2 = BsAny(mb.bsH[2]);
    const bool lumaOdd = !mb.transform8x8 && (BsAny(mb.bsV[1]) | BsAny(mb.bsV[3]) | BsAny(mb.bsH[1]) | BsAny(mb.bsH[3]));
    if (!(left || top || innerV2 || innerH2 || lumaOdd)) return;

    const ptrdiff_t ls = mb.lumaStride, cs = mb.chromaStride;
    // Luma: vertical edges left to right, then horizontal edges top to bottom.
    {
        const EdgeParams inner = ParamsFor(mb.qp, mb);
        const int step = mb.transform8x8 ? 2 : 1;  // 8x8 transforms have no edges 1 and 3
        if (left) FilterEdge(ks.lumaEdgeV, ks.lumaEdgeVStrong, mb.luma, ls, mb.bsV[0], ParamsFor((mb.qp + mb.qpLeft + 1) >> 1, mb));
        for (int e = step; e < 4; e += step) FilterEdge(ks.lumaEdgeV, ks.lumaEdgeVStrong, mb.luma + 4 * e, ls, mb.bsV[e], inner);
        if (top) FilterEdge(ks.lumaEdgeH, ks.lumaEdgeHStrong, mb.luma, ls, mb.bsH[0], ParamsFor((mb.qp + mb.qpTop + 1) >> 1, mb));
        for (int e = step; e < 4; e += step) FilterEdge(ks.lumaEdgeH, ks.lumaEdgeHStrong, mb.luma + 4 * e * ls, ls, mb.bsH[e], inner);
    }

    // Chroma (4:2:0): edges 0 and 2 of the luma grid, chroma transforms are
    // always 4x4 so the inner edge is filtered whatever the luma transform.
    if (!(left || top || innerV2 || innerH2)) return;
    uint8_t *const planes[2] = {mb.cb, mb.cr};
    EdgeParams inner{}, leftP{}, topP{};
    for (int c = 0; c < 2; c++) {
        const int qp = mb.chromaQp[c];
        // Cb and Cr usually share their QPs (equal chroma offsets): reuse.
        const bool same = c == 1 && qp == mb.chromaQp[0] && mb.chromaQpLeft[1] == mb.chromaQpLeft[0] &&
                          mb.chromaQpTop[1] == mb.chromaQpTop[0];
        if (!same) {
            inner = ParamsFor(qp, mb);
            if (left) leftP = ParamsFor((qp + mb.chromaQpLeft[c] + 1) >> 1, mb);
            if (top) topP = ParamsFor((qp + mb.chromaQpTop[c] + 1) >> 1, mb);
        }
        uint8_t *plane = planes[c];
        if (left) FilterEdge(ks.chromaEdgeV, ks.chromaEdgeVStrong, plane, cs, mb.bsV[0], leftP);
        if (innerV2) FilterEdge(ks.chromaEdgeV, ks.chromaEdgeVStrong, plane + 4, cs, mb.bsV[2], inner);
        if (top) FilterEdge(ks.chromaEdgeH, ks.chromaEdgeHStrong, plane, cs, mb.bsH[0], topP);
        if (innerH2) FilterEdge(ks.chromaEdgeH, ks.chromaEdgeHStrong, plane + 4 * cs, cs, mb.bsH[2], inner);
    }
}

}  // namespace tessaly::h264
