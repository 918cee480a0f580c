// Chroma eighth-sample interpolation with AVX2 (and the SSSE3 byte
// multiply-add it includes): each source row is interleaved with itself one
// sample to the right, so pmaddubsw forms A*s[x] + B*s[x+1] per lane; the
// 8-wide kernel does two output lines per 256-bit register, the 4-wide two
// per 128-bit register. Same results as the C kernel: every partial sum is
// at most 64 * 255.
#include <immintrin.h>

#include <cstring>

#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

// Pairs (s[x], s[x+1]) for x = 0..7.
inline __m128i Pairs8(const uint8_t *p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + 1)));
}

// Pairs for x = 0..3.
inline __m128i Pairs4(const uint8_t *p) {
    int a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + 1, 4);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(a), _mm_cvtsi32_si128(b));
}

inline __m128i WeightPair(int w0, int w1) { return _mm_set1_epi16(static_cast<int16_t>((w1 << 8) | w0)); }

void ChromaMc8Avx2(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h, int mx, int my) {
    const __m256i ab = _mm256_broadcastsi128_si256(WeightPair((8 - mx) * (8 - my), mx * (8 - my)));
    const __m256i cd = _mm256_broadcastsi128_si256(WeightPair((8 - mx) * my, mx * my));
    const __m256i round = _mm256_set1_epi16(32);
    if (my == 0) {  // the lower row has no weight: never read it
        for (int y = 0; y < h; y += 2, src += 2 * ss, dst += 2 * ds) {
            const __m256i rows = _mm256_inserti128_si256(_mm256_castsi128_si256(Pairs8(src)), Pairs8(src + ss), 1);
            const __m256i v = _mm256_srli_epi16(_mm256_add_epi16(_mm256_maddubs_epi16(rows, ab), round), 6);
            const __m256i packed = _mm256_packus_epi16(v, v);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), _mm256_castsi256_si128(packed));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + ds), _mm256_extracti128_si256(packed, 1));
        }
        return;
    }
    __m128i upper = Pairs8(src);
    for (int y = 0; y < h; y += 2, dst += 2 * ds) {
        const __m128i mid = Pairs8(src + (y + 1) * ss), lower = Pairs8(src + (y + 2) * ss);
        const __m256i top = _mm256_inserti128_si256(_mm256_castsi128_si256(upper), mid, 1);
        const __m256i bottom = _mm256_inserti128_si256(_mm256_castsi128_si256(mid), lower, 1);
        const __m256i sum =
            _mm256_add_epi16(_mm256_add_epi16(_mm256_maddubs_epi16(top, ab), _mm256_maddubs_epi16(bottom, cd)), round);
        const __m256i v = _mm256_srli_epi16(sum, 6);
        const __m256i packed = _mm256_packus_epi16(v, v);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + ds), _mm256_extracti128_si256(packed, 1));
        upper = lower;
    }
}

inline void Store4x2(uint8_t *dst, ptrdiff_t ds, __m128i v16) {
    const __m128i packed = _mm_packus_epi16(v16, v16);
    const int a = _mm_cvtsi128_si32(packed), b = _mm_cvtsi128_si32(_mm_srli_si128(packed, 4));
    std::memcpy(dst, &a, 4);
    std::memcpy(dst + ds, &b, 4);
}

void ChromaMc4Avx2(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h, int mx, int my) {
    const __m128i ab = WeightPair((8 - mx) * (8 - my), mx * (8 - my));
    const __m128i cd = WeightPair((8 - mx) * my, mx * my);
    const __m128i round = _mm_set1_epi16(32);
    if (my == 0) {
        for (int y = 0; y < h; y += 2, src += 2 * ss, dst += 2 * ds) {
            const __m128i rows = _mm_unpacklo_epi64(Pairs4(src), Pairs4(src + ss));
            Store4x2(dst, ds, _mm_srli_epi16(_mm_add_epi16(_mm_maddubs_epi16(rows, ab), round), 6));
        }
        return;
    }
    __m128i upper = Pairs4(src);
    for (int y = 0; y < h; y += 2, dst += 2 * ds) {
        const __m128i mid = Pairs4(src + (y + 1) * ss), lower = Pairs4(src + (y + 2) * ss);
        const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_maddubs_epi16(_mm_unpacklo_epi64(upper, mid), ab),
                                                        _mm_maddubs_epi16(_mm_unpacklo_epi64(mid, lower), cd)),
                                          round);
        Store4x2(dst, ds, _mm_srli_epi16(sum, 6));
        upper = lower;
    }
}

}  // namespace

void InstallChromaMcAvx2(KernelSet &ks) {
    ks.chromaMc[0] = ChromaMc8Avx2;
    ks.chromaMc[1] = ChromaMc4Avx2;
}

}  // namespace tessaly::h264
