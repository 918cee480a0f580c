// 16x16 luma intra prediction.
#include <cstring>

#include "h264dec/dsp/kernels_c.h"

namespace tessaly::h264 {
namespace {

void PredVertical16x16(uint8_t *dst, ptrdiff_t stride, int avail) {
    uint8_t row[16];
    if (avail & kAvailTop)
        std::memcpy(row, dst - stride, 16);
    else
        std::memset(row, 128, 16);
    for (int y = 0; y < 16; y++) std::memcpy(dst + y * stride, row, 16);
}

void PredHorizontal16x16(uint8_t *dst, ptrdiff_t stride, int avail) {
    for (int y = 0; y < 16; y++) std::memset(dst + y * stride, (avail & kAvailLeft) ? dst[y * stride - 1] : 128, 16);
}

void PredDc16x16(uint8_t *dst, ptrdiff_t stride, int avail) {
    int sum = 0, count = 0;
    if (avail & kAvailTop) {
        for (int x = 0; x < 16; x++) sum += dst[x - stride];
        count += 16;
    }
    if (avail & kAvailLeft) {
        for (int y = 0; y < 16; y++) sum += dst[y * stride - 1];
        count += 16;
    }
    const int dc = count == 32 ? (sum + 16) >> 5 : count == 16 ? (sum + 8) >> 4 : 128;
    for (int y = 0; y < 16; y++) std::memset(dst + y * stride, dc, 16);
}

// Plane needs all three neighbours; a corrupt stream without them gets 128s.
void PredPlane16x16(uint8_t *dst, ptrdiff_t stride, int avail) {
    int top[17], left[17];  // index 0 is the corner, 1..16 the row / column
    const int corner = (avail & kAvailTopLeft) ? dst[-stride - 1] : 128;
    top[0] = left[0] = corner;
    for (int i = 0; i < 16; i++) {
        top[i + 1] = (avail & kAvailTop) ? dst[i - stride] : 128;
        left[i + 1] = (avail & kAvailLeft) ? dst[i * stride - 1] : 128;
    }
    int H = 0, V = 0;
    for (int i = 0; i < 8; i++) {
        H += (i + 1) * (top[9 + i] - top[7 - i]);
        V += (i + 1) * (left[9 + i] - left[7 - i]);
    }
    const int a = 16 * (left[16] + top[16]);
    const int b = (5 * H + 32) >> 6;
    const int c = (5 * V + 32) >> 6;
    for (int y = 0; y < 16; y++) {
        int acc = a + c * (y - 7) - 7 * b + 16;
        for (int x = 0; x < 16; x++, acc += b) dst[y * stride + x] = ClipPixel(acc >> 5);
    }
}

}  // namespace

void InstallIntra16x16C(KernelSet &ks) {
    ks.intra16x16[0] = PredVertical16x16;
    ks.intra16x16[1] = PredHorizontal16x16;
    ks.intra16x16[2] = PredDc16x16;
    ks.intra16x16[3] = PredPlane16x16;
}

}  // namespace tessaly::h264
