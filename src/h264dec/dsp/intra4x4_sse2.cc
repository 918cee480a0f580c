// 4x4 luma intra prediction with SSE2. The neighbours go into one register
// in the layout of intra_edge.h (left column bottom to top, corner, top,
// top-right, a copy of the last top-right sample); every directional mode
// is then a 2-tap average or 3-tap filter of that line, and each output row
// a byte-shifted window of it. Vertical keeps the C kernel (one 4-byte copy
// per row either way).
#include "h264dec/dsp/intra_sse2.h"
#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

using namespace intra_sse2;

// The edge line; missing neighbours read as 128 like the C kernels, a
// missing top-right repeats the last top sample.
inline __m128i Gather(const uint8_t *dst, ptrdiff_t stride, int avail) {
    uint64_t top = Splat8(128);
    if (avail & kAvailTop) {
        uint32_t t, tr;
        std::memcpy(&t, dst - stride, 4);
        if (avail & kAvailTopRight)
            std::memcpy(&tr, dst - stride + 4, 4);
        else
            tr = (t >> 24) * 0x01010101u;
        top = t | static_cast<uint64_t>(tr) << 32;
    }
    uint64_t low = 0x80808080u;
    if (avail & kAvailLeft)
        low = dst[3 * stride - 1] | dst[2 * stride - 1] << 8 | dst[stride - 1] << 16 |
              static_cast<uint32_t>(dst[-1]) << 24;
    low |= static_cast<uint64_t>((avail & kAvailTopLeft) ? dst[-stride - 1] : 128) << 32;
    const __m128i e = _mm_or_si128(_mm_set_epi64x(0, static_cast<int64_t>(low)),
                                   _mm_slli_si128(_mm_set_epi64x(0, static_cast<int64_t>(top)), 5));
    return _mm_insert_epi16(e, static_cast<int>(top >> 56) * 0x101, 6);  // bytes 12, 13: last top-right
}

// t[k] = (e[k-1] + 2 e[k] + e[k+1] + 2) >> 2 and a[k] = (e[k] + e[k+1] + 1) >> 1.
inline __m128i Taps(__m128i e) { return Tap3(_mm_slli_si128(e, 1), e, _mm_srli_si128(e, 1)); }
inline __m128i Avgs(__m128i e) { return _mm_avg_epu8(e, _mm_srli_si128(e, 1)); }

// Row y of the block is bytes [s_y, s_y + 4) of line_y.
template <int S0, int S1, int S2, int S3>
inline void Rows(uint8_t *dst, ptrdiff_t stride, __m128i l0, __m128i l1, __m128i l2, __m128i l3) {
    StoreRow<4>(dst, _mm_srli_si128(l0, S0));
    StoreRow<4>(dst + stride, _mm_srli_si128(l1, S1));
    StoreRow<4>(dst + 2 * stride, _mm_srli_si128(l2, S2));
    StoreRow<4>(dst + 3 * stride, _mm_srli_si128(l3, S3));
}

void PredHorizontal4x4Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    for (int y = 0; y < 4; y++) {
        const uint32_t row = ((avail & kAvailLeft) ? dst[y * stride - 1] : 128) * 0x01010101u;
        std::memcpy(dst + y * stride, &row, 4);
    }
}

void PredDc4x4Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const bool hasTop = avail & kAvailTop, hasLeft = avail & kAvailLeft;
    const int top = hasTop ? SumBytes<4>(dst - stride) : 0;
    const int left = hasLeft ? SumLeft<4>(dst, stride) : 0;
    const int dc = hasTop && hasLeft ? (top + left + 4) >> 3
                   : hasTop          ? (top + 2) >> 2
                   : hasLeft         ? (left + 2) >> 2
                                     : 128;
    const uint32_t row = static_cast<uint32_t>(dc) * 0x01010101u;
    for (int y = 0; y < 4; y++) std::memcpy(dst + y * stride, &row, 4);
}

void PredDiagonalDownLeft4x4Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const __m128i t = Taps(Gather(dst, stride, avail & ~kAvailLeft));
    Rows<6, 7, 8, 9>(dst, stride, t, t, t, t);
}

void PredDiagonalDownRight4x4Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const __m128i t = Taps(Gather(dst, stride, avail & ~kAvailTopRight));
    Rows<4, 3, 2, 1>(dst, stride, t, t, t, t);
}

// Even rows continue the averages of the top row leftwards with the 3-tap
// at e[3], odd rows the 3-taps of the top row with the 3-tap at e[2].
void PredVerticalRight4x4Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const __m128i e = Gather(dst, stride, avail & ~kAvailTopRight);
    const __m128i t = Taps(e);
    const __m128i byte3 = _mm_cvtsi32_si128(static_cast<int>(0xff000000u));
    const __m128i even = _mm_or_si128(_mm_andnot_si128(byte3, Avgs(e)), _mm_and_si128(byte3, t));
    const __m128i odd = _mm_or_si128(_mm_andnot_si128(byte3, t), _mm_and_si128(byte3, _mm_slli_si128(t, 1)));
    Rows<4, 4, 3, 3>(dst, stride, even, odd, even, odd);
}

// Pairs (average, 3-tap) walking up the left column, then the 3-taps of the
// top row; each row starts one pair further down.
void PredHorizontalDown4x4Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const __m128i e = Gather(dst, stride, avail & ~kAvailTopRight);
    const __m128i t = Taps(e);
    const __m128i line = _mm_unpacklo_epi64(_mm_unpacklo_epi8(Avgs(e), _mm_srli_si128(t, 1)), _mm_srli_si128(t, 5));
    Rows<6, 4, 2, 0>(dst, stride, line, line, line, line);
}

void PredVerticalLeft4x4Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const __m128i e = Gather(dst, stride, avail & ~kAvailLeft);
    const __m128i a = Avgs(e), t = Taps(e);
    Rows<5, 6, 6, 7>(dst, stride, a, t, a, t);
}

// Pairs (average, 3-tap) walking down the left column, which is extended
// with copies of its last sample.
void PredHorizontalUp4x4Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    uint64_t l = Splat8(128);
    if (avail & kAvailLeft) {
        const uint8_t last = dst[3 * stride - 1];
        l = dst[-1] | dst[stride - 1] << 8 | dst[2 * stride - 1] << 16 | (Splat8(last) << 24);
    }
    const __m128i e = _mm_set_epi64x(0, static_cast<int64_t>(l));
    const __m128i a = _mm_avg_epu8(e, _mm_srli_si128(e, 1));
    const __m128i e1 = _mm_srli_si128(e, 1), e2 = _mm_srli_si128(e, 2);
    // Only pairs up to index 4 reach the block, so the zeros beyond byte 7
    // never matter.
    const __m128i line = _mm_unpacklo_epi8(a, Tap3(e, e1, e2));
    Rows<0, 2, 4, 6>(dst, stride, line, line, line, line);
}

}  // namespace

void InstallIntra4x4Sse2(KernelSet &ks) {
    ks.intra4x4[1] = PredHorizontal4x4Sse2;
    ks.intra4x4[2] = PredDc4x4Sse2;
    ks.intra4x4[3] = PredDiagonalDownLeft4x4Sse2;
    ks.intra4x4[4] = PredDiagonalDownRight4x4Sse2;
    ks.intra4x4[5] = PredVerticalRight4x4Sse2;
    ks.intra4x4[6] = PredHorizontalDown4x4Sse2;
    ks.intra4x4[7] = PredVerticalLeft4x4Sse2;
    ks.intra4x4[8] = PredHorizontalUp4x4Sse2;
}

}  // namespace tessaly::h264
