// 16-wide luma quarter-sample interpolation with AVX2: a row of 16 samples
// is one register of 16-bit lanes, half the instructions of the SSE2 rows.
// The 6-tap arithmetic is luma_mc_simd.h's, shared with the SSE2 kernels.
#include <immintrin.h>

#include "h264dec/dsp/kernels_simd.h"
#include "h264dec/dsp/luma_mc_simd.h"
#include "h264dec/dsp/luma_mc_table.h"

namespace tessaly::h264 {
namespace {

constexpr int kMaxH = 16;

inline __m256i Load16(const uint8_t *p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}
inline __m128i Load16Bytes(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
inline void Store16(uint8_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

// 16 signed 16-bit lanes to 16 clipped bytes, in order.
inline __m128i PackBytes(__m256i v) {
    return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

inline __m128i Round5ToBytes(__m256i sum) { return PackBytes(Round5<Vec256>(sum)); }

inline __m256i SumH(const uint8_t *s) {
    return Tap6<Vec256>(Load16(s - 2), Load16(s - 1), Load16(s), Load16(s + 1), Load16(s + 2), Load16(s + 3));
}

inline __m128i RowV(const uint8_t *s, ptrdiff_t ss) {
    return Round5ToBytes(Tap6<Vec256>(Load16(s - 2 * ss), Load16(s - ss), Load16(s), Load16(s + ss), Load16(s + 2 * ss),
                                      Load16(s + 3 * ss)));
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
            if constexpr (MX == 2 && MY != 2) v = _mm_avg_epu8(v, Round5ToBytes(mid[y + 2 + (MY == 3 ? 1 : 0)]));
            if constexpr (MX != 2) v = _mm_avg_epu8(v, RowV(right + y * ss, ss));
            Store16(dst + y * ds, v);
        }
    } else {  // e, g, p, r
        for (int y = 0; y < h; y++)
            Store16(dst + y * ds, _mm_avg_epu8(Round5ToBytes(SumH(down + y * ss)), RowV(right + y * ss, ss)));
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
