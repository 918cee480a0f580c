// Lane-wise integer operations for kernels written once over the register
// widths: Vec128 (SSE2), Vec256 (AVX2, only in files built with -mavx2) and
// Vec512 (AVX-512BW, only in files built for it; the operations the
// interpolation needs).
// A kernel template instantiated with one of them is the same arithmetic at
// either width; loads, stores and transposes stay with each instruction set.
// Internal linkage on purpose, as in deblock_transpose.h: every file gets its
// own copy built for its own instruction set, so the linker can never hand
// the baseline file a copy that uses AVX2 encodings.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace tessaly::h264 {
namespace {

struct Vec128 {
    using T = __m128i;
    static T Zero() { return _mm_setzero_si128(); }
    static T Set16(int16_t v) { return _mm_set1_epi16(v); }
    static T Set32(int32_t v) { return _mm_set1_epi32(v); }
    static T Add16(T a, T b) { return _mm_add_epi16(a, b); }
    static T Sub16(T a, T b) { return _mm_sub_epi16(a, b); }
    static T Mul16(T a, T b) { return _mm_mullo_epi16(a, b); }
    static T Min16(T a, T b) { return _mm_min_epi16(a, b); }
    static T Max16(T a, T b) { return _mm_max_epi16(a, b); }
    static T AvgU16(T a, T b) { return _mm_avg_epu16(a, b); }
    template <int N>
    static T Shl16(T a) {
        return _mm_slli_epi16(a, N);
    }
    template <int N>
    static T Shr16(T a) {
        return _mm_srli_epi16(a, N);
    }
    template <int N>
    static T Sar16(T a) {
        return _mm_srai_epi16(a, N);
    }
    static T Greater16(T a, T b) { return _mm_cmpgt_epi16(a, b); }
    static T Less16(T a, T b) { return _mm_cmplt_epi16(a, b); }
    static T And(T a, T b) { return _mm_and_si128(a, b); }
    // No pabsw below SSSE3.
    static T AbsDiff16(T a, T b) { return _mm_max_epi16(_mm_sub_epi16(a, b), _mm_sub_epi16(b, a)); }
    // a where mask is set, else b.
    static T Select(T mask, T a, T b) { return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b)); }
    // 32-bit sums of paired 16-bit products, their shift, and the saturating
    // pack of two such registers back to 16-bit lanes in order.
    static T UnpackLo16(T a, T b) { return _mm_unpacklo_epi16(a, b); }
    static T UnpackHi16(T a, T b) { return _mm_unpackhi_epi16(a, b); }
    static T MulAdd16(T a, T b) { return _mm_madd_epi16(a, b); }
    static T Add32(T a, T b) { return _mm_add_epi32(a, b); }
    template <int N>
    static T Sar32(T a) {
        return _mm_srai_epi32(a, N);
    }
    static T PackS32(T lo, T hi) { return _mm_packs_epi32(lo, hi); }
};

#ifdef __AVX2__
// Unpacks and packs work within each 128-bit half, so a pair of them keeps
// the lane order, as at 128 bits.
struct Vec256 {
    using T = __m256i;
    static T Zero() { return _mm256_setzero_si256(); }
    static T Set16(int16_t v) { return _mm256_set1_epi16(v); }
    static T Set32(int32_t v) { return _mm256_set1_epi32(v); }
    static T Add16(T a, T b) { return _mm256_add_epi16(a, b); }
    static T Sub16(T a, T b) { return _mm256_sub_epi16(a, b); }
    static T Mul16(T a, T b) { return _mm256_mullo_epi16(a, b); }
    static T Min16(T a, T b) { return _mm256_min_epi16(a, b); }
    static T Max16(T a, T b) { return _mm256_max_epi16(a, b); }
    static T AvgU16(T a, T b) { return _mm256_avg_epu16(a, b); }
    template <int N>
    static T Shl16(T a) {
        return _mm256_slli_epi16(a, N);
    }
    template <int N>
    static T Shr16(T a) {
        return _mm256_srli_epi16(a, N);
    }
    template <int N>
    static T Sar16(T a) {
        return _mm256_srai_epi16(a, N);
    }
    static T Greater16(T a, T b) { return _mm256_cmpgt_epi16(a, b); }
    static T Less16(T a, T b) { return _mm256_cmpgt_epi16(b, a); }
    static T And(T a, T b) { return _mm256_and_si256(a, b); }
    static T AbsDiff16(T a, T b) { return _mm256_abs_epi16(_mm256_sub_epi16(a, b)); }
    static T Select(T mask, T a, T b) { return _mm256_blendv_epi8(b, a, mask); }
    static T UnpackLo16(T a, T b) { return _mm256_unpacklo_epi16(a, b); }
    static T UnpackHi16(T a, T b) { return _mm256_unpackhi_epi16(a, b); }
    static T MulAdd16(T a, T b) { return _mm256_madd_epi16(a, b); }
    static T Add32(T a, T b) { return _mm256_add_epi32(a, b); }
    template <int N>
    static T Sar32(T a) {
        return _mm256_srai_epi32(a, N);
    }
    static T PackS32(T lo, T hi) { return _mm256_packs_epi32(lo, hi); }
};
#endif

#ifdef __AVX512BW__
// Two rows of 16 samples, one in each 256-bit half; unpacks and packs work
// within each 128-bit quarter, which keeps the lane order as at 128 bits.
// Only what the shared rounding and centre-position filters use.
struct Vec512 {
    using T = __m512i;
    static T Set16(int16_t v) { return _mm512_set1_epi16(v); }
    static T Set32(int32_t v) { return _mm512_set1_epi32(v); }
    static T Add16(T a, T b) { return _mm512_add_epi16(a, b); }
    template <int N>
    static T Sar16(T a) {
        return _mm512_srai_epi16(a, N);
    }
    static T UnpackLo16(T a, T b) { return _mm512_unpacklo_epi16(a, b); }
    static T UnpackHi16(T a, T b) { return _mm512_unpackhi_epi16(a, b); }
    static T MulAdd16(T a, T b) { return _mm512_madd_epi16(a, b); }
    static T Add32(T a, T b) { return _mm512_add_epi32(a, b); }
    template <int N>
    static T Sar32(T a) {
        return _mm512_srai_epi32(a, N);
    }
    static T PackS32(T lo, T hi) { return _mm512_packs_epi32(lo, hi); }
};
#endif

// v clipped to [lo, hi].
template <class V>
inline typename V::T Clip16(typename V::T v, typename V::T lo, typename V::T hi) {
    return V::Min16(V::Max16(v, lo), hi);
}

}  // namespace
}  // namespace tessaly::h264
