// Deblocking edge filters with SSE2.
//
// Every line of an edge is filtered in its own lane: a horizontal edge loads
// the rows p3..q3 directly; a vertical edge transposes its 16 rows (luma, or
// 8 of Cb and 8 of Cr) into that layout, runs the same core, and transposes
// back.
// The arithmetic is done on 16-bit lanes and matches the C kernels exactly.
#include <emmintrin.h>

#include "h264dec/dsp/deblock_transpose.h"
#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

inline __m128i AbsDiff16(__m128i a, __m128i b) { return _mm_max_epi16(_mm_sub_epi16(a, b), _mm_sub_epi16(b, a)); }
inline __m128i Clip16(__m128i v, __m128i lo, __m128i hi) { return _mm_min_epi16(_mm_max_epi16(v, lo), hi); }
inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// 8 lines of a luma edge in 16-bit lanes: p[i], q[i] for i = 0..3.
struct LumaLines {
    __m128i p[4], q[4];
};

// Lines whose samples pass |p0 - q0| < alpha, |p1 - p0| < beta, |q1 - q0| < beta.
inline __m128i EdgeMask(__m128i p1, __m128i p0, __m128i q0, __m128i q1, __m128i alpha, __m128i beta) {
    const __m128i a = _mm_cmplt_epi16(AbsDiff16(p0, q0), alpha);
    const __m128i b = _mm_and_si128(_mm_cmplt_epi16(AbsDiff16(p1, p0), beta), _mm_cmplt_epi16(AbsDiff16(q1, q0), beta));
    return _mm_and_si128(a, b);
}

// bS 1..3 on 8 lines; tc0 holds tC0 per lane, -1 where the segment is skipped.
inline void LumaNormalCore(LumaLines &l, __m128i alpha, __m128i beta, __m128i tc0) {
    const __m128i p0 = l.p[0], p1 = l.p[1], p2 = l.p[2], q0 = l.q[0], q1 = l.q[1], q2 = l.q[2];
    const __m128i zero = _mm_setzero_si128();
    const __m128i mask = _mm_and_si128(EdgeMask(p1, p0, q0, q1, alpha, beta), _mm_cmpgt_epi16(tc0, _mm_set1_epi16(-1)));
    const __m128i ap = _mm_and_si128(mask, _mm_cmplt_epi16(AbsDiff16(p2, p0), beta));
    const __m128i aq = _mm_and_si128(mask, _mm_cmplt_epi16(AbsDiff16(q2, q0), beta));
    const __m128i tc = _mm_sub_epi16(_mm_sub_epi16(tc0, ap), aq);  // masks are -1
    const __m128i raw = _mm_srai_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(q0, p0), 2), _mm_sub_epi16(p1, q1)), _mm_set1_epi16(4)), 3);
    const __m128i delta = _mm_and_si128(mask, Clip16(raw, _mm_sub_epi16(zero, tc), tc));
    const __m128i avg = _mm_avg_epu16(p0, q0);
    const __m128i ntc0 = _mm_sub_epi16(zero, tc0);
    const __m128i dp1 = Clip16(_mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(p2, avg), _mm_slli_epi16(p1, 1)), 1), ntc0, tc0);
    const __m128i dq1 = Clip16(_mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(q2, avg), _mm_slli_epi16(q1, 1)), 1), ntc0, tc0);
    l.p[1] = _mm_add_epi16(p1, _mm_and_si128(ap, dp1));
    l.q[1] = _mm_add_epi16(q1, _mm_and_si128(aq, dq1));
    l.p[0] = _mm_add_epi16(p0, delta);
    l.q[0] = _mm_sub_epi16(q0, delta);
}

// bS 4 on 8 lines.
inline void LumaStrongCore(LumaLines &l, __m128i alpha, __m128i beta) {
    const __m128i p0 = l.p[0], p1 = l.p[1], p2 = l.p[2], p3 = l.p[3];
    const __m128i q0 = l.q[0], q1 = l.q[1], q2 = l.q[2], q3 = l.q[3];
    const __m128i two = _mm_set1_epi16(2), four = _mm_set1_epi16(4);
    const __m128i mask = EdgeMask(p1, p0, q0, q1, alpha, beta);
    const __m128i small = _mm_cmplt_epi16(AbsDiff16(p0, q0), _mm_add_epi16(_mm_srai_epi16(alpha, 2), two));
    const __m128i ap = _mm_and_si128(small, _mm_cmplt_epi16(AbsDiff16(p2, p0), beta));
    const __m128i aq = _mm_and_si128(small, _mm_cmplt_epi16(AbsDiff16(q2, q0), beta));
    const __m128i p0q0 = _mm_add_epi16(p0, q0);
    // p side
    const __m128i sp = _mm_add_epi16(_mm_add_epi16(p1, p0q0), p2);  // p2 + p1 + p0 + q0
    const __m128i p0s = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(sp, _mm_add_epi16(p1, p0q0)), _mm_add_epi16(q1, four)), 3);
    const __m128i p1s = _mm_srli_epi16(_mm_add_epi16(sp, two), 2);
    const __m128i p2s = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(sp, _mm_slli_epi16(_mm_add_epi16(p3, p2), 1)), four), 3);
    const __m128i p0w = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(p1, 1), p0), _mm_add_epi16(q1, two)), 2);
    // q side
    const __m128i sq = _mm_add_epi16(_mm_add_epi16(q1, p0q0), q2);
    const __m128i q0s = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(sq, _mm_add_epi16(q1, p0q0)), _mm_add_epi16(p1, four)), 3);
    const __m128i q1s = _mm_srli_epi16(_mm_add_epi16(sq, two), 2);
    const __m128i q2s = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(sq, _mm_slli_epi16(_mm_add_epi16(q3, q2), 1)), four), 3);
    const __m128i q0w = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(q1, 1), q0), _mm_add_epi16(p1, two)), 2);
    const __m128i mp = _mm_and_si128(mask, ap), mq = _mm_and_si128(mask, aq);
    l.p[0] = Select(mask, Select(ap, p0s, p0w), p0);
    l.p[1] = Select(mp, p1s, p1);
    l.p[2] = Select(mp, p2s, p2);
    l.q[0] = Select(mask, Select(aq, q0s, q0w), q0);
    l.q[1] = Select(mq, q1s, q1);
    l.q[2] = Select(mq, q2s, q2);
}

// 16 lines as bytes: rows[k] holds p3, p2, p1, p0, q0, q1, q2, q3 for k = 0..7.
template <bool kStrong>
inline void LumaFilter16(__m128i (&rows)[8], int alpha, int beta, const int8_t *tc0) {
    const __m128i va = _mm_set1_epi16(static_cast<int16_t>(alpha)), vb = _mm_set1_epi16(static_cast<int16_t>(beta));
    const __m128i zero = _mm_setzero_si128();
    LumaLines l[2];
    for (int half = 0; half < 2; half++) {
        for (int i = 0; i < 4; i++) {
            l[half].p[i] = half ? _mm_unpackhi_epi8(rows[3 - i], zero) : _mm_unpacklo_epi8(rows[3 - i], zero);
            l[half].q[i] = half ? _mm_unpackhi_epi8(rows[4 + i], zero) : _mm_unpacklo_epi8(rows[4 + i], zero);
        }
        if constexpr (kStrong) {
            LumaStrongCore(l[half], va, vb);
        } else {
            const int16_t t0 = tc0[2 * half], t1 = tc0[2 * half + 1];
            LumaNormalCore(l[half], va, vb, _mm_set_epi16(t1, t1, t1, t1, t0, t0, t0, t0));
        }
    }
    for (int i = 0; i < 3; i++) {
        rows[3 - i] = _mm_packus_epi16(l[0].p[i], l[1].p[i]);
        rows[4 + i] = _mm_packus_epi16(l[0].q[i], l[1].q[i]);
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

void LumaEdgeH(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
    if ((tc0[0] & tc0[1] & tc0[2] & tc0[3]) < 0) return;
    LumaH<false>(pix, stride, alpha, beta, tc0);
}
void LumaEdgeV(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
    if ((tc0[0] & tc0[1] & tc0[2] & tc0[3]) < 0) return;
    LumaV<false>(pix, stride, alpha, beta, tc0);
}
void LumaEdgeHStrong(uint8_t *pix, ptrdiff_t stride, int alpha, int beta) { LumaH<true>(pix, stride, alpha, beta, nullptr); }
void LumaEdgeVStrong(uint8_t *pix, ptrdiff_t stride, int alpha, int beta) { LumaV<true>(pix, stride, alpha, beta, nullptr); }

// Chroma: 8 lines in 16-bit lanes, p1 p0 q0 q1; only p0 and q0 change.
template <bool kStrong>
inline void ChromaCore(__m128i p1, __m128i &p0, __m128i &q0, __m128i q1, int alpha, int beta, const int8_t *tc0) {
    const __m128i mask = EdgeMask(p1, p0, q0, q1, _mm_set1_epi16(static_cast<int16_t>(alpha)),
                                  _mm_set1_epi16(static_cast<int16_t>(beta)));
    if constexpr (kStrong) {
        const __m128i two = _mm_set1_epi16(2);
        const __m128i np0 = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(p1, 1), p0), _mm_add_epi16(q1, two)), 2);
        const __m128i nq0 = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(q1, 1), q0), _mm_add_epi16(p1, two)), 2);
        p0 = Select(mask, np0, p0);
        q0 = Select(mask, nq0, q0);
    } else {
        const int16_t t0 = tc0[0], t1 = tc0[1], t2 = tc0[2], t3 = tc0[3];
        const __m128i vt0 = _mm_set_epi16(t3, t3, t2, t2, t1, t1, t0, t0);
        const __m128i live = _mm_and_si128(mask, _mm_cmpgt_epi16(vt0, _mm_set1_epi16(-1)));
        const __m128i tc = _mm_add_epi16(vt0, _mm_set1_epi16(1));
        const __m128i raw = _mm_srai_epi16(
            _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(q0, p0), 2), _mm_sub_epi16(p1, q1)), _mm_set1_epi16(4)), 3);
        const __m128i delta = _mm_and_si128(live, Clip16(raw, _mm_sub_epi16(_mm_setzero_si128(), tc), tc));
        p0 = _mm_add_epi16(p0, delta);
        q0 = _mm_sub_epi16(q0, delta);
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

void ChromaEdgesV(uint8_t *cb, uint8_t *cr, ptrdiff_t stride, const ChromaEdgeSet &s) {
    const int start = ChromaWindowStart(s);
    __m128i x[8];
    LoadTransposed16x8(cb + start, cr + start, stride, x);
    ChromaFilterWindow(x, s, start);
    StoreTransposed8x16(cb + start, cr + start, stride, x);
}

void ChromaEdgesH(uint8_t *cb, uint8_t *cr, ptrdiff_t stride, const ChromaEdgeSet &s) {
    const int start = ChromaWindowStart(s);
    __m128i x[8];
    LoadChromaRows(cb, cr, stride, start, x);
    ChromaFilterWindow(x, s, start);
    for (int e = 0; e < 2; e++)
        if (ChromaEdgeLive(s, e)) StoreChromaRowPair(cb, cr, stride, start, 4 * e - 1 - start, x);
}

}  // namespace

void InstallDeblockSse2(KernelSet &ks) {
    ks.lumaEdgeV = LumaEdgeV;
    ks.lumaEdgeH = LumaEdgeH;
    ks.lumaEdgeVStrong = LumaEdgeVStrong;
    ks.lumaEdgeHStrong = LumaEdgeHStrong;
    ks.chromaEdgesV = ChromaEdgesV;
    ks.chromaEdgesH = ChromaEdgesH;
}

}  // namespace tessaly::h264
