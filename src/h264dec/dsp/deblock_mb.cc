// Per-macroblock deblocking: picks thresholds from the QPs and offsets and
// runs the edge kernels in the standard's order.
#include "h264dec/dsp/deblock_mb.h"

#include <bit>
#include <cstring>

#include "h264dec/dsp/kernel_set.h"
#include "h264dec/tables/tables.h"

namespace tessaly::h264 {
namespace {

inline int ClipIndex(int v) { return v < 0 ? 0 : (v > 51 ? 51 : v); }

// tC0 by bS of each indexA: -1 (no filtering) for bS 0, and bS 4 on a mixed
// edge is filtered as bS 3; entries 5..7 only make the lookup safe without
// a clamp.
struct TcByBsTable {
    int8_t byIndexA[52][8];
};

TcByBsTable BuildTcByBs() {
    TcByBsTable t{};
    for (int i = 0; i < 52; i++) {
        t.byIndexA[i][0] = -1;
        for (int bs = 1; bs < 8; bs++) t.byIndexA[i][bs] = static_cast<int8_t>(kDeblockTc0[i][bs < 3 ? bs - 1 : 2]);
    }
    return t;
}

const TcByBsTable kTcByBs = BuildTcByBs();

// Thresholds of one average QP.
struct EdgeParams {
    int alpha, beta;
    const int8_t *tcByBs;
    bool Off() const { return alpha == 0 || beta == 0; }  // no sample can pass
};

EdgeParams ParamsFor(int qpAv, const DeblockMb &mb) {
    const int indexA = ClipIndex(qpAv + mb.filterOffsetA);
    return {kDeblockAlpha[indexA], kDeblockBeta[ClipIndex(qpAv + mb.filterOffsetB)], kTcByBs.byIndexA[indexA]};
}

// An edge's four segment strengths as one word (segment k in byte k). The
// caller stores them with wide stores, so the single wide load the compiler
// makes of this is forwarded.
inline uint32_t EdgeWord(const uint8_t bs[4]) {
    return uint32_t(bs[0]) | uint32_t(bs[1]) << 8 | uint32_t(bs[2]) << 16 | uint32_t(bs[3]) << 24;
}
inline int BsOf(uint32_t w, int k) { return (w >> (8 * k)) & 7; }
constexpr uint32_t kAllStrong = 0x04040404u;  // bS is 0..4

// Assembled in a register and stored at once: the vector kernels load all
// four as one word, which a store of single bytes could not forward.
inline void SegmentTc0(uint32_t w, const EdgeParams &p, int8_t tc0[4]) {
    uint32_t packed = 0;
    for (int k = 0; k < 4; k++) packed |= uint32_t(uint8_t(p.tcByBs[BsOf(w, k)])) << (8 * k);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(tc0, &packed, sizeof packed);
    } else {
        for (int k = 0; k < 4; k++) tc0[k] = int8_t(packed >> (8 * k));
    }
}

// Filters one luma edge with bS word w (not 0).
inline void FilterLumaEdge(EdgeFilterFn normal, EdgeFilterStrongFn strong, uint8_t *pix, ptrdiff_t stride, uint32_t w,
                           const EdgeParams &p) {
    if (p.Off()) return;
    if (w == kAllStrong) {
        strong(pix, stride, p.alpha, p.beta);
        return;
    }
    int8_t tc0[4];
    SegmentTc0(w, p, tc0);
    normal(pix, stride, p.alpha, p.beta, tc0);
}

// Thresholds of Cb and Cr for one neighbour. Usually both planes have the
// same QPs (equal chroma offsets) and cr points at cb's: no copy, and no
// second lookup.
struct ChromaThresholds {
    EdgeParams cb, crOwn;
    const EdgeParams *cr;
};

// For the average of the macroblock's QPC and the neighbour's (the
// macroblock's own for its inner edge).
void ChromaParams(const DeblockMb &mb, const uint8_t (&neighbour)[2], ChromaThresholds &t) {
    t.cb = ParamsFor((mb.chromaQp[0] + neighbour[0] + 1) >> 1, mb);
    t.cr = &t.cb;
    if (mb.chromaQp[1] != mb.chromaQp[0] || neighbour[1] != neighbour[0]) {
        t.crOwn = ParamsFor((mb.chromaQp[1] + neighbour[1] + 1) >> 1, mb);
        t.cr = &t.crOwn;
    }
}

// Edge e (0: macroblock edge, 1: inner) of a chroma edge set, both planes;
// t is not read when w is 0.
inline void SetChromaEdge(ChromaEdgeSet &s, int e, uint32_t w, const ChromaThresholds &t) {
    s.strong[e] = w == kAllStrong;
    if (!w) {
        std::memset(s.tc0[e], -1, sizeof s.tc0[e]);
        std::memset(s.alpha[e], 0, sizeof s.alpha[e]);
        std::memset(s.beta[e], 0, sizeof s.beta[e]);
        return;
    }
    s.alpha[e][0] = uint8_t(t.cb.alpha);
    s.beta[e][0] = uint8_t(t.cb.beta);
    s.alpha[e][1] = uint8_t(t.cr->alpha);
    s.beta[e][1] = uint8_t(t.cr->beta);
    // Assembled in a register and stored at once: the kernels load all 8 as
    // one word, which a store of single bytes could not forward.
    const bool shared = t.cr == &t.cb;
    uint64_t packed = 0;
    for (int k = 0; k < 4; k++) {
        const int bs = BsOf(w, k);
        const uint8_t cb = uint8_t(t.cb.tcByBs[bs]), cr = shared ? cb : uint8_t(t.cr->tcByBs[bs]);
        packed |= uint64_t(cb) << (8 * k) | uint64_t(cr) << (8 * k + 32);
    }
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(s.tc0[e], &packed, sizeof packed);
    } else {
        for (int k = 0; k < 8; k++) s.tc0[e][k >> 2][k & 3] = int8_t(packed >> (8 * k));
    }
}

// Fills the set of one direction (edge 0 with the neighbour's thresholds)
// and filters it.
void FilterChroma(ChromaEdgesFn fn, const DeblockMb &mb, uint32_t edge0, uint32_t edge2, const uint8_t (&neighbour)[2],
                  const ChromaThresholds &own) {
    ChromaEdgeSet set;
    ChromaThresholds other;
    const bool sameQp = neighbour[0] == mb.chromaQp[0] && neighbour[1] == mb.chromaQp[1];
    if (edge0 && !sameQp) ChromaParams(mb, neighbour, other);
    SetChromaEdge(set, 0, edge0, sameQp ? own : other);
    SetChromaEdge(set, 1, edge2, own);
    fn(mb.cb, mb.cr, mb.chromaStride, set);
}

}  // namespace

void DeblockMbFilter(const KernelSet &ks, const DeblockMb &mb) {
    uint32_t v[4], h[4];
    for (int e = 0; e < 4; e++) {
        v[e] = EdgeWord(mb.bsV[e]);
        h[e] = EdgeWord(mb.bsH[e]);
    }
    if (!mb.filterLeftEdge) v[0] = 0;
    if (!mb.filterTopEdge) h[0] = 0;
    if (mb.transform8x8) v[1] = v[3] = h[1] = h[3] = 0;  // inside 8x8 transforms; chroma has no such edges
    // Most macroblocks of a P picture have no edge with bS > 0.
    if (!(v[0] | v[1] | v[2] | v[3] | h[0] | h[1] | h[2] | h[3])) return;

    const ptrdiff_t ls = mb.lumaStride;
    // Luma: vertical edges left to right, then horizontal edges top to bottom.
    // Neighbours usually share the macroblock's QP: no second lookup then.
    const EdgeParams inner = ParamsFor(mb.qp, mb);
    if (v[0])
        FilterLumaEdge(ks.lumaEdgeV, ks.lumaEdgeVStrong, mb.luma, ls, v[0],
                       mb.qpLeft == mb.qp ? inner : ParamsFor((mb.qp + mb.qpLeft + 1) >> 1, mb));
    for (int e = 1; e < 4; e++)
        if (v[e]) FilterLumaEdge(ks.lumaEdgeV, ks.lumaEdgeVStrong, mb.luma + 4 * e, ls, v[e], inner);
    if (h[0])
        FilterLumaEdge(ks.lumaEdgeH, ks.lumaEdgeHStrong, mb.luma, ls, h[0],
                       mb.qpTop == mb.qp ? inner : ParamsFor((mb.qp + mb.qpTop + 1) >> 1, mb));
    for (int e = 1; e < 4; e++)
        if (h[e]) FilterLumaEdge(ks.lumaEdgeH, ks.lumaEdgeHStrong, mb.luma + 4 * e * ls, ls, h[e], inner);

    // Chroma (4:2:0): edges 0 and 2 of the luma grid, chroma transforms are
    // always 4x4 so the inner edge is filtered whatever the luma transform.
    if (!(v[0] | v[2] | h[0] | h[2])) return;
    ChromaThresholds own;
    ChromaParams(mb, mb.chromaQp, own);
    if (v[0] | v[2]) FilterChroma(ks.chromaEdgesV, mb, v[0], v[2], mb.chromaQpLeft, own);
    if (h[0] | h[2]) FilterChroma(ks.chromaEdgesH, mb, h[0], h[2], mb.chromaQpTop, own);
}

}  // namespace tessaly::h264
