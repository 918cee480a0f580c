// Block copies (macroblock store, prediction moves).
#include <cstring>

#include "h264dec/dsp/kernels_c.h"

namespace tessaly::h264 {
namespace {

template <int W>
void CopyBlock(uint8_t *dst, ptrdiff_t dstStride, const uint8_t *src, ptrdiff_t srcStride, int h) {
    for (int y = 0; y < h; y++) std::memcpy(dst + y * dstStride, src + y * srcStride, W);
}

}  // namespace

void InstallCopyC(KernelSet &ks) {
    ks.copy[0] = CopyBlock<16>;
    ks.copy[1] = CopyBlock<8>;
    ks.copy[2] = CopyBlock<4>;
}

}  // namespace tessaly::h264
