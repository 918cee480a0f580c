// Plane prediction (Intra16x16 and chroma) with SSE2. The gradients come
// from a few neighbour sums; the fill, the expensive part, runs eight or
// sixteen samples at a time. Every partial sum of the fill stays within
// 16 bits (|acc| < 20000 for any 8-bit neighbours), so it is exact.
#include <emmintrin.h>

#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

// Neighbours as the C kernels take them: index 0 the corner, 1..N the row or
// column, 128 where unavailable (a corrupt stream; plane needs all three).
template <int N>
void Gather(const uint8_t *dst, ptrdiff_t stride, int avail, int (&top)[N + 1], int (&left)[N + 1]) {
    top[0] = left[0] = (avail & kAvailTopLeft) ? dst[-stride - 1] : 128;
    for (int i = 0; i < N; i++) {
        top[i + 1] = (avail & kAvailTop) ? dst[i - stride] : 128;
        left[i + 1] = (avail & kAvailLeft) ? dst[i * stride - 1] : 128;
    }
}

// dst(x, y) = clip((a + b * (x - c0) + c * (y - c0) + 16) >> 5), c0 = N/2 - 1.
template <int N>
void Fill(uint8_t *dst, ptrdiff_t stride, int a, int b, int c) {
    constexpr int c0 = N / 2 - 1;
    const int start = a - c0 * b - c0 * c + 16;
    const __m128i vb = _mm_set1_epi16(static_cast<int16_t>(b));
    __m128i lo = _mm_add_epi16(_mm_set1_epi16(static_cast<int16_t>(start)),
                               _mm_mullo_epi16(vb, _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7)));
    __m128i hi = _mm_add_epi16(lo, _mm_slli_epi16(vb, 3));
    const __m128i vc = _mm_set1_epi16(static_cast<int16_t>(c));
    for (int y = 0; y < N; y++, dst += stride) {
        if constexpr (N == 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst),
                             _mm_packus_epi16(_mm_srai_epi16(lo, 5), _mm_srai_epi16(hi, 5)));
            hi = _mm_add_epi16(hi, vc);
        } else {
            const __m128i v = _mm_srai_epi16(lo, 5);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), _mm_packus_epi16(v, v));
        }
        lo = _mm_add_epi16(lo, vc);
    }
}

void PredPlane16x16Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    int top[17], left[17];
    Gather<16>(dst, stride, avail, top, left);
    int H = 0, V = 0;
    for (int i = 0; i < 8; i++) {
        H += (i + 1) * (top[9 + i] - top[7 - i]);
        V += (i + 1) * (left[9 + i] - left[7 - i]);
    }
    Fill<16>(dst, stride, 16 * (left[16] + top[16]), (5 * H + 32) >> 6, (5 * V + 32) >> 6);
}

void PredPlaneChromaSse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    int top[9], left[9];
    Gather<8>(dst, stride, avail, top, left);
    int H = 0, V = 0;
    for (int i = 0; i < 4; i++) {
        H += (i + 1) * (top[5 + i] - top[3 - i]);
        V += (i + 1) * (left[5 + i] - left[3 - i]);
    }
    Fill<8>(dst, stride, 16 * (left[8] + top[8]), (34 * H + 32) >> 6, (34 * V + 32) >> 6);
}

}  // namespace

void InstallIntraPlaneSse2(KernelSet &ks) {
    ks.intra16x16[3] = PredPlane16x16Sse2;
    ks.intraChroma[3] = PredPlaneChromaSse2;
}

}  // namespace tessaly::h264
