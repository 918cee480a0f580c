// Chroma 8x8 intra prediction (DC, horizontal) with SSE2. Vertical keeps the
// C kernel (one 8-byte copy per row either way); plane is in
// intra_plane_sse2.cc.
#include "h264dec/dsp/intra_sse2.h"
#include "h264dec/dsp/kernels_simd.h"

namespace tessaly::h264 {
namespace {

using namespace intra_sse2;

inline void StoreRows(uint8_t *dst, ptrdiff_t stride, int y0, int y1, uint64_t row) {
    for (int y = y0; y < y1; y++) std::memcpy(dst + y * stride, &row, 8);
}

// Per 4x4 quarter: top-left and bottom-right average both sides, top-right
// prefers the row above, bottom-left the column to the left; each falls
// back to the other side, then to 128.
void PredDcChromaSse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    const bool hasTop = avail & kAvailTop, hasLeft = avail & kAvailLeft;
    int t0 = 0, t1 = 0, l0 = 0, l1 = 0;
    if (hasTop) {
        // Zero-padding each half to 8 bytes gives the two sums in one SAD.
        const __m128i top = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(dst - stride));
        const __m128i sums = _mm_sad_epu8(_mm_unpacklo_epi32(top, _mm_setzero_si128()), _mm_setzero_si128());
        t0 = _mm_cvtsi128_si32(sums);
        t1 = _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
    }
    if (hasLeft) {
        l0 = SumLeft<4>(dst, stride);
        l1 = SumLeft<4>(dst + 4 * stride, stride);
    }
    auto both = [&](int t, int l) {
        return hasTop && hasLeft ? (t + l + 4) >> 3 : hasTop ? (t + 2) >> 2 : hasLeft ? (l + 2) >> 2 : 128;
    };
    const int topRight = hasTop ? (t1 + 2) >> 2 : hasLeft ? (l0 + 2) >> 2 : 128;
    const int bottomLeft = hasLeft ? (l1 + 2) >> 2 : hasTop ? (t0 + 2) >> 2 : 128;
    StoreRows(dst, stride, 0, 4, (Splat8(both(t0, l0)) & 0xffffffffu) | (Splat8(topRight) << 32));
    StoreRows(dst, stride, 4, 8, (Splat8(bottomLeft) & 0xffffffffu) | (Splat8(both(t1, l1)) << 32));
}

void PredHorizontalChromaSse2(uint8_t *dst, ptrdiff_t stride, int avail) {
    for (int y = 0; y < 8; y++) {
        const uint64_t row = Splat8((avail & kAvailLeft) ? dst[y * stride - 1] : 128);
        std::memcpy(dst + y * stride, &row, 8);
    }
}

}  // namespace

void InstallIntraChromaSse2(KernelSet &ks) {
    ks.intraChroma[0] = PredDcChromaSse2;
    ks.intraChroma[1] = PredHorizontalChromaSse2;
}

}  // namespace tessaly::h264
