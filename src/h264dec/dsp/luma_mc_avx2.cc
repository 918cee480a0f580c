// 16-wide luma quarter-sample interpolation with AVX2: a row of 16 samples
// is one register of 16-bit lanes, half the instructions of the SSE2 rows.
// First-pass sums, horizontal and vertical, are byte-pair multiply-adds
// straight from the samples; j's second pass is luma_mc_simd.h's, as for SSE2.
#include <immintrin.h>

#include "h264dec/dsp/kernels_simd.h"
#include "h264dec/dsp/luma_mc_simd.h"
#include "h264dec/dsp/luma_mc_table.h"

namespace tessaly::h264 {
namespace {

constexpr int kMaxH = 16;

inline __m128i Load16Bytes(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
inline void Store16(uint8_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

// 16 signed 16-bit lanes to 16 clipped bytes, in order.
inline __m128i PackBytes(__m256i v) {
    return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

inline __m128i Round5ToBytes(__m256i sum) { return PackBytes(Round5<Vec256>(sum)); }

// The horizontal 6-tap sums of s[0..15], unrounded, as multiply-adds of byte
// pairs: (s[x-2], s[x-1]) by (1, -5), (s[x], s[x+1]) by (20, 20) and
// (s[x+2], s[x+3]) by (-5, 1), none of which can saturate. The low lane makes
// outputs 0..7 from s[-2..13], the high lane 8..15 from s[3..18]: nothing
// outside the window the table allows is read.
inline __m256i Outer0() { return _mm256_set1_epi16(kTapPairOuter0); }
inline __m256i Inner() { return _mm256_set1_epi16(kTapPairInner); }
inline __m256i Outer4() { return _mm256_set1_epi16(kTapPairOuter4); }

inline __m256i SumH(const uint8_t *s) {
    const __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(Load16Bytes(s - 2)), Load16Bytes(s + 3), 1);
    const __m256i pairs0 = _mm256_setr_epi8(0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8,  //
                                            3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11);
    const __m256i pairs2 = _mm256_setr_epi8(2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10,  //
                                            5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13);
    const __m256i pairs4 = _mm256_setr_epi8(4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12,  //
                                            7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15);
    const __m256i a = _mm256_maddubs_epi16(_mm256_shuffle_epi8(v, pairs0), Outer0());
    const __m256i b = _mm256_maddubs_epi16(_mm256_shuffle_epi8(v, pairs2), Inner());
    const __m256i c = _mm256_maddubs_epi16(_mm256_shuffle_epi8(v, pairs4), Outer4());
    return _mm256_add_epi16(_mm256_add_epi16(a, c), b);
}

// Rows a and b interleaved byte by byte, columns 0..7 in the low lane and
// 8..15 in the high one: the order SumH's lanes have.
inline __m256i Interleave(__m128i a, __m128i b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi8(a, b)), _mm_unpackhi_epi8(a, b), 1);
}

// The rounded vertical 6-tap rows 0..h-1 of the 16 columns at s, handed to
// row(y, bytes) in order. Output row y is the multiply-add of the interleaved
// row pairs (y-2, y-1), (y, y+1) and (y+2, y+3); each pair serves three
// output rows and each source row is loaded once.
template <typename Row>
inline void ForEachRowV(const uint8_t *s, ptrdiff_t ss, int h, Row row) {
    const __m128i above = Load16Bytes(s - ss), r0 = Load16Bytes(s), r1 = Load16Bytes(s + ss);
    __m128i last = Load16Bytes(s + 2 * ss);
    __m256i q0 = Interleave(Load16Bytes(s - 2 * ss), above), q1 = Interleave(above, r0);
    __m256i q2 = Interleave(r0, r1), q3 = Interleave(r1, last);
    for (int y = 0; y < h; y++) {
        const __m128i next = Load16Bytes(s + (y + 3) * ss);
        const __m256i q4 = Interleave(last, next);
        const __m256i sum =
            _mm256_add_epi16(_mm256_add_epi16(_mm256_maddubs_epi16(q0, Outer0()), _mm256_maddubs_epi16(q4, Outer4())),
                             _mm256_maddubs_epi16(q2, Inner()));
        row(y, Round5ToBytes(sum));
        q0 = q1;
        q1 = q2;
        q2 = q3;
        q3 = q4;
        last = next;
    }
}

// j's second pass, 16 columns at once.
inline __m128i RowJ(const __m256i *m) { return PackBytes(Tap6Mid<Vec256>(m[0], m[1], m[2], m[3], m[4], m[5])); }

template <int MX, int MY>
void LumaMc16Avx2(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h) {
    const uint8_t *right = src + (MX == 3 ? 1 : 0);
    const uint8_t *down = src + (MY == 3 ? ss : 0);
    if constexpr (MY == 0) {  // a, b, c
        for (int y = 0; y < h; y++) {
            __m128i v = Round5ToBytes(SumH(src + y * ss));
            if constexpr (MX != 2) v = _mm_avg_epu8(v, Load16Bytes(right + y * ss));
            Store16(dst + y * ds, v);
        }
    } else if constexpr (MX == 0) {  // d, h, n
        ForEachRowV(src, ss, h, [&](int y, __m128i v) {
            if constexpr (MY != 2) v = _mm_avg_epu8(v, Load16Bytes(down + y * ss));
            Store16(dst + y * ds, v);
        });
    } else if constexpr (MX == 2 || MY == 2) {  // j; f, q; i, k
        __m256i mid[kMaxH + 5];
        const uint8_t *s = src - 2 * ss;
        for (int y = 0; y < h + 5; y++, s += ss) mid[y] = SumH(s);
        if constexpr (MX != 2) {  // i, k: j averaged with the vertical half-sample column
            ForEachRowV(right, ss, h, [&](int y, __m128i v) { Store16(dst + y * ds, _mm_avg_epu8(RowJ(mid + y), v)); });
        } else {
            for (int y = 0; y < h; y++) {
                __m128i v = RowJ(mid + y);
                if constexpr (MY != 2) v = _mm_avg_epu8(v, Round5ToBytes(mid[y + 2 + (MY == 3 ? 1 : 0)]));
                Store16(dst + y * ds, v);
            }
        }
    } else {  // e, g, p, r
        ForEachRowV(right, ss, h, [&](int y, __m128i v) {
            Store16(dst + y * ds, _mm_avg_epu8(Round5ToBytes(SumH(down + y * ss)), v));
        });
    }
}

}  // namespace

void InstallLumaMcAvx2(KernelSet &ks) {
    // Position 0 stays the SSE2 copy.
    FillLumaMcTable(ks.lumaMc[0], [](auto mx, auto my) -> LumaMcFn {
        if constexpr (mx == 0 && my == 0)
            return nullptr;
        else
            return LumaMc16Avx2<mx, my>;
    });
}

}  // namespace tessaly::h264
