#include "h264dec/aligned_alloc.h"

#include <cstdint>
#include <cstdlib>

#include "platform/page_block.h"

namespace tessaly::h264 {
namespace {

// Picture pools and per-macroblock arrays are mapped from the system (as the
// player's other per-port buffers, through the same platform call) and
// unmapped when freed: a decoder lives from a port's open to its close, and
// blocks this large taken from the C heap would stay parked in its arenas
// after every close. Their first 64 bytes hold the mapping's length; the
// byte below the block is 0, which the heap path's shift never is.
constexpr size_t kMappedFrom = 128 * 1024;  // the C heap maps blocks from this size too
constexpr size_t kMappedHeader = 64;

void *MapZeroed(size_t size) {
    platform::PageBlock pages = platform::AllocatePages(size + kMappedHeader);
    if (!pages) return nullptr;
    const size_t mapped = pages.get_deleter().bytes;
    uint8_t *base = pages.release();
    *reinterpret_cast<size_t *>(base) = mapped;
    uint8_t *block = base + kMappedHeader;
    block[-1] = 0;
    return block;
}

}  // namespace

void *AlignedAllocZeroed(size_t size) {
    if (size > SIZE_MAX - kMappedHeader) return nullptr;
    if (size >= kMappedFrom) return MapZeroed(size);
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
    if (p[-1] == 0) {
        uint8_t *base = p - kMappedHeader;
        platform::PageRelease{*reinterpret_cast<size_t *>(base)}(base);
        return;
    }
    std::free(p - p[-1]);
}

}  // namespace tessaly::h264
