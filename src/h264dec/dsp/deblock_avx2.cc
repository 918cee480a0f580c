// Luma edge filters with AVX2: the 16 lines of an edge fill one register of
// 16-bit lanes, so the filter arithmetic runs once instead of twice. Same
// arithmetic as the SSE2 kernels (see deblock_sse2.cc) and the C ones.
#include <immintrin.h>

#include "h264dec/dsp/deblock_transpose.h"
#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

inline __m256i AbsDiff(__m256i a, __m256i b) { return _mm256_abs_epi16(_mm256_sub_epi16(a, b)); }
inline __m256i Clip(__m256i v, __m256i lo, __m256i hi) { return _mm256_min_epi16(_mm256_max_epi16(v, lo), hi); }
inline __m256i Select(__m256i mask, __m256i a, __m256i b) { return _mm256_blendv_epi8(b, a, mask); }
inline __m256i Widen(__m128i v) { return _mm256_cvtepu8_epi16(v); }
inline __m128i Narrow(__m256i v) { return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)); }

inline __m256i EdgeMask(__m256i p1, __m256i p0, __m256i q0, __m256i q1, __m256i alpha, __m256i beta) {
    const __m256i a = _mm256_cmpgt_epi16(alpha, AbsDiff(p0, q0));
    const __m256i b = _mm256_and_si256(_mm256_cmpgt_epi16(beta, AbsDiff(p1, p0)), _mm256_cmpgt_epi16(beta, AbsDiff(q1, q0)));
    return _mm256_and_si256(a, b);
}

// rows[k]: p3, p2, p1, p0, q0, q1, q2, q3 of the 16 lines; p2..q2 are updated.
template <bool kStrong>
inline void LumaFilter16(__m128i (&rows)[8], int alpha, int beta, const int8_t *tc0) {
    const __m256i va = _mm256_set1_epi16(static_cast<int16_t>(alpha)), vb = _mm256_set1_epi16(static_cast<int16_t>(beta));
    const __m256i p0 = Widen(rows[3]), p1 = Widen(rows[2]), p2 = Widen(rows[1]);
    const __m256i q0 = Widen(rows[4]), q1 = Widen(rows[5]), q2 = Widen(rows[6]);
    const __m256i mask = EdgeMask(p1, p0, q0, q1, va, vb);
    if constexpr (kStrong) {
        const __m256i p3 = Widen(rows[0]), q3 = Widen(rows[7]);
        const __m256i two = _mm256_set1_epi16(2), four = _mm256_set1_epi16(4);
        const __m256i small = _mm256_cmpgt_epi16(_mm256_add_epi16(_mm256_srai_epi16(va, 2), two), AbsDiff(p0, q0));
        const __m256i ap = _mm256_and_si256(small, _mm256_cmpgt_epi16(vb, AbsDiff(p2, p0)));
        const __m256i aq = _mm256_and_si256(small, _mm256_cmpgt_epi16(vb, AbsDiff(q2, q0)));
        const __m256i p0q0 = _mm256_add_epi16(p0, q0);
        const __m256i sp = _mm256_add_epi16(_mm256_add_epi16(p1, p0q0), p2);
        const __m256i sq = _mm256_add_epi16(_mm256_add_epi16(q1, p0q0), q2);
        const __m256i p0s = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(sp, _mm256_add_epi16(p1, p0q0)), _mm256_add_epi16(q1, four)), 3);
        const __m256i q0s = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(sq, _mm256_add_epi16(q1, p0q0)), _mm256_add_epi16(p1, four)), 3);
        const __m256i p1s = _mm256_srli_epi16(_mm256_add_epi16(sp, two), 2);
        const __m256i q1s = _mm256_srli_epi16(_mm256_add_epi16(sq, two), 2);
        const __m256i p2s = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(sp, _mm256_slli_epi16(_mm256_add_epi16(p3, p2), 1)), four), 3);
        const __m256i q2s = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(sq, _mm256_slli_epi16(_mm256_add_epi16(q3, q2), 1)), four), 3);
        const __m256i p0w = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(_mm256_slli_epi16(p1, 1), p0), _mm256_add_epi16(q1, two)), 2);
        const __m256i q0w = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(_mm256_slli_epi16(q1, 1), q0), _mm256_add_epi16(p1, two)), 2);
        const __m256i mp = _mm256_and_si256(mask, ap), mq = _mm256_and_si256(mask, aq);
        rows[3] = Narrow(Select(mask, Select(ap, p0s, p0w), p0));
        rows[2] = Narrow(Select(mp, p1s, p1));
        rows[1] = Narrow(Select(mp, p2s, p2));
        rows[4] = Narrow(Select(mask, Select(aq, q0s, q0w), q0));
        rows[5] = Narrow(Select(mq, q1s, q1));
        rows[6] = Narrow(Select(mq, q2s, q2));
    } else {
        const int16_t t0 = tc0[0], t1 = tc0[1], t2 = tc0[2], t3 = tc0[3];
        const __m256i vt0 = _mm256_setr_epi16(t0, t0, t0, t0, t1, t1, t1, t1, t2, t2, t2, t2, t3, t3, t3, t3);
        const __m256i zero = _mm256_setzero_si256();
        const __m256i live = _mm256_and_si256(mask, _mm256_cmpgt_epi16(vt0, _mm256_set1_epi16(-1)));
        const __m256i ap = _mm256_and_si256(live, _mm256_cmpgt_epi16(vb, AbsDiff(p2, p0)));
        const __m256i aq = _mm256_and_si256(live, _mm256_cmpgt_epi16(vb, AbsDiff(q2, q0)));
        const __m256i tc = _mm256_sub_epi16(_mm256_sub_epi16(vt0, ap), aq);
        const __m256i raw = _mm256_srai_epi16(
            _mm256_add_epi16(_mm256_add_epi16(_mm256_slli_epi16(_mm256_sub_epi16(q0, p0), 2), _mm256_sub_epi16(p1, q1)), _mm256_set1_epi16(4)), 3);
        const __m256i delta = _mm256_and_si256(live, Clip(raw, _mm256_sub_epi16(zero, tc), tc));
        const __m256i avg = _mm256_avg_epu16(p0, q0);
        const __m256i nt0 = _mm256_sub_epi16(zero, vt0);
        const __m256i dp1 = Clip(_mm256_srai_epi16(_mm256_sub_epi16(_mm256_add_epi16(p2, avg), _mm256_slli_epi16(p1, 1)), 1), nt0, vt0);
        const __m256i dq1 = Clip(_mm256_srai_epi16(_mm256_sub_epi16(_mm256_add_epi16(q2, avg), _mm256_slli_epi16(q1, 1)), 1), nt0, vt0);
        rows[2] = Narrow(_mm256_add_epi16(p1, _mm256_and_si256(ap, dp1)));
        rows[5] = Narrow(_mm256_add_epi16(q1, _mm256_and_si256(aq, dq1)));
        rows[3] = Narrow(_mm256_add_epi16(p0, delta));
        rows[4] = Narrow(_mm256_sub_epi16(q0, delta));
    }
}

template <bool kStrong>
void LumaH(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t *tc0) {
    __m128i rows[8];
    for (int k = 0; k < 8; k++) rows[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pix + (k - 4) * stride));
    LumaFilter16<kStrong>(rows, alpha, beta, tc0);
    for (int k = 1; k < 7; k++) _mm_storeu_si128(reinterpret_cast<__m128i *>(pix + (k - 4) * stride), rows[k]);
}

template <bool kStrong>
void LumaV(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t *tc0) {
    __m128i cols[8];
    LoadTransposed16x8(pix - 4, stride, cols);
    LumaFilter16<kStrong>(cols, alpha, beta, tc0);
    StoreTransposed8x16(pix - 4, stride, cols);
}

void LumaEdgeH(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
    if ((tc0[0] & tc0[1] & tc0[2] & tc0[3]) < 0) return;
    LumaH<false>(pix, stride, alpha, beta, tc0);
}
void LumaEdgeV(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
    if ((tc0[0] & tc0[1] & tc0[2] & tc0[3]) < 0) return;
    LumaV<false>(pix, stride, alpha, beta, tc0);
}
void LumaEdgeHStrong(uint8_t *pix, ptrdiff_t stride, int alpha, int beta) { LumaH<true>(pix, stride, alpha, beta, nullptr); }
void LumaEdgeVStrong(uint8_t *pix, ptrdiff_t stride, int alpha, int beta) { LumaV<true>(pix, stride, alpha, beta, nullptr); }

}  // namespace

void InstallDeblockAvx2(KernelSet &ks) {
    ks.lumaEdgeV = LumaEdgeV;
    ks.lumaEdgeH = LumaEdgeH;
    ks.lumaEdgeVStrong = LumaEdgeVStrong;
    ks.lumaEdgeHStrong = LumaEdgeHStrong;
}

}  // namespace tessaly::h264
