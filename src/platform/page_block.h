// Large buffers taken straight from the system, page by page, and given back
// whole when freed. A port's buffers are allocated at open and freed at close
// for the life of the process; from the C heap they would raise its
// threshold for mapping large blocks and leave freed ones parked in
// per-thread arenas, so a host that opens and closes ports all day would see
// its resident memory creep up. Pages are zeroed and committed on first
// touch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tessaly::platform {

struct PageRelease {
    size_t bytes = 0;
    void operator()(uint8_t *block) const;
};

using PageBlock = std::unique_ptr<uint8_t[], PageRelease>;

// A zeroed block of at least `bytes` (rounded up to whole pages), or null
// when the system refuses or `bytes` is 0.
PageBlock AllocatePages(size_t bytes);

// A page block for pictures whose size follows the stream: it grows when a
// larger one comes (its contents are not kept) and never shrinks.
class GrowingPageBlock {
public:
    // At least `bytes`; null when they could not be had (what was held stays).
    uint8_t *Hold(size_t bytes);
    uint8_t *Data() const { return block_.get(); }

private:
    PageBlock block_;
};

}  // namespace tessaly::platform
