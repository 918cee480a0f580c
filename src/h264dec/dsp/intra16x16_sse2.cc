// 16x16 luma intra prediction (vertical, DC) with SSE2. Horizontal keeps the
// C kernel (a broadcast per row either way); plane is in intra_plane_sse2.cc.
#include "h264dec/dsp/intra_sse2.h"
#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

using namespace intra_sse2;

inline void FillRows(uint8_t *dst, ptrdiff_t stride, __m128i row) {
    for (int y = 0; y < 16; y++) _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + y * stride), row);
}

void PredVertical16x16Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const __m128i row = (avail & kAvailTop) ? _mm_loadu_si128(reinterpret_cast<const __m128i *>(dst - stride))
                                            : _mm_set1_epi8(static_cast<char>(128));
    FillRows(dst, stride, row);
}

void PredDc16x16Sse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const bool hasTop = avail & kAvailTop, hasLeft = avail & kAvailLeft;
    const int top = hasTop ? SumBytes<16>(dst - stride) : 0;
    const int left = hasLeft ? SumLeft<16>(dst, stride) : 0;
    const int dc = hasTop && hasLeft ? (top + left + 16) >> 5
                   : hasTop          ? (top + 8) >> 4
                   : hasLeft         ? (left + 8) >> 4
                                     : 128;
    FillRows(dst, stride, _mm_set1_epi8(static_cast<char>(dc)));
}

}  // namespace

void InstallIntra16x16Sse2(KernelSet &ks) {
    ks.intra16x16[0] = PredVertical16x16Sse2;
    ks.intra16x16[2] = PredDc16x16Sse2;
}

}  // namespace tessaly::h264
