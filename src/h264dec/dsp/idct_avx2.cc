// The 8x8 inverse transform with prediction add, AVX2: one row of eight
// 32-bit lanes per register, so a block is eight registers, a 1-D stage is
// one pass over them and a transpose is 24 shuffles (the SSE2 kernel works
// on half rows and pays twice for both). 32-bit arithmetic, as in the C
// kernel, so every 16-bit input gives the same pixels.
#include <immintrin.h>

#include "h264dec/dsp/idct8_stage.h"
#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

inline void Transpose8x8(__m256i (&r)[8]) {
    __m256i t[8], u[8];
    for (int k = 0; k < 4; k++) {
        t[2 * k] = _mm256_unpacklo_epi32(r[2 * k], r[2 * k + 1]);
        t[2 * k + 1] = _mm256_unpackhi_epi32(r[2 * k], r[2 * k + 1]);
    }
    // u[k] (k < 4): column k of rows 0..3 and column k + 4 of the same rows;
    // u[k + 4] the same for rows 4..7.
    for (int h = 0; h < 2; h++) {
        u[4 * h + 0] = _mm256_unpacklo_epi64(t[4 * h], t[4 * h + 2]);
        u[4 * h + 1] = _mm256_unpackhi_epi64(t[4 * h], t[4 * h + 2]);
        u[4 * h + 2] = _mm256_unpacklo_epi64(t[4 * h + 1], t[4 * h + 3]);
        u[4 * h + 3] = _mm256_unpackhi_epi64(t[4 * h + 1], t[4 * h + 3]);
    }
    for (int k = 0; k < 4; k++) {
        r[k] = _mm256_permute2x128_si256(u[k], u[k + 4], 0x20);
        r[k + 4] = _mm256_permute2x128_si256(u[k], u[k + 4], 0x31);
    }
}

struct Avx2Lanes {
    static __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
    static __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
    static __m256i Sar(__m256i a, int n) { return _mm256_srai_epi32(a, n); }
};

inline void Idct8Stage(__m256i (&x)[8]) { Idct8Butterfly<Avx2Lanes>(x); }

// Adds (v + 32) >> 6 of rows a and b to the 8 pixels at p and at p + stride,
// clipping. Saturating to 16 bits first cannot change a clipped sum.
inline void AddTwoRows(uint8_t *p, ptrdiff_t stride, __m256i a, __m256i b) {
    const __m256i round = _mm256_set1_epi32(32);
    a = _mm256_srai_epi32(_mm256_add_epi32(a, round), 6);
    b = _mm256_srai_epi32(_mm256_add_epi32(b, round), 6);
    const __m256i both = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xd8);  // row a, then row b
    const __m128i zero = _mm_setzero_si128();
    const __m128i pa = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), zero);
    const __m128i pb = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + stride)), zero);
    const __m128i sa = _mm_adds_epi16(pa, _mm256_castsi256_si128(both));
    const __m128i sb = _mm_adds_epi16(pb, _mm256_extracti128_si256(both, 1));
    const __m128i out = _mm_packus_epi16(sa, sb);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(p), out);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(p + stride), _mm_unpackhi_epi64(out, out));
}

void Idct8x8AddAvx2(uint8_t *dst, ptrdiff_t stride, int16_t *c) {
    __m256i m[8];
    for (int i = 0; i < 8; i++)
        m[i] = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(c + 8 * i)));
    Transpose8x8(m);  // m[k] lane i: coefficient (i, k)
    Idct8Stage(m);    // m[k] lane i: row result (i, k)
    Transpose8x8(m);  // m[i] lane k: row result (i, k)
    Idct8Stage(m);    // m[i] lane j: residual (i, j)
    for (int i = 0; i < 8; i += 2) AddTwoRows(dst + i * stride, stride, m[i], m[i + 1]);
    const __m256i zero = _mm256_setzero_si256();
    for (int i = 0; i < 4; i++) _mm256_storeu_si256(reinterpret_cast<__m256i *>(c + 16 * i), zero);
}

}  // namespace

void InstallIdctAvx2(KernelSet &ks) { ks.idct8x8Add = Idct8x8AddAvx2; }

}  // namespace tessaly::h264
