// Block copies with SSE2, four lines per iteration: the macroblock store
// copies 16 + 2 x 8 lines per macroblock, and a plain per-line loop spends
// more on loop control than on moving bytes.
#include <emmintrin.h>

#include <cstring>

#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

template <int W>
inline void CopyLine(uint8_t *dst, const uint8_t *src) {
    if constexpr (W == 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), _mm_loadu_si128(reinterpret_cast<const __m128i *>(src)));
    } else if constexpr (W == 8) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), _mm_loadl_epi64(reinterpret_cast<const __m128i *>(src)));
    } else {
        std::memcpy(dst, src, 4);
    }
}

template <int W>
void CopyBlockSse2(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h) {
    int y = 0;
    for (; y + 4 <= h; y += 4, dst += 4 * ds, src += 4 * ss) {
        CopyLine<W>(dst, src);
        CopyLine<W>(dst + ds, src + ss);
        CopyLine<W>(dst + 2 * ds, src + 2 * ss);
        CopyLine<W>(dst + 3 * ds, src + 3 * ss);
    }
    for (; y < h; y++, dst += ds, src += ss) CopyLine<W>(dst, src);
}

}  // namespace

void InstallCopySse2(KernelSet &ks) {
    ks.copy[0] = CopyBlockSse2<16>;
    ks.copy[1] = CopyBlockSse2<8>;
    ks.copy[2] = CopyBlockSse2<4>;
}

}  // namespace tessaly::h264
