// Byte transposes between the row layout of a vertical luma edge (16 lines
// of p3..q3) and one register per sample position, shared by the SSE2 and
// AVX2 edge filters. Internal linkage on purpose: each file gets its own copy
// built for its own instruction set, so the linker can never hand the
// baseline file a copy that uses AVX2 encodings.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

namespace tessaly::h264 {
namespace {

// 16 rows of 8 bytes (at p - 4 of each line) to 8 registers of 16 lines.
[[maybe_unused]] inline void LoadTransposed16x8(const uint8_t *p, ptrdiff_t stride, __m128i (&c)[8]) {
    __m128i t[8];
    for (int k = 0; k < 8; k++) {
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + (2 * k) * stride));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + (2 * k + 1) * stride));
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

[[maybe_unused]] inline void StoreTransposed8x16(uint8_t *p, ptrdiff_t stride, const __m128i (&c)[8]) {
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
            uint8_t *row = p + (8 * h + 4 * k) * stride;
            _mm_storel_epi64(reinterpret_cast<__m128i *>(row), lo);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(row + stride), _mm_unpackhi_epi64(lo, lo));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(row + 2 * stride), hi);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(row + 3 * stride), _mm_unpackhi_epi64(hi, hi));
        }
    }
}

}  // namespace
}  // namespace tessaly::h264
