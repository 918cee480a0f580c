// DEC_MODE_FIELD_MERGE: interlaced pictures are handed out from the decoder's
// own output buffer, with chroma lines of field pictures doubled.
#pragma once

#include <cstddef>
#include <cstdint>

#include "h264dec/picture/picture.h"

namespace tessaly::h264 {

struct MergeTarget {
    uint8_t *y, *u, *v;  // output buffer planes (same layout as a picture buffer)
    uint8_t *history;    // per-luma-sample counters, saturating at 3
};

// Copies `p` into the target; the caller then hands out the target planes.
void FieldMerge(const Picture &p, const MergeTarget &t);

}  // namespace tessaly::h264
