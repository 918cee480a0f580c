// 8x8 luma intra prediction, with the low-pass filtering of the reference
// samples that precedes every 8x8 mode.
#include <cstring>

#include "h264dec/dsp/intra_edge.h"
#include "h264dec/dsp/kernels_c.h"

namespace tessaly::h264 {
namespace {

using intra_edge::Edge;

// Filtered neighbours. Unavailable ones read as 128 (a corrupt stream only).
Edge<8> GatherFiltered(const uint8_t *dst, ptrdiff_t stride, int avail) {
    const bool hasLeft = avail & kAvailLeft, hasTop = avail & kAvailTop, hasTopLeft = avail & kAvailTopLeft;
    uint8_t top[16], left[8];
    const uint8_t corner = hasTopLeft ? dst[-stride - 1] : 128;
    std::memset(top, 128, sizeof(top));
    std::memset(left, 128, sizeof(left));
    if (hasTop) {
        std::memcpy(top, dst - stride, 8);
        if (avail & kAvailTopRight)
            std::memcpy(top + 8, dst - stride + 8, 8);
        else
            std::memset(top + 8, top[7], 8);
    }
    if (hasLeft)
        for (int y = 0; y < 8; y++) left[y] = dst[y * stride - 1];

    Edge<8> E;
    std::memset(E.e, 128, sizeof(E.e));
    uint8_t *ft = E.e + 9;  // filtered top, 16 samples
    if (hasTop) {
        ft[0] =
            static_cast<uint8_t>(hasTopLeft ? (corner + 2 * top[0] + top[1] + 2) >> 2 : (3 * top[0] + top[1] + 2) >> 2);
        for (int x = 1; x < 15; x++) ft[x] = static_cast<uint8_t>((top[x - 1] + 2 * top[x] + top[x + 1] + 2) >> 2);
        ft[15] = static_cast<uint8_t>((top[14] + 3 * top[15] + 2) >> 2);
    }
    if (hasTopLeft) {
        if (hasTop && hasLeft)
            E.e[8] = static_cast<uint8_t>((top[0] + 2 * corner + left[0] + 2) >> 2);
        else if (hasTop)
            E.e[8] = static_cast<uint8_t>((3 * corner + top[0] + 2) >> 2);
        else if (hasLeft)
            E.e[8] = static_cast<uint8_t>((3 * corner + left[0] + 2) >> 2);
        else
            E.e[8] = corner;
    }
    if (hasLeft) {
        uint8_t fl[8];
        fl[0] = static_cast<uint8_t>(hasTopLeft ? (corner + 2 * left[0] + left[1] + 2) >> 2
                                                : (3 * left[0] + left[1] + 2) >> 2);
        for (int y = 1; y < 7; y++) fl[y] = static_cast<uint8_t>((left[y - 1] + 2 * left[y] + left[y + 1] + 2) >> 2);
        fl[7] = static_cast<uint8_t>((left[6] + 3 * left[7] + 2) >> 2);
        for (int y = 0; y < 8; y++) E.e[7 - y] = fl[y];
    }
    E.e[25] = E.e[24];
    return E;
}

void PredVertical8x8(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::Vertical<8>(dst, stride, GatherFiltered(dst, stride, avail));
}
void PredHorizontal8x8(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::Horizontal<8>(dst, stride, GatherFiltered(dst, stride, avail));
}
void PredDc8x8(uint8_t *dst, ptrdiff_t stride, int avail) {
    const Edge<8> E = GatherFiltered(dst, stride, avail);
    int sum = 0, count = 0;
    if (avail & kAvailTop) {
        for (int x = 0; x < 8; x++) sum += E.Top(x);
        count += 8;
    }
    if (avail & kAvailLeft) {
        for (int y = 0; y < 8; y++) sum += E.Left(y);
        count += 8;
    }
    const int dc = count == 16 ? (sum + 8) >> 4 : count == 8 ? (sum + 4) >> 3 : 128;
    intra_edge::Fill<8>(dst, stride, dc);
}
void PredDiagonalDownLeft8x8(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::DiagonalDownLeft<8>(dst, stride, GatherFiltered(dst, stride, avail));
}
void PredDiagonalDownRight8x8(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::DiagonalDownRight<8>(dst, stride, GatherFiltered(dst, stride, avail));
}
void PredVerticalRight8x8(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::VerticalRight<8>(dst, stride, GatherFiltered(dst, stride, avail));
}
void PredHorizontalDown8x8(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::HorizontalDown<8>(dst, stride, GatherFiltered(dst, stride, avail));
}
void PredVerticalLeft8x8(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::VerticalLeft<8>(dst, stride, GatherFiltered(dst, stride, avail));
}
void PredHorizontalUp8x8(uint8_t *dst, ptrdiff_t stride, int avail) {
    intra_edge::HorizontalUp<8>(dst, stride, GatherFiltered(dst, stride, avail));
}

}  // namespace

void InstallIntra8x8C(KernelSet &ks) {
    ks.intra8x8[0] = PredVertical8x8;
    ks.intra8x8[1] = PredHorizontal8x8;
    ks.intra8x8[2] = PredDc8x8;
    ks.intra8x8[3] = PredDiagonalDownLeft8x8;
    ks.intra8x8[4] = PredDiagonalDownRight8x8;
    ks.intra8x8[5] = PredVerticalRight8x8;
    ks.intra8x8[6] = PredHorizontalDown8x8;
    ks.intra8x8[7] = PredVerticalLeft8x8;
    ks.intra8x8[8] = PredHorizontalUp8x8;
}

}  // namespace tessaly::h264
