// 4x4 luma intra prediction.
#include <cstring>

#include "h264dec/dsp/intra_edge.h"
#include "h264dec/dsp/kernels_c.h"

namespace tessaly::h264 {
namespace {

using intra_edge::Edge;

// Gathers the neighbours the caller marked available. Missing ones read as
// 128 (only a corrupt stream selects a mode that needs them); a missing
// top-right repeats the last top sample, as the standard substitutes.
Edge<4> Gather(const uint8_t *dst, ptrdiff_t stride, int avail) {
    Edge<4> E;
    std::memset(E.e, 128, sizeof(E.e));
    if (avail & kAvailLeft)
        for (int y = 0; y < 4; y++) E.e[3 - y] = dst[y * stride - 1];
    if (avail & kAvailTopLeft) E.e[4] = dst[-stride - 1];
    if (avail & kAvailTop) {
        const uint8_t *top = dst - stride;
        for (int x = 0; x < 4; x++) E.e[5 + x] = top[x];
        for (int x = 4; x < 8; x++) E.e[5 + x] = (avail & kAvailTopRight) ? top[x] : top[3];
    }
    E.e[13] = E.e[12];
    return E;
}

void PredVertical4x4(uint8_t *dst, ptrdiff_t stride, int avail) {
    uint32_t row = 0x80808080u;
    if (avail & kAvailTop) std::memcpy(&row, dst - stride, 4);
    for (int y = 0; y < 4; y++) std::memcpy(dst + y * stride, &row, 4);
}

void PredHorizontal4x4(uint8_t *dst, ptrdiff_t stride, int avail) {
    for (int y = 0; y < 4; y++) {
        const uint8_t v = (avail & kAvailLeft) ? dst[y * stride - 1] : 128;
        std::memset(dst + y * stride, v, 4);
    }
}

void PredDc4x4(uint8_t *dst, ptrdiff_t stride, int avail) {
    int sum = 0, count = 0;
    if (avail & kAvailTop) {
        for (int x = 0; x < 4; x++) sum += dst[x - stride];
        count += 4;
    }
    if (avail & kAvailLeft) {
        for (int y = 0; y < 4; y++) sum += dst[y * stride - 1];
        count += 4;
    }
    // count is 8, 4 or 0: (sum + count/2) / count, 128 with no neighbours.
    const int dc = count == 8 ? (sum + 4) >> 3 : count == 4 ? (sum + 2) >> 2 : 128;
    intra_edge::Fill<4>(dst, stride, dc);
}

void PredDiagonalDownLeft4x4(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::DiagonalDownLeft<4>(dst, stride, Gather(dst, stride, avail & ~kAvailLeft));
}
void PredDiagonalDownRight4x4(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::DiagonalDownRight<4>(dst, stride, Gather(dst, stride, avail & ~kAvailTopRight));
}
void PredVerticalRight4x4(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::VerticalRight<4>(dst, stride, Gather(dst, stride, avail & ~kAvailTopRight));
}
void PredHorizontalDown4x4(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::HorizontalDown<4>(dst, stride, Gather(dst, stride, avail & ~kAvailTopRight));
}
void PredVerticalLeft4x4(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::VerticalLeft<4>(dst, stride, Gather(dst, stride, avail & ~kAvailLeft));
}
void PredHorizontalUp4x4(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::HorizontalUp<4>(dst, stride, Gather(dst, stride, avail & kAvailLeft));
}

}  // namespace

void InstallIntra4x4C(KernelSet &ks) {
    ks.intra4x4[0] = PredVertical4x4;
    ks.intra4x4[1] = PredHorizontal4x4;
    ks.intra4x4[2] = PredDc4x4;
    ks.intra4x4[3] = PredDiagonalDownLeft4x4;
    ks.intra4x4[4] = PredDiagonalDownRight4x4;
    ks.intra4x4[5] = PredVerticalRight4x4;
    ks.intra4x4[6] = PredHorizontalDown4x4;
    ks.intra4x4[7] = PredVerticalLeft4x4;
    ks.intra4x4[8] = PredHorizontalUp4x4;
}

}  // namespace tessaly::h264
