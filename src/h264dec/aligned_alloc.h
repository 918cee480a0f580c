// The decoder's one allocation routine: zeroed blocks on 16-byte boundaries.
//
// A small block is over-allocated by 16 bytes and the returned address is
// pushed up to the next multiple of 16 (by a full 16 when already aligned),
// so the byte just below it is always ours and records how far we moved.
// Large blocks are mapped from the system (see aligned_alloc.cc).
#pragma once

#include <cstddef>

namespace tessaly::h264 {

void *AlignedAllocZeroed(size_t size);  // null on failure
void AlignedFree(void *block);          // null is ignored

}  // namespace tessaly::h264
