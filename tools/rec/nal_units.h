// The NAL units of one access unit, for the tool's looks inside records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "annexb_access_units.h"

namespace tessaly::tools::rec {

// Calls visit(nal) for each NAL unit with a payload, in order, until visit
// returns false.
template <typename Visit>
void ForEachNalUnit(const uint8_t *unit, size_t size, Visit &&visit) {
    NalUnit nal;
    size_t pos = 0;
    while (NextNalUnit(unit, size, pos, &nal)) {
        if (nal.payload.size == 0) {
            pos = nal.payload.offset;
            continue;
        }
        if (!visit(nal)) return;
        pos = nal.withStartCode.offset + nal.withStartCode.size;
    }
}

}  // namespace tessaly::tools::rec
