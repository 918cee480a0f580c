// Chroma eighth-sample bilinear interpolation.
//
// ((8-x)(8-y)A + x(8-y)B + (8-x)yC + xyD + 32) >> 6; with a zero fraction
// the weights of one pair vanish, so those cases take a cheaper path with
// identical results (a full-sample vector is a plain copy).
#include <cstring>

#include "h264dec/dsp/kernels_c.h"

namespace tessaly::h264 {
namespace {

template <int W>
void ChromaMc(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h, int mx, int my) {
    if ((mx | my) == 0) {
        for (int y = 0; y < h; y++, dst += ds, src += ss) std::memcpy(dst, src, W);
        return;
    }
    if (my == 0 || mx == 0) {  // two taps along one direction, weights sum to 64
        const ptrdiff_t step = my == 0 ? 1 : ss;
        const int w1 = 8 * (mx | my), w0 = 64 - w1;
        for (int y = 0; y < h; y++, dst += ds, src += ss)
            for (int x = 0; x < W; x++) dst[x] = static_cast<uint8_t>((w0 * src[x] + w1 * src[x + step] + 32) >> 6);
        return;
    }
    const int wA = (8 - mx) * (8 - my), wB = mx * (8 - my), wC = (8 - mx) * my, wD = mx * my;
    for (int y = 0; y < h; y++, dst += ds, src += ss) {
        const uint8_t *next = src + ss;
        for (int x = 0; x < W; x++)
            dst[x] = static_cast<uint8_t>((wA * src[x] + wB * src[x + 1] + wC * next[x] + wD * next[x + 1] + 32) >> 6);
    }
}

}  // namespace

void InstallChromaMcC(KernelSet &ks) {
    ks.chromaMc[0] = ChromaMc<8>;
    ks.chromaMc[1] = ChromaMc<4>;
    ks.chromaMc[2] = ChromaMc<2>;
}

}  // namespace tessaly::h264
