// Chroma eighth-sample bilinear interpolation with SSE2.
//
// The four weighted products of a sample fit in 16 bits (at most 64 * 255),
// so a row is four pmullw and three adds; each loaded row serves as the
// lower row of one output line and the upper row of the next.
#include <emmintrin.h>

#include <cstring>

#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

// W + 1 samples of a row (W 8: 9, W 4: 5, W 2: 3) as 16-bit lanes:
// `at` holds x = 0..W-1 and `next` x = 1..W.
template <int W>
inline void LoadPair(const uint8_t *p, __m128i &at, __m128i &next) {
    const __m128i zero = _mm_setzero_si128();
    if constexpr (W == 8) {
        at = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), zero);
        next = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + 1)), zero);
    } else if constexpr (W == 4) {
        int a, b;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + 1, 4);
        at = _mm_unpacklo_epi8(_mm_cvtsi32_si128(a), zero);
        next = _mm_unpacklo_epi8(_mm_cvtsi32_si128(b), zero);
    } else {
        uint16_t a, b;
        std::memcpy(&a, p, 2);
        std::memcpy(&b, p + 1, 2);
        at = _mm_unpacklo_epi8(_mm_cvtsi32_si128(a), zero);
        next = _mm_unpacklo_epi8(_mm_cvtsi32_si128(b), zero);
    }
}

template <int W>
inline void StoreLine(uint8_t *p, __m128i v16) {
    const __m128i v = _mm_packus_epi16(v16, v16);
    if constexpr (W == 8) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(p), v);
    } else if constexpr (W == 4) {
        const int x = _mm_cvtsi128_si32(v);
        std::memcpy(p, &x, 4);
    } else {
        const uint16_t x = static_cast<uint16_t>(_mm_cvtsi128_si32(v));
        std::memcpy(p, &x, 2);
    }
}

template <int W>
void ChromaMcSse2(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h, int mx, int my) {
    const __m128i wA = _mm_set1_epi16(static_cast<int16_t>((8 - mx) * (8 - my)));
    const __m128i wB = _mm_set1_epi16(static_cast<int16_t>(mx * (8 - my)));
    const __m128i wC = _mm_set1_epi16(static_cast<int16_t>((8 - mx) * my));
    const __m128i wD = _mm_set1_epi16(static_cast<int16_t>(mx * my));
    const __m128i round = _mm_set1_epi16(32);
    __m128i a, b;
    if (my == 0) {  // the lower row has no weight: never read it
        for (int y = 0; y < h; y++, dst += ds, src += ss) {
            LoadPair<W>(src, a, b);
            const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(a, wA), _mm_mullo_epi16(b, wB)), round);
            StoreLine<W>(dst, _mm_srli_epi16(sum, 6));
        }
        return;
    }
    LoadPair<W>(src, a, b);
    __m128i top = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(a, wA), _mm_mullo_epi16(b, wB)), round);
    for (int y = 0; y < h; y++, dst += ds) {
        src += ss;
        LoadPair<W>(src, a, b);
        const __m128i c = _mm_mullo_epi16(a, wC), d = _mm_mullo_epi16(b, wD);
        StoreLine<W>(dst, _mm_srli_epi16(_mm_add_epi16(top, _mm_add_epi16(c, d)), 6));
        top = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(a, wA), _mm_mullo_epi16(b, wB)), round);
    }
}

}  // namespace

void InstallChromaMcSse2(KernelSet &ks) {
    ks.chromaMc[0] = ChromaMcSse2<8>;
    ks.chromaMc[1] = ChromaMcSse2<4>;
    ks.chromaMc[2] = ChromaMcSse2<2>;
}

}  // namespace tessaly::h264
