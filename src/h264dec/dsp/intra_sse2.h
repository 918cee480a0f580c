// Byte-wise building blocks shared by the SSE2 intra predictors.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tessaly::h264::intra_sse2 {

// (a + 2b + c + 2) >> 2 without widening: floor((a + c) / 2) is the rounded
// average minus the dropped low bit, and averaging that with b rounds the
// same way as the 3-tap sum.
inline __m128i Tap3(__m128i a, __m128i b, __m128i c) {
    const __m128i lsb = _mm_and_si128(_mm_xor_si128(a, c), _mm_set1_epi8(1));
    return _mm_avg_epu8(_mm_sub_epi8(_mm_avg_epu8(a, c), lsb), b);
}

// `value` replicated into every byte of the low 8 bytes.
inline uint64_t Splat8(int value) { return static_cast<uint64_t>(value & 0xff) * 0x0101010101010101ull; }

// Sum of the `n` (4, 8 or 16) bytes at p, n a multiple of 4.
template <int N>
inline int SumBytes(const uint8_t *p) {
    const __m128i zero = _mm_setzero_si128();
    if constexpr (N == 4) {
        int32_t v;
        std::memcpy(&v, p, 4);
        return _mm_cvtsi128_si32(_mm_sad_epu8(_mm_cvtsi32_si128(v), zero));
    } else if constexpr (N == 8) {
        return _mm_cvtsi128_si32(_mm_sad_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), zero));
    } else {
        const __m128i s = _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), zero);
        return _mm_cvtsi128_si32(_mm_add_epi32(s, _mm_srli_si128(s, 8)));
    }
}

// Sum of the n samples left of the block.
template <int N>
inline int SumLeft(const uint8_t *dst, ptrdiff_t stride) {
    int sum = 0;
    for (int y = 0; y < N; y++) sum += dst[y * stride - 1];
    return sum;
}

// Writes the low N (4 or 8) bytes of v to dst.
template <int N>
inline void StoreRow(uint8_t *dst, __m128i v) {
    if constexpr (N == 4) {
        const int32_t w = _mm_cvtsi128_si32(v);
        std::memcpy(dst, &w, 4);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), v);
    }
}

}  // namespace tessaly::h264::intra_sse2
