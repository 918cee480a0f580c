// Luma quarter-sample interpolation with SSE2.
//
// Same plane decomposition as the C kernels (G, b, h, j and their averages),
// eight or sixteen samples at a time, with the 6-tap arithmetic of
// luma_mc_simd.h; j's second pass runs on the unrounded 16-bit horizontal
// sums. The rounded average of two planes is pavgb, which is (a + b + 1) >> 1
// exactly.
//
// Loads never go past the documented window: 4-wide rows load 4 bytes per
// tap, 8-wide rows 8 and 16-wide rows 16.
#include <emmintrin.h>

#include <cstring>

#include "h264dec/dsp/kernels_simd.h"
#include "h264dec/dsp/luma_mc_simd.h"
#include "h264dec/dsp/luma_mc_table.h"

namespace tessaly::h264 {
namespace {

constexpr int kMaxH = 16;  // tallest block

// W samples from p into the low bytes of a register.
template <int W>
inline __m128i LoadRow(const uint8_t *p) {
    if constexpr (W == 16) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    } else if constexpr (W == 8) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
    } else {
        int v;
        std::memcpy(&v, p, 4);
        return _mm_cvtsi32_si128(v);
    }
}

template <int W>
inline void StoreRow(uint8_t *p, __m128i v) {
    if constexpr (W == 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
    } else if constexpr (W == 8) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(p), v);
    } else {
        const int x = _mm_cvtsi128_si32(v);
        std::memcpy(p, &x, 4);
    }
}

inline __m128i Lo16(__m128i v) { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }
inline __m128i Hi16(__m128i v) { return _mm_unpackhi_epi8(v, _mm_setzero_si128()); }

// (sum + 16) >> 5, clipped, for one or two halves.
inline __m128i Round5ToBytes(__m128i lo, __m128i hi) {
    return _mm_packus_epi16(Round5<Vec128>(lo), Round5<Vec128>(hi));
}

// Unrounded horizontal sums of one row: lanes 0..7 in lo, 8..15 in hi (W 16).
template <int W>
inline void SumH(const uint8_t *s, __m128i &lo, __m128i &hi) {
    const __m128i a = LoadRow<W>(s - 2), b = LoadRow<W>(s - 1), c = LoadRow<W>(s);
    const __m128i d = LoadRow<W>(s + 1), e = LoadRow<W>(s + 2), f = LoadRow<W>(s + 3);
    lo = Tap6<Vec128>(Lo16(a), Lo16(b), Lo16(c), Lo16(d), Lo16(e), Lo16(f));
    if constexpr (W == 16)
        hi = Tap6<Vec128>(Hi16(a), Hi16(b), Hi16(c), Hi16(d), Hi16(e), Hi16(f));
    else
        hi = lo;
}

template <int W>
inline __m128i RowH(const uint8_t *s) {
    __m128i lo, hi;
    SumH<W>(s, lo, hi);
    return Round5ToBytes(lo, hi);
}

template <int W>
inline __m128i RowV(const uint8_t *s, ptrdiff_t ss) {
    const __m128i a = LoadRow<W>(s - 2 * ss), b = LoadRow<W>(s - ss), c = LoadRow<W>(s);
    const __m128i d = LoadRow<W>(s + ss), e = LoadRow<W>(s + 2 * ss), f = LoadRow<W>(s + 3 * ss);
    const __m128i lo = Tap6<Vec128>(Lo16(a), Lo16(b), Lo16(c), Lo16(d), Lo16(e), Lo16(f));
    if constexpr (W == 16)
        return Round5ToBytes(lo, Tap6<Vec128>(Hi16(a), Hi16(b), Hi16(c), Hi16(d), Hi16(e), Hi16(f)));
    else
        return Round5ToBytes(lo, lo);
}

// The horizontal sums of rows -2..h+2, 16 lanes a row (W 16 uses both halves).
struct MidPlane {
    alignas(16) __m128i lo[kMaxH + 5], hi[kMaxH + 5];
};

template <int W>
inline void FillMid(MidPlane &m, const uint8_t *src, ptrdiff_t ss, int h) {
    const uint8_t *s = src - 2 * ss;
    for (int y = 0; y < h + 5; y++, s += ss) SumH<W>(s, m.lo[y], m.hi[y]);
}

template <int W>
inline __m128i RowJ(const MidPlane &m, int y) {
    const __m128i lo = Tap6Mid<Vec128>(m.lo[y], m.lo[y + 1], m.lo[y + 2], m.lo[y + 3], m.lo[y + 4], m.lo[y + 5]);
    if constexpr (W == 16) {
        const __m128i hi = Tap6Mid<Vec128>(m.hi[y], m.hi[y + 1], m.hi[y + 2], m.hi[y + 3], m.hi[y + 4], m.hi[y + 5]);
        return _mm_packus_epi16(lo, hi);
    } else {
        return _mm_packus_epi16(lo, lo);
    }
}

// b recovered from the stored sums of row y (index y + 2 in the plane).
template <int W>
inline __m128i RowBFromMid(const MidPlane &m, int y) {
    return Round5ToBytes(m.lo[y + 2], W == 16 ? m.hi[y + 2] : m.lo[y + 2]);
}

template <int W, int MX, int MY>
void LumaMcSse2(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h) {
    const uint8_t *right = src + (MX == 3 ? 1 : 0);
    const uint8_t *down = src + (MY == 3 ? ss : 0);
    if constexpr (MX == 0 && MY == 0) {  // a copy; h is a multiple of 4
        for (int y = 0; y < h; y += 4, dst += 4 * ds, src += 4 * ss) {
            StoreRow<W>(dst, LoadRow<W>(src));
            StoreRow<W>(dst + ds, LoadRow<W>(src + ss));
            StoreRow<W>(dst + 2 * ds, LoadRow<W>(src + 2 * ss));
            StoreRow<W>(dst + 3 * ds, LoadRow<W>(src + 3 * ss));
        }
    } else if constexpr (MY == 0) {  // a, b, c
        for (int y = 0; y < h; y++) {
            __m128i v = RowH<W>(src + y * ss);
            if constexpr (MX != 2) v = _mm_avg_epu8(v, LoadRow<W>(right + y * ss));
            StoreRow<W>(dst + y * ds, v);
        }
    } else if constexpr (MX == 0) {  // d, h, n
        for (int y = 0; y < h; y++) {
            __m128i v = RowV<W>(src + y * ss, ss);
            if constexpr (MY != 2) v = _mm_avg_epu8(v, LoadRow<W>(down + y * ss));
            StoreRow<W>(dst + y * ds, v);
        }
    } else if constexpr (MX == 2) {  // j, and f, q: j with b of this or the next line
        MidPlane m;
        FillMid<W>(m, src, ss, h);
        for (int y = 0; y < h; y++) {
            __m128i v = RowJ<W>(m, y);
            if constexpr (MY != 2) v = _mm_avg_epu8(v, RowBFromMid<W>(m, y + (MY == 3 ? 1 : 0)));
            StoreRow<W>(dst + y * ds, v);
        }
    } else if constexpr (MY == 2) {  // i, k: j with h of this or the next column
        MidPlane m;
        FillMid<W>(m, src, ss, h);
        for (int y = 0; y < h; y++) StoreRow<W>(dst + y * ds, _mm_avg_epu8(RowJ<W>(m, y), RowV<W>(right + y * ss, ss)));
    } else {  // e, g, p, r: b or s with h or m
        for (int y = 0; y < h; y++)
            StoreRow<W>(dst + y * ds, _mm_avg_epu8(RowH<W>(down + y * ss), RowV<W>(right + y * ss, ss)));
    }
}

template <int W>
void Install(LumaMcFn (&table)[16]) {
    FillLumaMcTable(table, [](auto mx, auto my) -> LumaMcFn { return LumaMcSse2<W, mx, my>; });
}

}  // namespace

void InstallLumaMcSse2(KernelSet &ks) {
    Install<16>(ks.lumaMc[0]);
    Install<8>(ks.lumaMc[1]);
    Install<4>(ks.lumaMc[2]);
}

}  // namespace tessaly::h264
