#include "video/plane_copy.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace tessaly::video {

void CopyPlanePacked(uint8_t *dst, const uint8_t *src, size_t srcStride, uint32_t width, uint32_t rows) {
    for (uint32_t r = 0; r < rows; ++r, dst += width, src += srcStride) {
        // An unaligned head and tail go through the cache; the aligned middle
        // is written in whole 16-byte stores that bypass it.
        const size_t head = std::min<size_t>((16 - (reinterpret_cast<uintptr_t>(dst) & 15)) & 15, width);
        std::memcpy(dst, src, head);
        size_t x = head;
        for (; x + 16 <= width; x += 16)
            _mm_stream_si128(reinterpret_cast<__m128i *>(dst + x),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x)));
        std::memcpy(dst + x, src + x, width - x);
    }
    // The streaming stores are weakly ordered: make them visible before
    // whatever publishes the buffer.
    _mm_sfence();
}

}  // namespace tessaly::video
