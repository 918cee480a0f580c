// Chroma intra prediction of one 8x8 (4:2:0) component block.
#include <cstring>

#include "h264dec/dsp/kernels_c.h"

namespace tessaly::h264 {
namespace {

// DC works per 4x4 quarter: the top-left and bottom-right quarters average
// both sides, the top-right prefers the row above, the bottom-left the
// column to the left; each falls back to the other side, then to 128.
void PredDcChroma(uint8_t *dst, ptrdiff_t stride, int avail) {
    const bool hasTop = avail & kAvailTop, hasLeft = avail & kAvailLeft;
    int top[2] = {0, 0}, left[2] = {0, 0};
    for (int i = 0; i < 4; i++) {
        if (hasTop) {
            top[0] += dst[i - stride];
            top[1] += dst[4 + i - stride];
        }
        if (hasLeft) {
            left[0] += dst[i * stride - 1];
            left[1] += dst[(4 + i) * stride - 1];
        }
    }
    auto both = [&](int t, int l) {
        return hasTop && hasLeft ? (t + l + 4) >> 3 : hasTop ? (t + 2) >> 2 : hasLeft ? (l + 2) >> 2 : 128;
    };
    const int dc[2][2] = {
        {both(top[0], left[0]), hasTop    ? (top[1] + 2) >> 2
                                : hasLeft ? (left[0] + 2) >> 2
                                          : 128},
        {hasLeft  ? (left[1] + 2) >> 2
         : hasTop ? (top[0] + 2) >> 2
                  : 128,
         both(top[1], left[1])},
    };
    for (int y = 0; y < 8; y++) {
        std::memset(dst + y * stride, dc[y >> 2][0], 4);
        std::memset(dst + y * stride + 4, dc[y >> 2][1], 4);
    }
}

void PredHorizontalChroma(uint8_t *dst, ptrdiff_t stride, int avail) {
    for (int y = 0; y < 8; y++) std::memset(dst + y * stride, (avail & kAvailLeft) ? dst[y * stride - 1] : 128, 8);
}

void PredVerticalChroma(uint8_t *dst, ptrdiff_t stride, int avail) {
    uint8_t row[8];
    if (avail & kAvailTop)
        std::memcpy(row, dst - stride, 8);
    else
        std::memset(row, 128, 8);
    for (int y = 0; y < 8; y++) std::memcpy(dst + y * stride, row, 8);
}

void PredPlaneChroma(uint8_t *dst, ptrdiff_t stride, int avail) {
    int top[9], left[9];  // index 0 is the corner
    const int corner = (avail & kAvailTopLeft) ? dst[-stride - 1] : 128;
    top[0] = left[0] = corner;
    for (int i = 0; i < 8; i++) {
        top[i + 1] = (avail & kAvailTop) ? dst[i - stride] : 128;
        left[i + 1] = (avail & kAvailLeft) ? dst[i * stride - 1] : 128;
    }
    int H = 0, V = 0;
    for (int i = 0; i < 4; i++) {
        H += (i + 1) * (top[5 + i] - top[3 - i]);
        V += (i + 1) * (left[5 + i] - left[3 - i]);
    }
    const int a = 16 * (left[8] + top[8]);
    const int b = (34 * H + 32) >> 6;
    const int c = (34 * V + 32) >> 6;
    for (int y = 0; y < 8; y++) {
        int acc = a + c * (y - 3) - 3 * b + 16;
        for (int x = 0; x < 8; x++, acc += b) dst[y * stride + x] = ClipPixel(acc >> 5);
    }
}

}  // namespace

void InstallIntraChromaC(KernelSet &ks) {
    ks.intraChroma[0] = PredDcChroma;
    ks.intraChroma[1] = PredHorizontalChroma;
    ks.intraChroma[2] = PredVerticalChroma;
    ks.intraChroma[3] = PredPlaneChroma;
}

}  // namespace tessaly::h264
