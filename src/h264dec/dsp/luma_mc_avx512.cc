// 16-wide luma quarter-sample interpolation with AVX-512BW: the AVX2
// kernels' byte-pair multiply-adds for two rows of 16 samples at once, one
// row in each 256-bit half; j's second pass is luma_mc_simd.h's. Blocks are
// 4, 8 or 16 rows high, so rows always come in pairs.
#include <immintrin.h>

#include "h264dec/dsp/kernels_simd.h"
#include "h264dec/dsp/luma_mc_simd.h"
#include "h264dec/dsp/luma_mc_table.h"

namespace tessaly::h264 {
namespace {

constexpr int kMaxH = 16;

// Rows p and p + stride, 16 bytes each, low row first.
inline __m256i LoadPair(const uint8_t *p, ptrdiff_t stride) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + stride)), 1);
}
inline void StorePair(uint8_t *p, ptrdiff_t stride, __m256i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p + stride), _mm256_extracti128_si256(v, 1));
}

// 32 signed 16-bit lanes to 32 clipped bytes, in order.
inline __m256i PackBytes(__m512i v) {
    return _mm512_cvtepi16_epi8(_mm512_min_epi16(_mm512_max_epi16(v, _mm512_setzero_si512()), _mm512_set1_epi16(255)));
}
inline __m256i Round5ToBytes(__m512i sum) { return PackBytes(Round5<Vec512>(sum)); }

inline __m512i Outer0() { return _mm512_set1_epi16(kTapPairOuter0); }
inline __m512i Inner() { return _mm512_set1_epi16(kTapPairInner); }
inline __m512i Outer4() { return _mm512_set1_epi16(kTapPairOuter4); }

// One row's samples for the horizontal pairs: s[-2..13] for outputs 0..7,
// s[3..18] for 8..15 (nothing outside the allowed window).
inline __m256i HorizontalSource(const uint8_t *s) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s - 2))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 3)), 1);
}

// Unrounded horizontal 6-tap sums of rows s and s + ss: pairs (s[x-2],
// s[x-1]), (s[x], s[x+1]), (s[x+2], s[x+3]) picked per 128-bit quarter.
inline __m512i SumH(const uint8_t *s, ptrdiff_t ss) {
    const __m512i v = _mm512_inserti64x4(_mm512_castsi256_si512(HorizontalSource(s)), HorizontalSource(s + ss), 1);
    const __m512i pairs0 = _mm512_broadcast_i64x4(_mm256_setr_epi8(0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8,  //
                                                                   3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11));
    const __m512i pairs2 =
        _mm512_broadcast_i64x4(_mm256_setr_epi8(2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10,  //
                                                5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13));
    const __m512i pairs4 =
        _mm512_broadcast_i64x4(_mm256_setr_epi8(4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12,  //
                                                7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15));
    const __m512i a = _mm512_maddubs_epi16(_mm512_shuffle_epi8(v, pairs0), Outer0());
    const __m512i b = _mm512_maddubs_epi16(_mm512_shuffle_epi8(v, pairs2), Inner());
    const __m512i c = _mm512_maddubs_epi16(_mm512_shuffle_epi8(v, pairs4), Outer4());
    return _mm512_add_epi16(_mm512_add_epi16(a, c), b);
}

inline __m128i LoadRow(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }

// Rows a and b interleaved byte by byte, columns 0..7 then 8..15.
inline __m256i Interleave(__m128i a, __m128i b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi8(a, b)), _mm_unpackhi_epi8(a, b), 1);
}
inline __m512i Join(__m256i lo, __m256i hi) { return _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1); }

// The rounded vertical 6-tap rows of the 16 columns at s, two at a time:
// row(y, bytes of rows y and y + 1). Output row r is the multiply-add of the
// interleaved source row pairs (r-2, r-1), (r, r+1), (r+2, r+3); each pair is
// made once and each source row loaded once.
template <typename Row>
inline void ForEachPairV(const uint8_t *s, ptrdiff_t ss, int h, Row row) {
    const __m128i m2 = LoadRow(s - 2 * ss), m1 = LoadRow(s - ss), r0 = LoadRow(s), r1 = LoadRow(s + ss);
    __m128i last = LoadRow(s + 2 * ss);
    __m512i z0 = Join(Interleave(m2, m1), Interleave(m1, r0));    // pairs for rows y, y + 1: (y-2, y-1)
    __m512i z1 = Join(Interleave(r0, r1), Interleave(r1, last));  // (y, y+1)
    for (int y = 0; y < h; y += 2) {
        const __m128i a = LoadRow(s + (y + 3) * ss), b = LoadRow(s + (y + 4) * ss);
        const __m512i z2 = Join(Interleave(last, a), Interleave(a, b));  // (y+2, y+3)
        const __m512i sum =
            _mm512_add_epi16(_mm512_add_epi16(_mm512_maddubs_epi16(z0, Outer0()), _mm512_maddubs_epi16(z2, Outer4())),
                             _mm512_maddubs_epi16(z1, Inner()));
        row(y, Round5ToBytes(sum));
        z0 = z1;
        z1 = z2;
        last = b;
    }
}

// The high row of a and the low row of b: the pair between two pairs.
inline __m512i Between(__m512i a, __m512i b) { return _mm512_shuffle_i64x2(a, b, _MM_SHUFFLE(1, 0, 3, 2)); }

template <int MX, int MY>
void LumaMc16Avx512(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h) {
    const uint8_t *right = src + (MX == 3 ? 1 : 0);
    const uint8_t *down = src + (MY == 3 ? ss : 0);
    if constexpr (MY == 0) {  // a, b, c
        for (int y = 0; y < h; y += 2) {
            __m256i v = Round5ToBytes(SumH(src + y * ss, ss));
            if constexpr (MX != 2) v = _mm256_avg_epu8(v, LoadPair(right + y * ss, ss));
            StorePair(dst + y * ds, ds, v);
        }
    } else if constexpr (MX == 0) {  // d, h, n
        ForEachPairV(src, ss, h, [&](int y, __m256i v) {
            if constexpr (MY != 2) v = _mm256_avg_epu8(v, LoadPair(down + y * ss, ss));
            StorePair(dst + y * ds, ds, v);
        });
    } else if constexpr (MX == 2 || MY == 2) {  // j; f, q; i, k
        // pairs[i]: the sums of window rows i and i + 1 (window row 0 is two
        // above the block). Even pairs are computed, odd ones taken from
        // their neighbours; the last even pair would reach a row below the
        // window, so it repeats its one row.
        __m512i pairs[kMaxH + 5];
        const uint8_t *s = src - 2 * ss;
        for (int i = 0; i < h + 4; i += 2) pairs[i] = SumH(s + i * ss, ss);
        pairs[h + 4] = SumH(s + (h + 4) * ss, 0);
        for (int i = 1; i < h + 4; i += 2) pairs[i] = Between(pairs[i - 1], pairs[i + 1]);
        auto centre = [&](int y) {
            const __m512i *m = pairs + y;
            return PackBytes(Tap6Mid<Vec512>(m[0], m[1], m[2], m[3], m[4], m[5]));
        };
        if constexpr (MX != 2) {  // i, k: j averaged with the vertical half-sample column
            ForEachPairV(right, ss, h,
                         [&](int y, __m256i v) { StorePair(dst + y * ds, ds, _mm256_avg_epu8(centre(y), v)); });
        } else {
            for (int y = 0; y < h; y += 2) {
                __m256i v = centre(y);
                if constexpr (MY != 2) v = _mm256_avg_epu8(v, Round5ToBytes(pairs[y + 2 + (MY == 3 ? 1 : 0)]));
                StorePair(dst + y * ds, ds, v);
            }
        }
    } else {  // e, g, p, r
        ForEachPairV(right, ss, h, [&](int y, __m256i v) {
            StorePair(dst + y * ds, ds, _mm256_avg_epu8(Round5ToBytes(SumH(down + y * ss, ss)), v));
        });
    }
}

}  // namespace

void InstallLumaMcAvx512(KernelSet &ks) {
    // Position 0 stays the SSE2 copy.
    FillLumaMcTable(ks.lumaMc[0], [](auto mx, auto my) -> LumaMcFn {
        if constexpr (mx == 0 && my == 0)
            return nullptr;
        else
            return LumaMc16Avx512<mx, my>;
    });
}

}  // namespace tessaly::h264
