// Deblocking edge filters (bS 1..3 and bS 4, luma and chroma, both edge
// orientations).
#include <cstdlib>

#include "h264dec/dsp/kernels_c.h"

namespace tessaly::h264 {
namespace {

inline int Clip3(int lo, int hi, int v) { return v < lo ? lo : (v > hi ? hi : v); }

// across: distance between p0 and q0's neighbours (1 for a vertical edge,
// stride for a horizontal one); along: distance between successive lines.
template <bool kVerticalEdge>
struct Geometry {
    ptrdiff_t across, along;
    explicit Geometry(ptrdiff_t stride) : across(kVerticalEdge ? 1 : stride), along(kVerticalEdge ? stride : 1) {}
};

template <bool kVerticalEdge>
void LumaNormal(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
    const Geometry<kVerticalEdge> g(stride);
    for (int seg = 0; seg < 4; seg++) {
        const int tc0s = tc0[seg];
        if (tc0s < 0) continue;
        for (int line = 0; line < 4; line++) {
            uint8_t *q = pix + (4 * seg + line) * g.along;
            const int p0 = q[-g.across], p1 = q[-2 * g.across], p2 = q[-3 * g.across];
            const int q0 = q[0], q1 = q[g.across], q2 = q[2 * g.across];
            if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta) continue;
            const bool filterP1 = std::abs(p2 - p0) < beta, filterQ1 = std::abs(q2 - q0) < beta;
            const int tc = tc0s + filterP1 + filterQ1;
            const int delta = Clip3(-tc, tc, (((q0 - p0) * 4) + (p1 - q1) + 4) >> 3);
            const int avg = (p0 + q0 + 1) >> 1;
            if (filterP1) q[-2 * g.across] = static_cast<uint8_t>(p1 + Clip3(-tc0s, tc0s, (p2 + avg - 2 * p1) >> 1));
            if (filterQ1) q[g.across] = static_cast<uint8_t>(q1 + Clip3(-tc0s, tc0s, (q2 + avg - 2 * q1) >> 1));
            q[-g.across] = ClipPixel(p0 + delta);
            q[0] = ClipPixel(q0 - delta);
        }
    }
}

template <bool kVerticalEdge>
void LumaStrong(uint8_t *pix, ptrdiff_t stride, int alpha, int beta) {
    const Geometry<kVerticalEdge> g(stride);
    const int strongLimit = (alpha >> 2) + 2;
    for (int line = 0; line < 16; line++) {
        uint8_t *q = pix + line * g.along;
        const int p0 = q[-g.across], p1 = q[-2 * g.across], p2 = q[-3 * g.across], p3 = q[-4 * g.across];
        const int q0 = q[0], q1 = q[g.across], q2 = q[2 * g.across], q3 = q[3 * g.across];
        if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta) continue;
        const bool smallStep = std::abs(p0 - q0) < strongLimit;
        if (smallStep && std::abs(p2 - p0) < beta) {
            q[-g.across] = static_cast<uint8_t>((p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3);
            q[-2 * g.across] = static_cast<uint8_t>((p2 + p1 + p0 + q0 + 2) >> 2);
            q[-3 * g.across] = static_cast<uint8_t>((2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3);
        } else {
            q[-g.across] = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
        }
        if (smallStep && std::abs(q2 - q0) < beta) {
            q[0] = static_cast<uint8_t>((p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3);
            q[g.across] = static_cast<uint8_t>((p0 + q0 + q1 + q2 + 2) >> 2);
            q[2 * g.across] = static_cast<uint8_t>((2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3);
        } else {
            q[0] = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
        }
    }
}

template <bool kVerticalEdge>
void ChromaNormal(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
    const Geometry<kVerticalEdge> g(stride);
    for (int seg = 0; seg < 4; seg++) {
        if (tc0[seg] < 0) continue;
        const int tc = tc0[seg] + 1;
        for (int line = 0; line < 2; line++) {
            uint8_t *q = pix + (2 * seg + line) * g.along;
            const int p0 = q[-g.across], p1 = q[-2 * g.across], q0 = q[0], q1 = q[g.across];
            if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta) continue;
            const int delta = Clip3(-tc, tc, (((q0 - p0) * 4) + (p1 - q1) + 4) >> 3);
            q[-g.across] = ClipPixel(p0 + delta);
            q[0] = ClipPixel(q0 - delta);
        }
    }
}

template <bool kVerticalEdge>
void ChromaStrong(uint8_t *pix, ptrdiff_t stride, int alpha, int beta) {
    const Geometry<kVerticalEdge> g(stride);
    for (int line = 0; line < 8; line++) {
        uint8_t *q = pix + line * g.along;
        const int p0 = q[-g.across], p1 = q[-2 * g.across], q0 = q[0], q1 = q[g.across];
        if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta) continue;
        q[-g.across] = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
        q[0] = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
    }
}

// The chroma edge sets from the per-edge filters; edge e lies 4e samples
// from the macroblock's edge (columns for V, rows for H).
template <bool kVerticalEdge>
void ChromaEdges(uint8_t *cb, uint8_t *cr, ptrdiff_t stride, const ChromaEdgeSet &s) {
    uint8_t *const planes[2] = {cb, cr};
    for (int e = 0; e < 2; e++) {
        for (int c = 0; c < 2; c++) {
            uint8_t *pix = planes[c] + 4 * e * (kVerticalEdge ? 1 : stride);
            if (s.strong[e])
                ChromaStrong<kVerticalEdge>(pix, stride, s.alpha[e][c], s.beta[e][c]);
            else
                ChromaNormal<kVerticalEdge>(pix, stride, s.alpha[e][c], s.beta[e][c], s.tc0[e][c]);
        }
    }
}

}  // namespace

void InstallDeblockC(KernelSet &ks) {
    ks.lumaEdgeV = LumaNormal<true>;
    ks.lumaEdgeH = LumaNormal<false>;
    ks.lumaEdgeVStrong = LumaStrong<true>;
    ks.lumaEdgeHStrong = LumaStrong<false>;
    ks.chromaEdgeV = ChromaNormal<true>;
    ks.chromaEdgeH = ChromaNormal<false>;
    ks.chromaEdgeVStrong = ChromaStrong<true>;
    ks.chromaEdgeHStrong = ChromaStrong<false>;
    ks.chromaEdgesV = ChromaEdges<true>;
    ks.chromaEdgesH = ChromaEdges<false>;
}

}  // namespace tessaly::h264
