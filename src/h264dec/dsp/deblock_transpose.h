// Byte transposes between the row layout of vertical edges (16 lines of 8
// samples: p3..q3 of a luma edge, or p1..q1 of both chroma edges in Cb and
// Cr) and one register per sample position, shared by the SSE2 and AVX2 edge
// filters. Lines 0-7 start at `top`, lines 8-15 at `bottom`. Internal linkage on purpose: each file gets its own copy
// built for its own instruction set, so the linker can never hand the
// baseline file a copy that uses AVX2 encodings.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "h264dec/dsp/kernel_set.h"

namespace tessaly::h264 {
namespace {

// 16 rows of 8 bytes to 8 registers of 16 lines.
[[maybe_unused]] inline void LoadTransposed16x8(const uint8_t *top, const uint8_t *bottom, ptrdiff_t stride,
                                                __m128i (&c)[8]) {
    __m128i t[8];
    for (int k = 0; k < 8; k++) {
        const uint8_t *p = (k < 4 ? top : bottom) + 2 * (k & 3) * stride;
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + stride));
        t[k] = _mm_unpacklo_epi8(a, b);
    }
    __m128i u[8];
    for (int k = 0; k < 4; k++) {
        u[2 * k] = _mm_unpacklo_epi16(t[2 * k], t[2 * k + 1]);
        u[2 * k + 1] = _mm_unpackhi_epi16(t[2 * k], t[2 * k + 1]);
    }
    // u[0], u[1]: rows 0-3 columns 0-3 / 4-7; u[2], u[3]: rows 4-7; ...
    __m128i v[8];
    for (int k = 0; k < 2; k++) {
        const __m128i a0 = u[4 * k], a1 = u[4 * k + 1], b0 = u[4 * k + 2], b1 = u[4 * k + 3];
        v[4 * k + 0] = _mm_unpacklo_epi32(a0, b0);  // columns 0, 1 of rows 8k..8k+7
        v[4 * k + 1] = _mm_unpackhi_epi32(a0, b0);  // columns 2, 3
        v[4 * k + 2] = _mm_unpacklo_epi32(a1, b1);  // columns 4, 5
        v[4 * k + 3] = _mm_unpackhi_epi32(a1, b1);  // columns 6, 7
    }
    for (int k = 0; k < 4; k++) {
        c[2 * k] = _mm_unpacklo_epi64(v[k], v[4 + k]);
        c[2 * k + 1] = _mm_unpackhi_epi64(v[k], v[4 + k]);
    }
}

[[maybe_unused]] inline void StoreTransposed8x16(uint8_t *top, uint8_t *bottom, ptrdiff_t stride,
                                                 const __m128i (&c)[8]) {
    __m128i t[8];
    for (int k = 0; k < 4; k++) {
        t[2 * k] = _mm_unpacklo_epi8(c[2 * k], c[2 * k + 1]);      // lines 0-7, columns 2k, 2k+1
        t[2 * k + 1] = _mm_unpackhi_epi8(c[2 * k], c[2 * k + 1]);  // lines 8-15
    }
    __m128i u[8];
    for (int h = 0; h < 2; h++) {
        u[4 * h + 0] = _mm_unpacklo_epi16(t[h], t[2 + h]);  // columns 0-3, lines 8h+0..3
        u[4 * h + 1] = _mm_unpackhi_epi16(t[h], t[2 + h]);  // columns 0-3, lines 8h+4..7
        u[4 * h + 2] = _mm_unpacklo_epi16(t[4 + h], t[6 + h]);
        u[4 * h + 3] = _mm_unpackhi_epi16(t[4 + h], t[6 + h]);
    }
    for (int h = 0; h < 2; h++) {
        for (int k = 0; k < 2; k++) {
            const __m128i lo = _mm_unpacklo_epi32(u[4 * h + k], u[4 * h + 2 + k]);
            const __m128i hi = _mm_unpackhi_epi32(u[4 * h + k], u[4 * h + 2 + k]);
            uint8_t *row = (h ? bottom : top) + 4 * k * stride;
            _mm_storel_epi64(reinterpret_cast<__m128i *>(row), lo);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(row + stride), _mm_unpackhi_epi64(lo, lo));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(row + 2 * stride), hi);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(row + 3 * stride), _mm_unpackhi_epi64(hi, hi));
        }
    }
}

// Whether a chroma edge changes anything: bS 4, or a segment with tC0 >= 0.
[[maybe_unused]] inline bool ChromaEdgeLive(const ChromaEdgeSet &s, int e) {
    uint64_t tc0;
    std::memcpy(&tc0, s.tc0[e], sizeof tc0);
    return s.strong[e] || (~tc0 & 0x8080808080808080ull) != 0;
}

// The chroma kernels work on a window of 8 lines across the edges (columns
// for V, rows for H), one register each: normally lines -2..5, so that
// x[4e + i] holds p1, p0, q0, q1 of edge e. When the macroblock edge is not
// filtered the window is lines 0..7 instead and edge 2 sits at x[2..5]: the
// neighbour may belong to a slice that another thread is decoding, and its
// samples must not even be read.
[[maybe_unused]] inline int ChromaWindowStart(const ChromaEdgeSet &s) { return ChromaEdgeLive(s, 0) ? -2 : 0; }

// Rows start..start+7 of both planes, Cb in the low and Cr in the high 8
// bytes: the same layout as the transposed columns of the vertical edges.
[[maybe_unused]] inline void LoadChromaRows(const uint8_t *cb, const uint8_t *cr, ptrdiff_t stride, int start,
                                            __m128i (&x)[8]) {
    for (int i = 0; i < 8; i++) {
        const ptrdiff_t row = (start + i) * stride;
        x[i] = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(cb + row)),
                                  _mm_loadl_epi64(reinterpret_cast<const __m128i *>(cr + row)));
    }
}

// Stores window rows i and i + 1 (p0 and q0 of an edge).
[[maybe_unused]] inline void StoreChromaRowPair(uint8_t *cb, uint8_t *cr, ptrdiff_t stride, int start, int i,
                                                const __m128i (&x)[8]) {
    for (int k = i; k < i + 2; k++) {
        const ptrdiff_t row = (start + k) * stride;
        _mm_storel_epi64(reinterpret_cast<__m128i *>(cb + row), x[k]);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(cr + row), _mm_unpackhi_epi64(x[k], x[k]));
    }
}

}  // namespace
}  // namespace tessaly::h264
