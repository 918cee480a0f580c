// Inverse transforms with prediction add, SSE2.
//
// The arithmetic is done in 32-bit lanes, as the C kernels do, so that any
// 16-bit input (including the extremes a corrupt stream can produce) gives
// the same pixels. Each 1-D stage works lane-wise; transposes move the
// block between the row and the column stage.
#include <emmintrin.h>

#include <cstring>

#include "h264dec/dsp/idct8_stage.h"
#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

inline void Transpose4x4(__m128i &r0, __m128i &r1, __m128i &r2, __m128i &r3) {
    const __m128i t0 = _mm_unpacklo_epi32(r0, r1), t1 = _mm_unpackhi_epi32(r0, r1);
    const __m128i t2 = _mm_unpacklo_epi32(r2, r3), t3 = _mm_unpackhi_epi32(r2, r3);
    r0 = _mm_unpacklo_epi64(t0, t2);
    r1 = _mm_unpackhi_epi64(t0, t2);
    r2 = _mm_unpacklo_epi64(t1, t3);
    r3 = _mm_unpackhi_epi64(t1, t3);
}

// Sign-extends four int16 to int32.
inline __m128i Widen4(const int16_t *p) {
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
    return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
}

// One 4-point stage on lanes: x0..x3 -> y0..y3.
inline void Idct4Stage(__m128i &x0, __m128i &x1, __m128i &x2, __m128i &x3) {
    const __m128i e0 = _mm_add_epi32(x0, x2), e1 = _mm_sub_epi32(x0, x2);
    const __m128i e2 = _mm_sub_epi32(_mm_srai_epi32(x1, 1), x3), e3 = _mm_add_epi32(x1, _mm_srai_epi32(x3, 1));
    x0 = _mm_add_epi32(e0, e3);
    x1 = _mm_add_epi32(e1, e2);
    x2 = _mm_sub_epi32(e1, e2);
    x3 = _mm_sub_epi32(e0, e3);
}

// Adds (v + 32) >> 6 of 8 residuals (two int32 registers) to 8 pixels at p
// (or 4 with W 4, from `lo` only), clipping.
template <int W>
inline void AddResidual(uint8_t *p, __m128i lo, __m128i hi) {
    const __m128i r = _mm_set1_epi32(32);
    lo = _mm_srai_epi32(_mm_add_epi32(lo, r), 6);
    hi = _mm_srai_epi32(_mm_add_epi32(hi, r), 6);
    // Saturation to 16 bits cannot change the clipped sum: such values clip anyway.
    const __m128i res = _mm_packs_epi32(lo, hi);
    if constexpr (W == 4) {
        int px;
        std::memcpy(&px, p, 4);
        const __m128i pix = _mm_unpacklo_epi8(_mm_cvtsi32_si128(px), _mm_setzero_si128());
        const __m128i out = _mm_packus_epi16(_mm_adds_epi16(pix, res), _mm_setzero_si128());
        px = _mm_cvtsi128_si32(out);
        std::memcpy(p, &px, 4);
    } else {
        const __m128i pix =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), _mm_setzero_si128());
        _mm_storel_epi64(reinterpret_cast<__m128i *>(p),
                         _mm_packus_epi16(_mm_adds_epi16(pix, res), _mm_setzero_si128()));
    }
}

void Idct4x4AddSse2(uint8_t *dst, ptrdiff_t stride, int16_t *c) {
    __m128i r0 = Widen4(c), r1 = Widen4(c + 4), r2 = Widen4(c + 8), r3 = Widen4(c + 12);
    Transpose4x4(r0, r1, r2, r3);  // r_k lane i: coefficient (i, k)
    Idct4Stage(r0, r1, r2, r3);    // r_k lane i: row result (i, k)
    Transpose4x4(r0, r1, r2, r3);  // r_i lane k: row result (i, k)
    Idct4Stage(r0, r1, r2, r3);    // r_i lane j: residual (i, j)
    AddResidual<4>(dst, r0, r0);
    AddResidual<4>(dst + stride, r1, r1);
    AddResidual<4>(dst + 2 * stride, r2, r2);
    AddResidual<4>(dst + 3 * stride, r3, r3);
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i *>(c), zero);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(c + 8), zero);
}

struct Sse2Lanes {
    static __m128i Add(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
    static __m128i Sub(__m128i a, __m128i b) { return _mm_sub_epi32(a, b); }
    static __m128i Sar(__m128i a, int n) { return _mm_srai_epi32(a, n); }
};

// One 8-point stage on lanes over x[0..7].
inline void Idct8Stage(__m128i *x) { Idct8Butterfly<Sse2Lanes>(x); }

// An 8x8 int32 matrix as m[row][half], half 0: columns 0..3, 1: 4..7.
// Transposes in place through its four 4x4 quarters.
inline void Transpose8x8(__m128i (&m)[8][2]) {
    for (int q = 0; q < 2; q++) Transpose4x4(m[4 * q][q], m[4 * q + 1][q], m[4 * q + 2][q], m[4 * q + 3][q]);
    __m128i a0 = m[0][1], a1 = m[1][1], a2 = m[2][1], a3 = m[3][1];
    __m128i b0 = m[4][0], b1 = m[5][0], b2 = m[6][0], b3 = m[7][0];
    Transpose4x4(a0, a1, a2, a3);
    Transpose4x4(b0, b1, b2, b3);
    m[0][1] = b0, m[1][1] = b1, m[2][1] = b2, m[3][1] = b3;
    m[4][0] = a0, m[5][0] = a1, m[6][0] = a2, m[7][0] = a3;
}

void Idct8x8AddSse2(uint8_t *dst, ptrdiff_t stride, int16_t *c) {
    __m128i m[8][2];
    for (int i = 0; i < 8; i++) {
        m[i][0] = Widen4(c + 8 * i);
        m[i][1] = Widen4(c + 8 * i + 4);
    }
    Transpose8x8(m);  // m[k] lane i: coefficient (i, k)
    for (int h = 0; h < 2; h++) {
        __m128i x[8];
        for (int k = 0; k < 8; k++) x[k] = m[k][h];
        Idct8Stage(x);
        for (int k = 0; k < 8; k++) m[k][h] = x[k];
    }
    Transpose8x8(m);  // m[i] lane k: row result (i, k)
    for (int h = 0; h < 2; h++) {
        __m128i x[8];
        for (int i = 0; i < 8; i++) x[i] = m[i][h];
        Idct8Stage(x);
        for (int i = 0; i < 8; i++) m[i][h] = x[i];
    }
    for (int i = 0; i < 8; i++) AddResidual<8>(dst + i * stride, m[i][0], m[i][1]);
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 8; i++) _mm_storeu_si128(reinterpret_cast<__m128i *>(c + 8 * i), zero);
}

// Adds one value to every pixel of an N x N block: unsigned saturating add
// or subtract of its magnitude (capped at 255, beyond which the clip is the same).
template <int N>
void DcAddSse2(uint8_t *dst, ptrdiff_t stride, int16_t *c) {
    const int dc = (c[0] + 32) >> 6;
    c[0] = 0;
    const int mag = dc < 0 ? (-dc > 255 ? 255 : -dc) : (dc > 255 ? 255 : dc);
    const __m128i v = _mm_set1_epi8(static_cast<char>(mag));
    for (int y = 0; y < N; y++, dst += stride) {
        if constexpr (N == 4) {
            int px;
            std::memcpy(&px, dst, 4);
            const __m128i p = _mm_cvtsi32_si128(px);
            px = _mm_cvtsi128_si32(dc < 0 ? _mm_subs_epu8(p, v) : _mm_adds_epu8(p, v));
            std::memcpy(dst, &px, 4);
        } else {
            const __m128i p = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(dst));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), dc < 0 ? _mm_subs_epu8(p, v) : _mm_adds_epu8(p, v));
        }
    }
}

// Four DCs on an 8x8 chroma block: two rows per register in 16 bits, the
// DC row pattern (d0 x4, d1 x4) for the top half and (d2, d3) for the bottom.
void ChromaDcAddSse2(uint8_t *dst, ptrdiff_t stride, int16_t *c) {
    int16_t dc[4];
    for (int k = 0; k < 4; k++) {
        dc[k] = static_cast<int16_t>((c[16 * k] + 32) >> 6);
        c[16 * k] = 0;
    }
    const __m128i halves[2] = {_mm_setr_epi16(dc[0], dc[0], dc[0], dc[0], dc[1], dc[1], dc[1], dc[1]),
                               _mm_setr_epi16(dc[2], dc[2], dc[2], dc[2], dc[3], dc[3], dc[3], dc[3])};
    const __m128i zero = _mm_setzero_si128();
    for (int y = 0; y < 8; y += 2, dst += 2 * stride) {
        const __m128i add = halves[y >> 2];
        const __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(dst)), zero);
        const __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(dst + stride)), zero);
        const __m128i sum = _mm_packus_epi16(_mm_add_epi16(a, add), _mm_add_epi16(b, add));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), sum);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + stride), _mm_srli_si128(sum, 8));
    }
}

}  // namespace

void InstallIdctSse2(KernelSet &ks) {
    ks.idct4x4Add = Idct4x4AddSse2;
    ks.idct4x4DcAdd = DcAddSse2<4>;
    ks.idct8x8Add = Idct8x8AddSse2;
    ks.idct8x8DcAdd = DcAddSse2<8>;
    ks.chromaDcAdd = ChromaDcAddSse2;
}

}  // namespace tessaly::h264
