// 16-wide luma quarter-sample interpolation with AVX-512BW: two rows of 16
// samples in one register of 16-bit lanes, half the instructions of the AVX2
// rows. The 6-tap arithmetic is luma_mc_simd.h's, as for SSE2 and AVX2.
// Blocks are 4, 8 or 16 rows high, so rows always come in pairs.
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
inline __m512i Widen(__m256i v) { return _mm512_cvtepu8_epi16(v); }
inline void StorePair(uint8_t *p, ptrdiff_t stride, __m256i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p + stride), _mm256_extracti128_si256(v, 1));
}

// 32 signed 16-bit lanes to 32 clipped bytes, in order.
inline __m256i PackBytes(__m512i v) {
    return _mm512_cvtepi16_epi8(_mm512_min_epi16(_mm512_max_epi16(v, _mm512_setzero_si512()), _mm512_set1_epi16(255)));
}
inline __m256i Round5ToBytes(__m512i sum) { return PackBytes(Round5<Vec512>(sum)); }

// Unrounded horizontal 6-tap sums of rows s and s + ss.
inline __m512i SumH(const uint8_t *s, ptrdiff_t ss) {
    return Tap6<Vec512>(Widen(LoadPair(s - 2, ss)), Widen(LoadPair(s - 1, ss)), Widen(LoadPair(s, ss)),
                        Widen(LoadPair(s + 1, ss)), Widen(LoadPair(s + 2, ss)), Widen(LoadPair(s + 3, ss)));
}

inline __m256i PairV(const uint8_t *s, ptrdiff_t ss) {
    return Round5ToBytes(Tap6<Vec512>(Widen(LoadPair(s - 2 * ss, ss)), Widen(LoadPair(s - ss, ss)),
                                      Widen(LoadPair(s, ss)), Widen(LoadPair(s + ss, ss)),
                                      Widen(LoadPair(s + 2 * ss, ss)), Widen(LoadPair(s + 3 * ss, ss))));
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
        for (int y = 0; y < h; y += 2) {
            __m256i v = PairV(src + y * ss, ss);
            if constexpr (MY != 2) v = _mm256_avg_epu8(v, LoadPair(down + y * ss, ss));
            StorePair(dst + y * ds, ds, v);
        }
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
        for (int y = 0; y < h; y += 2) {
            const __m512i *m = pairs + y;
            __m256i v = PackBytes(Tap6Mid<Vec512>(m[0], m[1], m[2], m[3], m[4], m[5]));
            if constexpr (MX == 2 && MY != 2) v = _mm256_avg_epu8(v, Round5ToBytes(m[2 + (MY == 3 ? 1 : 0)]));
            if constexpr (MX != 2) v = _mm256_avg_epu8(v, PairV(right + y * ss, ss));
            StorePair(dst + y * ds, ds, v);
        }
    } else {  // e, g, p, r
        for (int y = 0; y < h; y += 2)
            StorePair(dst + y * ds, ds,
                      _mm256_avg_epu8(Round5ToBytes(SumH(down + y * ss, ss)), PairV(right + y * ss, ss)));
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
