// 8x8 luma intra prediction with SSE2. The reference samples are gathered
// and low-pass filtered in two registers holding the edge line of
// intra_edge.h (lo: e[0..15], hi: e[16..31]); every mode then reads its
// rows as byte-shifted windows of that line or of its averages and 3-taps.
#include "h264dec/dsp/intra_sse2.h"
#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

using namespace intra_sse2;

struct Line {
    __m128i lo, hi;  // bytes 0..15 and 16..31
};

// Bytes [S, S + 8) of the line.
template <int S>
inline __m128i Window(const Line &l) {
    if constexpr (S == 0)
        return l.lo;
    else if constexpr (S < 16)
        return _mm_or_si128(_mm_srli_si128(l.lo, S), _mm_slli_si128(l.hi, 16 - S));
    else
        return _mm_srli_si128(l.hi, S - 16);
}

// Rows Y, Y + YStep, ... take the windows at S, S + Step, ...
template <int S, int Step, int Y, int YStep>
inline void Rows(uint8_t *dst, ptrdiff_t stride, const Line &l) {
    if constexpr (Y < 8) {
        StoreRow<8>(dst + Y * stride, Window<S>(l));
        Rows<S + Step, Step, Y + YStep, YStep>(dst, stride, l);
    }
}

inline __m128i Set128(__m128i v, __m128i mask) {
    return _mm_or_si128(_mm_andnot_si128(mask, v), _mm_and_si128(mask, _mm_set1_epi8(static_cast<char>(128))));
}

// Filtered neighbours, e[k] = 3-tap of the unfiltered line u[k-1..k+1]. The
// standard's end cases become padding of u: a copy of the last left and
// last top sample beyond the ends, and a missing corner or side replaced by
// the nearest available sample. Unavailable outputs read as 128 (a corrupt
// stream only).
Line GatherFiltered(const uint8_t *dst, ptrdiff_t stride, int avail) {
    const bool hasLeft = avail & kAvailLeft, hasTop = avail & kAvailTop, hasTopLeft = avail & kAvailTopLeft;
    const uint8_t *top = dst - stride;
    __m128i top16 = _mm_setzero_si128();
    int top15 = 0;
    if (hasTop) {
        const __m128i t = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(top));
        const bool hasTopRight = avail & kAvailTopRight;
        top15 = hasTopRight ? top[15] : top[7];
        top16 = _mm_unpacklo_epi64(t, hasTopRight ? _mm_loadl_epi64(reinterpret_cast<const __m128i *>(top + 8))
                                                  : _mm_set1_epi8(static_cast<char>(top15)));
    }
    uint64_t left = 0;  // byte i: left sample 7 - i
    if (hasLeft)
        for (int y = 0; y < 8; y++) left |= static_cast<uint64_t>(dst[y * stride - 1]) << (8 * (7 - y));
    const int left0 = static_cast<int>(left >> 56);
    const int corner = hasTopLeft ? top[-1] : hasTop ? top[0] : hasLeft ? left0 : 128;
    if (!hasTop) {
        top16 = _mm_set1_epi8(static_cast<char>(corner));
        top15 = corner;
    }
    if (!hasLeft) left = Splat8(corner);

    // u[0] = left 7, u[1..8] left 7..0, u[9] corner, u[10..25] top, u[26] top 15.
    __m128i lo = _mm_set_epi64x(0, static_cast<int64_t>((left << 8) | (left & 0xff)));
    lo = _mm_insert_epi16(lo, static_cast<int>(left >> 56) | corner << 8, 4);
    lo = _mm_or_si128(lo, _mm_slli_si128(top16, 10));
    const __m128i hi = _mm_insert_epi16(_mm_srli_si128(top16, 6), top15, 5);
    Line e{Tap3(lo, _mm_or_si128(_mm_srli_si128(lo, 1), _mm_slli_si128(hi, 15)),
                _mm_or_si128(_mm_srli_si128(lo, 2), _mm_slli_si128(hi, 14))),
           Tap3(hi, _mm_srli_si128(hi, 1), _mm_srli_si128(hi, 2))};
    e.hi = _mm_insert_epi16(e.hi, (_mm_extract_epi16(e.hi, 4) & 0xff) * 0x101, 4);  // e[25] = e[24]

    if (!hasLeft) e.lo = Set128(e.lo, _mm_set_epi64x(0, -1));
    if (!hasTop) {
        e.lo = Set128(e.lo, _mm_set_epi64x(static_cast<int64_t>(0xffffffffffffff00ull), 0));
        e.hi = Set128(e.hi, _mm_set_epi64x(0xffff, -1));  // through e[25]
    }
    if (!hasTopLeft) {
        e.lo = Set128(e.lo, _mm_set_epi64x(0xff, 0));
        if (hasLeft && hasTop) {  // the left end filters with itself, not the top
            const int left1 = static_cast<int>(left >> 48) & 0xff;
            const int word = (_mm_extract_epi16(e.lo, 3) & 0xff) | ((3 * left0 + left1 + 2) >> 2) << 8;
            e.lo = _mm_insert_epi16(e.lo, word, 3);
        }
    }
    return e;
}

// a[k] = (e[k] + e[k+1] + 1) >> 1 and t[k] = (e[k-1] + 2 e[k] + e[k+1] + 2) >> 2.
inline Line Avgs(const Line &e) {
    const __m128i next = _mm_or_si128(_mm_srli_si128(e.lo, 1), _mm_slli_si128(e.hi, 15));
    return {_mm_avg_epu8(e.lo, next), _mm_avg_epu8(e.hi, _mm_srli_si128(e.hi, 1))};
}
inline Line Taps(const Line &e) {
    const __m128i next = _mm_or_si128(_mm_srli_si128(e.lo, 1), _mm_slli_si128(e.hi, 15));
    const __m128i prev = _mm_or_si128(_mm_slli_si128(e.hi, 1), _mm_srli_si128(e.lo, 15));
    return {Tap3(_mm_slli_si128(e.lo, 1), e.lo, next), Tap3(prev, e.hi, _mm_srli_si128(e.hi, 1))};
}

void PredVertical8x8Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const Line e = GatherFiltered(dst, stride, avail);
    const Line row{Window<9>(e), _mm_setzero_si128()};
    Rows<0, 0, 0, 1>(dst, stride, row);
}

void PredHorizontal8x8Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    uint64_t left;
    _mm_storel_epi64(reinterpret_cast<__m128i *>(&left), GatherFiltered(dst, stride, avail).lo);
    for (int y = 0; y < 8; y++) {
        const uint64_t row = Splat8(static_cast<int>(left >> (8 * (7 - y))));
        std::memcpy(dst + y * stride, &row, 8);
    }
}

void PredDc8x8Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const Line e = GatherFiltered(dst, stride, avail);
    const __m128i sums = _mm_sad_epu8(_mm_unpacklo_epi64(e.lo, Window<9>(e)), _mm_setzero_si128());
    const int left = _mm_cvtsi128_si32(sums), top = _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
    const bool hasTop = avail & kAvailTop, hasLeft = avail & kAvailLeft;
    const int dc = hasTop && hasLeft ? (top + left + 8) >> 4
                   : hasTop          ? (top + 4) >> 3
                   : hasLeft         ? (left + 4) >> 3
                                     : 128;
    const uint64_t row = Splat8(dc);
    for (int y = 0; y < 8; y++) std::memcpy(dst + y * stride, &row, 8);
}

void PredDiagonalDownLeft8x8Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    Rows<10, 1, 0, 1>(dst, stride, Taps(GatherFiltered(dst, stride, avail)));
}

void PredDiagonalDownRight8x8Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    Rows<8, -1, 0, 1>(dst, stride, Taps(GatherFiltered(dst, stride, avail)));
}

// Even rows continue the averages of the top row leftwards with the 3-taps
// at e[7], e[5], e[3]; odd rows the 3-taps of the top row with those at
// e[6], e[4], e[2]. Row 2j (and 2j + 1) starts at byte 8 - j.
void PredVerticalRight8x8Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const Line e = GatherFiltered(dst, stride, avail);
    const __m128i t = Taps(e).lo, a = Avgs(e).lo, zero = _mm_setzero_si128();
    const __m128i evenTaps = _mm_packus_epi16(_mm_and_si128(t, _mm_set1_epi16(0xff)), zero);
    const __m128i oddTaps = _mm_packus_epi16(_mm_srli_epi16(t, 8), zero);
    const __m128i bytes5to7 = _mm_setr_epi32(0, static_cast<int>(0xffffff00u), 0, 0);
    const __m128i even =
        _mm_or_si128(_mm_andnot_si128(bytes5to7, a), _mm_and_si128(bytes5to7, _mm_slli_si128(oddTaps, 4)));
    const __m128i odd =
        _mm_or_si128(_mm_andnot_si128(bytes5to7, t), _mm_and_si128(bytes5to7, _mm_slli_si128(evenTaps, 4)));
    Rows<8, -1, 0, 2>(dst, stride, Line{even, zero});
    Rows<8, -1, 1, 2>(dst, stride, Line{odd, zero});
}

// Pairs (average, 3-tap) walking up the left column, then the 3-taps of the
// top row; each row starts one pair further down.
void PredHorizontalDown8x8Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const Line e = GatherFiltered(dst, stride, avail);
    const __m128i t = Taps(e).lo;
    Rows<14, -2, 0, 1>(dst, stride, Line{_mm_unpacklo_epi8(Avgs(e).lo, _mm_srli_si128(t, 1)), _mm_srli_si128(t, 9)});
}

void PredVerticalLeft8x8Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const Line e = GatherFiltered(dst, stride, avail);
    Rows<9, 1, 0, 2>(dst, stride, Avgs(e));
    Rows<10, 1, 1, 2>(dst, stride, Taps(e));
}

// Pairs (average, 3-tap) walking down the left column, which is extended
// with copies of its last sample.
void PredHorizontalUp8x8Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const __m128i lo = GatherFiltered(dst, stride, avail).lo;
    // Reverse e[0..7] into top-to-bottom order, then append e[0] copies.
    __m128i w = _mm_unpacklo_epi8(lo, _mm_setzero_si128());
    w = _mm_shuffle_epi32(_mm_shufflehi_epi16(_mm_shufflelo_epi16(w, 0x1b), 0x1b), 0x4e);
    const __m128i l = _mm_packus_epi16(w, _mm_set1_epi16(static_cast<int16_t>(_mm_cvtsi128_si32(lo) & 0xff)));
    const __m128i l1 = _mm_srli_si128(l, 1);
    const __m128i a = _mm_avg_epu8(l, l1), t = Tap3(l, l1, _mm_srli_si128(l, 2));
    Rows<0, 2, 0, 1>(dst, stride, Line{_mm_unpacklo_epi8(a, t), _mm_unpackhi_epi8(a, t)});
}

}  // namespace

void InstallIntra8x8Sse2(KernelSet &ks) {
    ks.intra8x8[0] = PredVertical8x8Sse2;
    ks.intra8x8[1] = PredHorizontal8x8Sse2;
    ks.intra8x8[2] = PredDc8x8Sse2;
    ks.intra8x8[3] = PredDiagonalDownLeft8x8Sse2;
    ks.intra8x8[4] = PredDiagonalDownRight8x8Sse2;
    ks.intra8x8[5] = PredVerticalRight8x8Sse2;
    ks.intra8x8[6] = PredHorizontalDown8x8Sse2;
    ks.intra8x8[7] = PredVerticalLeft8x8Sse2;
    ks.intra8x8[8] = PredHorizontalUp8x8Sse2;
}

}  // namespace tessaly::h264
