#include "h264dec/aligned_alloc.h"

#include <cstdint>
#include <cstdlib>

namespace tessaly::h264 {

void *AlignedAllocZeroed(size_t size) {
    if (size > SIZE_MAX - 16) return nullptr;
    auto *raw = static_cast<uint8_t *>(std::calloc(1, size + 16));
    if (!raw) return nullptr;
    const size_t shift = 16 - (reinterpret_cast<uintptr_t>(raw) & 15);  // 1..16
    uint8_t *block = raw + shift;
    block[-1] = static_cast<uint8_t>(shift);
    return block;
}

void AlignedFree(void *block) {
    if (!block) return;
    auto *p = static_cast<uint8_t *>(block);
    std::free(p - p[-1]);
}

}  // namespace tessaly::h264
