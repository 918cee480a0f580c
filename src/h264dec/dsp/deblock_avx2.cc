// Luma edge filters and chroma edge sets with AVX2: the 16 lines of an edge
// (chroma: 8 of Cb and 8 of Cr) fill one register of 16-bit lanes, so the
// filter arithmetic (deblock_simd.h, shared with the SSE2 kernels) runs
// once instead of twice.
#include <immintrin.h>

#include <cstring>

#include "h264dec/dsp/deblock_simd.h"
#include "h264dec/dsp/deblock_transpose.h"
#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

inline __m256i Widen(__m128i v) { return _mm256_cvtepu8_epi16(v); }
inline __m128i Narrow(__m256i v) { return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)); }

// 16 rows of 8 bytes (rows 0-7 at top, 8-15 at bottom) to one register of
// 16-bit lanes per column, lane = row: each 128-bit half transposes its own
// 8x8 block (rows 0-7 low, 8-15 high), and widening finishes the job.
inline void LoadColumns16(const uint8_t *top, const uint8_t *bottom, ptrdiff_t stride, __m256i (&w)[8]) {
    __m256i r[8];
    for (int k = 0; k < 8; k++)
        r[k] = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(top + k * stride))),
            _mm_loadl_epi64(reinterpret_cast<const __m128i *>(bottom + k * stride)), 1);
    __m256i a[4], b[4];
    for (int j = 0; j < 4; j++) a[j] = _mm256_unpacklo_epi8(r[2 * j], r[2 * j + 1]);
    for (int j = 0; j < 2; j++) {
        b[j] = _mm256_unpacklo_epi16(a[2 * j], a[2 * j + 1]);      // columns 0-3 of 4 rows
        b[2 + j] = _mm256_unpackhi_epi16(a[2 * j], a[2 * j + 1]);  // columns 4-7
    }
    const __m256i zero = _mm256_setzero_si256();
    for (int j = 0; j < 2; j++) {
        const __m256i lo = _mm256_unpacklo_epi32(b[2 * j], b[2 * j + 1]);  // columns 4j, 4j+1
        const __m256i hi = _mm256_unpackhi_epi32(b[2 * j], b[2 * j + 1]);  // columns 4j+2, 4j+3
        w[4 * j] = _mm256_unpacklo_epi8(lo, zero);
        w[4 * j + 1] = _mm256_unpackhi_epi8(lo, zero);
        w[4 * j + 2] = _mm256_unpacklo_epi8(hi, zero);
        w[4 * j + 3] = _mm256_unpackhi_epi8(hi, zero);
    }
}

// The inverse of LoadColumns16 (with saturation to bytes).
inline void StoreColumns16(uint8_t *top, uint8_t *bottom, ptrdiff_t stride, const __m256i (&w)[8]) {
    __m256i a[4], b[4];
    for (int j = 0; j < 4; j++) {
        const __m256i pair = _mm256_packus_epi16(w[2 * j], w[2 * j + 1]);  // column 2j | column 2j+1
        a[j] = _mm256_unpacklo_epi8(pair, _mm256_unpackhi_epi64(pair, pair));
    }
    for (int j = 0; j < 2; j++) {
        b[j] = _mm256_unpacklo_epi16(a[2 * j], a[2 * j + 1]);
        b[2 + j] = _mm256_unpackhi_epi16(a[2 * j], a[2 * j + 1]);
    }
    for (int j = 0; j < 2; j++) {
        for (int h = 0; h < 2; h++) {
            const __m256i rows =
                h ? _mm256_unpackhi_epi32(b[2 * j], b[2 * j + 1]) : _mm256_unpacklo_epi32(b[2 * j], b[2 * j + 1]);
            const int k = 4 * j + 2 * h;  // rows k, k+1 of each half
            const __m128i lo = _mm256_castsi256_si128(rows), hi = _mm256_extracti128_si256(rows, 1);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(top + k * stride), lo);
            // The high halves with movhps: its intrinsic makes no aligned 8-byte access of the address.
            _mm_storeh_pi(reinterpret_cast<__m64 *>(top + (k + 1) * stride), _mm_castsi128_ps(lo));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(bottom + k * stride), hi);
            _mm_storeh_pi(reinterpret_cast<__m64 *>(bottom + (k + 1) * stride), _mm_castsi128_ps(hi));
        }
    }
}

// p1, p0, q0, q1 of the 16 lines back from their widened columns, 4 bytes a
// line starting at p1: what the normal filter changes. Leaving p3 and q3 out
// keeps the kernel within the 16 registers (no 32-byte spill slots).
inline void StoreMiddleColumns16(uint8_t *top, uint8_t *bottom, ptrdiff_t stride, const __m256i (&w)[8]) {
    const __m256i p = _mm256_packus_epi16(w[2], w[3]), q = _mm256_packus_epi16(w[4], w[5]);  // p1 | p0, q0 | q1
    const __m256i pp = _mm256_unpacklo_epi8(p, _mm256_unpackhi_epi64(p, p));                 // p1 p0 by line
    const __m256i qq = _mm256_unpacklo_epi8(q, _mm256_unpackhi_epi64(q, q));                 // q0 q1 by line
    for (int h = 0; h < 2; h++) {
        const __m256i lines = h ? _mm256_unpackhi_epi16(pp, qq) : _mm256_unpacklo_epi16(pp, qq);  // lines 4h..4h+3
        const __m128i lo = _mm256_castsi256_si128(lines), hi = _mm256_extracti128_si256(lines, 1);
        const int32_t v[8] = {_mm_extract_epi32(lo, 0), _mm_extract_epi32(lo, 1), _mm_extract_epi32(lo, 2),
                              _mm_extract_epi32(lo, 3), _mm_extract_epi32(hi, 0), _mm_extract_epi32(hi, 1),
                              _mm_extract_epi32(hi, 2), _mm_extract_epi32(hi, 3)};
        for (int k = 0; k < 4; k++) {
            std::memcpy(top + (4 * h + k) * stride, &v[k], 4);
            std::memcpy(bottom + (4 * h + k) * stride, &v[4 + k], 4);
        }
    }
}

// w[k]: p3, p2, p1, p0, q0, q1, q2, q3 of the 16 lines; p2..q2 are updated.
template <bool kStrong>
inline void LumaFilter16(__m256i (&w)[8], int alpha, int beta, const int8_t *tc0) {
    const __m256i va = _mm256_set1_epi16(static_cast<int16_t>(alpha)),
                  vb = _mm256_set1_epi16(static_cast<int16_t>(beta));
    if constexpr (kStrong) {
        LumaStrongCore<Vec256>(w, va, vb);
    } else {
        // tC0 of segment k in lanes 4k..4k+3, from one 4-byte load (a set of
        // 16 scalars goes through the stack).
        int32_t packed;
        std::memcpy(&packed, tc0, sizeof packed);
        const __m128i spread =
            _mm_shuffle_epi8(_mm_cvtsi32_si128(packed), _mm_setr_epi8(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3));
        LumaNormalCore<Vec256>(w, va, vb, _mm256_cvtepi8_epi16(spread));
    }
}

template <bool kStrong>
void LumaH(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t *tc0) {
    __m256i w[8];
    for (int k = 0; k < 8; k++)
        w[k] = Widen(_mm_loadu_si128(reinterpret_cast<const __m128i *>(pix + (k - 4) * stride)));
    LumaFilter16<kStrong>(w, alpha, beta, tc0);
    // The normal filter changes p1..q1 only.
    for (int k = kStrong ? 1 : 2; k < (kStrong ? 7 : 6); k++)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(pix + (k - 4) * stride), Narrow(w[k]));
}

template <bool kStrong>
void LumaV(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t *tc0) {
    __m256i w[8];
    LoadColumns16(pix - 4, pix - 4 + 8 * stride, stride, w);
    LumaFilter16<kStrong>(w, alpha, beta, tc0);
    if constexpr (kStrong)
        StoreColumns16(pix - 4, pix - 4 + 8 * stride, stride, w);
    else
        StoreMiddleColumns16(pix - 2, pix - 2 + 8 * stride, stride, w);
}

void LumaEdgeHAvx2(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
    if (LumaEdgeSkipped(tc0)) return;
    LumaH<false>(pix, stride, alpha, beta, tc0);
}
void LumaEdgeVAvx2(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
    if (LumaEdgeSkipped(tc0)) return;
    LumaV<false>(pix, stride, alpha, beta, tc0);
}
void LumaEdgeHStrongAvx2(uint8_t *pix, ptrdiff_t stride, int alpha, int beta) {
    LumaH<true>(pix, stride, alpha, beta, nullptr);
}
void LumaEdgeVStrongAvx2(uint8_t *pix, ptrdiff_t stride, int alpha, int beta) {
    LumaV<true>(pix, stride, alpha, beta, nullptr);
}

// Chroma edge e over 16 lines (Cb, then Cr) in one register each: r[i] =
// p1, p0, q0, q1; p0 and q0 are updated.
inline void ChromaFilter16(__m256i *r, const ChromaEdgeSet &s, int e) {
    const __m256i p1 = r[0], q1 = r[3];
    __m256i p0 = r[1], q0 = r[2];
    const __m256i alpha = _mm256_set_m128i(_mm_set1_epi16(s.alpha[e][1]), _mm_set1_epi16(s.alpha[e][0]));
    const __m256i beta = _mm256_set_m128i(_mm_set1_epi16(s.beta[e][1]), _mm_set1_epi16(s.beta[e][0]));
    const __m256i mask = EdgeMask<Vec256>(p1, p0, q0, q1, alpha, beta);
    if (s.strong[e]) {
        ChromaStrongCore<Vec256>(p1, p0, q0, q1, mask);
    } else {
        // tC0 of segment k covers lines 2k, 2k + 1 of its plane.
        const __m128i t = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(s.tc0[e]));
        ChromaNormalCore<Vec256>(p1, p0, q0, q1, mask, _mm256_cvtepi8_epi16(_mm_unpacklo_epi8(t, t)));
    }
    r[1] = p0;
    r[2] = q0;
}

// See ChromaWindowStart for the window.
void ChromaEdgesVAvx2(uint8_t *cb, uint8_t *cr, ptrdiff_t stride, const ChromaEdgeSet &s) {
    const int start = ChromaWindowStart(s);
    __m256i w[8];
    LoadColumns16(cb + start, cr + start, stride, w);
    for (int e = 0; e < 2; e++)
        if (ChromaEdgeLive(s, e)) ChromaFilter16(w + 4 * e - 2 - start, s, e);
    StoreColumns16(cb + start, cr + start, stride, w);
}

void ChromaEdgesHAvx2(uint8_t *cb, uint8_t *cr, ptrdiff_t stride, const ChromaEdgeSet &s) {
    const int start = ChromaWindowStart(s);
    __m128i x[8];
    LoadChromaRows(cb, cr, stride, start, x);
    for (int e = 0; e < 2; e++) {
        if (!ChromaEdgeLive(s, e)) continue;
        const int first = 4 * e - 2 - start;  // p1 of the edge in the window
        __m256i w[4];
        for (int i = 0; i < 4; i++) w[i] = Widen(x[first + i]);
        ChromaFilter16(w, s, e);
        x[first + 1] = Narrow(w[1]);
        x[first + 2] = Narrow(w[2]);
        StoreChromaRowPair(cb, cr, stride, start, first + 1, x);
    }
}

}  // namespace

void InstallDeblockAvx2(KernelSet &ks) {
    ks.lumaEdgeV = LumaEdgeVAvx2;
    ks.lumaEdgeH = LumaEdgeHAvx2;
    ks.lumaEdgeVStrong = LumaEdgeVStrongAvx2;
    ks.lumaEdgeHStrong = LumaEdgeHStrongAvx2;
    ks.chromaEdgesV = ChromaEdgesVAvx2;
    ks.chromaEdgesH = ChromaEdgesHAvx2;
}

}  // namespace tessaly::h264
