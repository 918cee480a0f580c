// Reference picture marking: sliding window and the adaptive operations.
#pragma once

#include <cstdint>

#include "h264dec/picture/dpb.h"

namespace tessaly::h264 {

// Sliding window before a new reference picture `p` (not yet marked) is added.
void SlidingWindow(Dpb *d, const Picture *p);

// Applies the adaptive commands for the reference picture `p` of the given
// structure and marks `p` itself (short-term unless operation 6 made it
// long-term). Returns true when operation 5 was among them.
bool ApplyAdaptiveMarking(Dpb *d, Picture *p, const StoreParams &sp);

// Short-term and long-term reference entries (frames or pairs with at least
// one marked field), not counting `except`.
void CountReferences(const Dpb *d, const Picture *except, int32_t *numShort, int32_t *numLong);

}  // namespace tessaly::h264
