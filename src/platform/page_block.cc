#include "platform/page_block.h"

#include <sys/mman.h>

#include "platform/reserved_memory.h"
#include "platform/resource_fault.h"

namespace tessaly::platform {

void PageRelease::operator()(uint8_t *block) const {
    if (block) munmap(block, bytes);
}

PageBlock AllocatePages(size_t bytes) {
    if (bytes == 0 || bytes > (size_t{1} << 40) || ResourceRefused(Resource::kCommit)) return {};
    const size_t rounded = ReservedMemory::RoundUpToPage(bytes);
    void *block = mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return {};
    return PageBlock(static_cast<uint8_t *>(block), PageRelease{rounded});
}

uint8_t *GrowingPageBlock::Hold(size_t bytes) {
    if (block_ && block_.get_deleter().bytes >= bytes) return block_.get();
    PageBlock grown = AllocatePages(bytes);
    if (!grown) return nullptr;
    block_ = std::move(grown);
    return block_.get();
}

}  // namespace tessaly::platform
