// Deblocking edge filters with SSE2.
//
// Every line of an edge is filtered in its own lane: a horizontal edge loads
// the rows p3..q3 directly; a vertical edge transposes its 16 rows (luma, or
// 8 of Cb and 8 of Cr) into that layout, runs the same core, and transposes
// back.
// The filter arithmetic is deblock_simd.h's, two halves of 8 lanes at a time.
#include <emmintrin.h>

#include "h264dec/dsp/deblock_simd.h"
#include "h264dec/dsp/deblock_transpose.h"
#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

// 16 lines as bytes: rows[k] holds p3, p2, p1, p0, q0, q1, q2, q3 for k = 0..7;
// each half of the lines is filtered in its own set of 16-bit registers.
template <bool kStrong>
inline void LumaFilter16(__m128i (&rows)[8], int alpha, int beta, const int8_t *tc0) {
    const __m128i va = _mm_set1_epi16(static_cast<int16_t>(alpha)), vb = _mm_set1_epi16(static_cast<int16_t>(beta));
    const __m128i zero = _mm_setzero_si128();
    __m128i w[2][8];
    for (int half = 0; half < 2; half++) {
        // Outwards from the edge, p and q alternating: the order the cores
        // first need them in, which keeps the register allocation tight.
        for (int i = 0; i < 4; i++) {
            w[half][3 - i] = half ? _mm_unpackhi_epi8(rows[3 - i], zero) : _mm_unpacklo_epi8(rows[3 - i], zero);
            w[half][4 + i] = half ? _mm_unpackhi_epi8(rows[4 + i], zero) : _mm_unpacklo_epi8(rows[4 + i], zero);
        }
        if constexpr (kStrong) {
            LumaStrongCore<Vec128>(w[half], va, vb);
        } else {
            const int16_t t0 = tc0[2 * half], t1 = tc0[2 * half + 1];
            LumaNormalCore<Vec128>(w[half], va, vb, _mm_set_epi16(t1, t1, t1, t1, t0, t0, t0, t0));
        }
    }
    for (int i = 0; i < 3; i++) {
        rows[3 - i] = _mm_packus_epi16(w[0][3 - i], w[1][3 - i]);
        rows[4 + i] = _mm_packus_epi16(w[0][4 + i], w[1][4 + i]);
    }
}

template <bool kStrong>
void LumaH(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t *tc0) {
    __m128i rows[8];
    for (int k = 0; k < 8; k++) rows[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pix + (k - 4) * stride));
    LumaFilter16<kStrong>(rows, alpha, beta, tc0);
    for (int k = 1; k < 7; k++) _mm_storeu_si128(reinterpret_cast<__m128i *>(pix + (k - 4) * stride), rows[k]);
}

// The vertical edge rewrites p3 and q3 with their own values.
template <bool kStrong>
void LumaV(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t *tc0) {
    __m128i cols[8];
    LoadTransposed16x8(pix - 4, pix - 4 + 8 * stride, stride, cols);
    LumaFilter16<kStrong>(cols, alpha, beta, tc0);
    StoreTransposed8x16(pix - 4, pix - 4 + 8 * stride, stride, cols);
}

void LumaEdgeHSse2(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
    if (LumaEdgeSkipped(tc0)) return;
    LumaH<false>(pix, stride, alpha, beta, tc0);
}
void LumaEdgeVSse2(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
    if (LumaEdgeSkipped(tc0)) return;
    LumaV<false>(pix, stride, alpha, beta, tc0);
}
void LumaEdgeHStrongSse2(uint8_t *pix, ptrdiff_t stride, int alpha, int beta) {
    LumaH<true>(pix, stride, alpha, beta, nullptr);
}
void LumaEdgeVStrongSse2(uint8_t *pix, ptrdiff_t stride, int alpha, int beta) {
    LumaV<true>(pix, stride, alpha, beta, nullptr);
}

// One plane's 8 lines of a chroma edge. The mask and tC0 are built here,
// inside the caller's branch, tC0 last: fewer live registers, no spills.
template <bool kStrong>
inline void ChromaCore(__m128i p1, __m128i &p0, __m128i &q0, __m128i q1, int alpha, int beta, const int8_t *tc0) {
    const __m128i mask = EdgeMask<Vec128>(p1, p0, q0, q1, _mm_set1_epi16(static_cast<int16_t>(alpha)),
                                          _mm_set1_epi16(static_cast<int16_t>(beta)));
    if constexpr (kStrong) {
        ChromaStrongCore<Vec128>(p1, p0, q0, q1, mask);
    } else {
        const int16_t t0 = tc0[0], t1 = tc0[1], t2 = tc0[2], t3 = tc0[3];  // segment k: lines 2k, 2k + 1
        ChromaNormalCore<Vec128>(p1, p0, q0, q1, mask, _mm_set_epi16(t3, t3, t2, t2, t1, t1, t0, t0));
    }
}

// A chroma edge over 16 lines (Cb, then Cr), one plane per half: r[i] =
// p1, p0, q0, q1; p0 and q0 are updated.
void ChromaFilter16(__m128i *r, const ChromaEdgeSet &s, int e) {
    const __m128i zero = _mm_setzero_si128();
    __m128i p0[2], q0[2];
    for (int c = 0; c < 2; c++) {
        const __m128i p1 = c ? _mm_unpackhi_epi8(r[0], zero) : _mm_unpacklo_epi8(r[0], zero);
        const __m128i q1 = c ? _mm_unpackhi_epi8(r[3], zero) : _mm_unpacklo_epi8(r[3], zero);
        p0[c] = c ? _mm_unpackhi_epi8(r[1], zero) : _mm_unpacklo_epi8(r[1], zero);
        q0[c] = c ? _mm_unpackhi_epi8(r[2], zero) : _mm_unpacklo_epi8(r[2], zero);
        if (s.strong[e])
            ChromaCore<true>(p1, p0[c], q0[c], q1, s.alpha[e][c], s.beta[e][c], nullptr);
        else
            ChromaCore<false>(p1, p0[c], q0[c], q1, s.alpha[e][c], s.beta[e][c], s.tc0[e][c]);
    }
    r[1] = _mm_packus_epi16(p0[0], p0[1]);
    r[2] = _mm_packus_epi16(q0[0], q0[1]);
}

// Filters the live edges of the window (see ChromaWindowStart).
void ChromaFilterWindow(__m128i (&x)[8], const ChromaEdgeSet &s, int start) {
    for (int e = 0; e < 2; e++)
        if (ChromaEdgeLive(s, e)) ChromaFilter16(x + 4 * e - 2 - start, s, e);
}

void ChromaEdgesVSse2(uint8_t *cb, uint8_t *cr, ptrdiff_t stride, const ChromaEdgeSet &s) {
    const int start = ChromaWindowStart(s);
    __m128i x[8];
    LoadTransposed16x8(cb + start, cr + start, stride, x);
    ChromaFilterWindow(x, s, start);
    StoreTransposed8x16(cb + start, cr + start, stride, x);
}

void ChromaEdgesHSse2(uint8_t *cb, uint8_t *cr, ptrdiff_t stride, const ChromaEdgeSet &s) {
    const int start = ChromaWindowStart(s);
    __m128i x[8];
    LoadChromaRows(cb, cr, stride, start, x);
    ChromaFilterWindow(x, s, start);
    for (int e = 0; e < 2; e++)
        if (ChromaEdgeLive(s, e)) StoreChromaRowPair(cb, cr, stride, start, 4 * e - 1 - start, x);
}

}  // namespace

void InstallDeblockSse2(KernelSet &ks) {
    ks.lumaEdgeV = LumaEdgeVSse2;
    ks.lumaEdgeH = LumaEdgeHSse2;
    ks.lumaEdgeVStrong = LumaEdgeVStrongSse2;
    ks.lumaEdgeHStrong = LumaEdgeHStrongSse2;
    ks.chromaEdgesV = ChromaEdgesVSse2;
    ks.chromaEdgesH = ChromaEdgesHSse2;
}

}  // namespace tessaly::h264
