#include "h264dec/picture/concealment.h"

#include <cstddef>
#include <cstring>

namespace tessaly::h264 {
namespace {

void CopyBlock(uint8_t *dst, const uint8_t *src, size_t stride, size_t offset, int32_t size) {
    for (int32_t row = 0; row < size; ++row)
        std::memcpy(dst + offset + size_t(row) * stride, src + offset + size_t(row) * stride, size_t(size));
}

}  // namespace

int32_t ConcealMissingMbs(Picture &p, const Picture *source, const uint8_t *decoded, int32_t widthMbs,
                          int32_t heightMbs) {
    const size_t lumaStride = p.width, chromaStride = p.width / 2;
    int32_t missing = 0;
    for (int32_t mbY = 0; mbY < heightMbs; ++mbY)
        for (int32_t mbX = 0; mbX < widthMbs; ++mbX) {
            if (decoded[mbY * widthMbs + mbX]) continue;
            ++missing;
            if (!source) continue;
            const size_t luma = size_t(mbY) * 16 * lumaStride + size_t(mbX) * 16;
            const size_t chroma = size_t(mbY) * 8 * chromaStride + size_t(mbX) * 8;
            CopyBlock(p.y, source->y, lumaStride, luma, 16);
            CopyBlock(p.u, source->u, chromaStride, chroma, 8);
            CopyBlock(p.v, source->v, chromaStride, chroma, 8);
        }
    return missing;
}

}  // namespace tessaly::h264
