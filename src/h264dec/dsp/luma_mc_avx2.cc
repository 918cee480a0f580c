// 16-wide luma quarter-sample interpolation with AVX2: a row of 16 samples
// is one register of 16-bit lanes, half the instructions of the SSE2 rows.
// Same arithmetic as the SSE2 and C kernels (see luma_mc_sse2.cc).
#include <immintrin.h>

#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

constexpr int kMaxH = 16;

inline __m256i Load16(const uint8_t *p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}
inline __m128i Load16Bytes(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
inline void Store16(uint8_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

inline __m256i Tap6(__m256i a, __m256i b, __m256i c, __m256i d, __m256i e, __m256i f) {
    const __m256i inner = _mm256_sub_epi16(_mm256_slli_epi16(_mm256_add_epi16(c, d), 2), _mm256_add_epi16(b, e));
    return _mm256_add_epi16(_mm256_add_epi16(a, f), _mm256_mullo_epi16(inner, _mm256_set1_epi16(5)));
}

// 16 signed 16-bit lanes to 16 clipped bytes, in order.
inline __m128i PackBytes(__m256i v) {
    return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

inline __m128i Round5(__m256i sum) {
    return PackBytes(_mm256_srai_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(16)), 5));
}

inline __m256i SumH(const uint8_t *s) {
    return Tap6(Load16(s - 2), Load16(s - 1), Load16(s), Load16(s + 1), Load16(s + 2), Load16(s + 3));
}

inline __m128i RowV(const uint8_t *s, ptrdiff_t ss) {
    return Round5(Tap6(Load16(s - 2 * ss), Load16(s - ss), Load16(s), Load16(s + ss), Load16(s + 2 * ss), Load16(s + 3 * ss)));
}

// j's second pass in 32 bits; in-lane unpack and pack keep the lane order.
inline __m128i RowJ(const __m256i *m) {
    const __m256i s05 = _mm256_add_epi16(m[0], m[5]), s14 = _mm256_add_epi16(m[1], m[4]), s23 = _mm256_add_epi16(m[2], m[3]);
    const __m256i k1m5 = _mm256_set1_epi32(static_cast<int>(0xFFFB0001u));  // (1, -5) pairs
    const __m256i k20r = _mm256_set1_epi32((512 << 16) | 20);                // (20, 512) pairs
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(s05, s14), k1m5),
                                        _mm256_madd_epi16(_mm256_unpacklo_epi16(s23, one), k20r));
    const __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(s05, s14), k1m5),
                                        _mm256_madd_epi16(_mm256_unpackhi_epi16(s23, one), k20r));
    return PackBytes(_mm256_packs_epi32(_mm256_srai_epi32(lo, 10), _mm256_srai_epi32(hi, 10)));
}

template <int MX, int MY>
void LumaMc16(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h) {
    const uint8_t *right = src + (MX == 3 ? 1 : 0);
    const uint8_t *down = src + (MY == 3 ? ss : 0);
    if constexpr (MY == 0) {  // a, b, c
        for (int y = 0; y < h; y++) {
            __m128i v = Round5(SumH(src + y * ss));
            if constexpr (MX != 2) v = _mm_avg_epu8(v, Load16Bytes(right + y * ss));
            Store16(dst + y * ds, v);
        }
    } else if constexpr (MX == 0) {  // d, h, n
        for (int y = 0; y < h; y++) {
            __m128i v = RowV(src + y * ss, ss);
            if constexpr (MY != 2) v = _mm_avg_epu8(v, Load16Bytes(down + y * ss));
            Store16(dst + y * ds, v);
        }
    } else if constexpr (MX == 2 || MY == 2) {  // j; f, q; i, k
        __m256i mid[kMaxH + 5];
        const uint8_t *s = src - 2 * ss;
        for (int y = 0; y < h + 5; y++, s += ss) mid[y] = SumH(s);
        for (int y = 0; y < h; y++) {
            __m128i v = RowJ(mid + y);
            if constexpr (MX == 2 && MY != 2) v = _mm_avg_epu8(v, Round5(mid[y + 2 + (MY == 3 ? 1 : 0)]));
            if constexpr (MX != 2) v = _mm_avg_epu8(v, RowV(right + y * ss, ss));
            Store16(dst + y * ds, v);
        }
    } else {  // e, g, p, r
        for (int y = 0; y < h; y++)
            Store16(dst + y * ds, _mm_avg_epu8(Round5(SumH(down + y * ss)), RowV(right + y * ss, ss)));
    }
}

}  // namespace

void InstallLumaMcAvx2(KernelSet &ks) {
    LumaMcFn *t = ks.lumaMc[0];  // position 0 stays the SSE2 copy
    t[1] = LumaMc16<1, 0>;
    t[2] = LumaMc16<2, 0>;
    t[3] = LumaMc16<3, 0>;
    t[4] = LumaMc16<0, 1>;
    t[5] = LumaMc16<1, 1>;
    t[6] = LumaMc16<2, 1>;
    t[7] = LumaMc16<3, 1>;
    t[8] = LumaMc16<0, 2>;
    t[9] = LumaMc16<1, 2>;
    t[10] = LumaMc16<2, 2>;
    t[11] = LumaMc16<3, 2>;
    t[12] = LumaMc16<0, 3>;
    t[13] = LumaMc16<1, 3>;
    t[14] = LumaMc16<2, 3>;
    t[15] = LumaMc16<3, 3>;
}

}  // namespace tessaly::h264
