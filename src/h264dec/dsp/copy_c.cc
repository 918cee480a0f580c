// Block copies (macroblock store, prediction moves) and the last column of
// a block.
#include <cstring>

#include "h264dec/dsp/kernels_c.h"

namespace tessaly::h264 {
namespace {

template <int W>
void CopyBlock(uint8_t *dst, ptrdiff_t dstStride, const uint8_t *src, ptrdiff_t srcStride, int h) {
    for (int y = 0; y < h; y++) std::memcpy(dst + y * dstStride, src + y * srcStride, W);
}

template <int W>
void LastColumn(uint8_t *dst, const uint8_t *block, ptrdiff_t stride) {
    for (int y = 0; y < W; y++) dst[y] = block[W - 1 + y * stride];
}

}  // namespace

void InstallCopyC(KernelSet &ks) {
    ks.copy[0] = CopyBlock<16>;
    ks.copy[1] = CopyBlock<8>;
    ks.copy[2] = CopyBlock<4>;
    ks.lastColumn[0] = LastColumn<16>;
    ks.lastColumn[1] = LastColumn<8>;
}

}  // namespace tessaly::h264
