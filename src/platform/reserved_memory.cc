#include "platform/reserved_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include "platform/resource_fault.h"

namespace tessaly::platform {

size_t ReservedMemory::PageSize() {
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return page;
}

size_t ReservedMemory::RoundUpToPage(size_t bytes) {
    const size_t page = PageSize();
    return (bytes + page - 1) / page * page;
}

ReservedMemory::~ReservedMemory() {
    if (base_) munmap(base_, reserved_);
}

bool ReservedMemory::Reserve(size_t bytes) {
    if (base_ || bytes == 0 || ResourceRefused(Resource::kReserve)) return false;
    const size_t size = RoundUpToPage(bytes);
    // No access and no swap reservation: only committed pages count.
    void *base = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) return false;
    base_ = static_cast<uint8_t *>(base);
    reserved_ = size;
    return true;
}

bool ReservedMemory::Commit(size_t bytes) {
    const size_t size = RoundUpToPage(bytes);
    if (size <= committed_) return true;
    if (size > reserved_ || ResourceRefused(Resource::kCommit)) return false;
    if (mprotect(base_ + committed_, size - committed_, PROT_READ | PROT_WRITE) != 0) return false;
    committed_ = size;
    return true;
}

}  // namespace tessaly::platform
