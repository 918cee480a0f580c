// The arithmetic decoder's state machine reshaped for its hot path: a
// context's four LPS sub-ranges in one word, and the LPS outcome already
// renormalised, so that a decision needs no bit scan.
#pragma once

#include <cstdint>

namespace tessaly::h264 {

// s = pStateIdx << 1 | valMPS (the context byte); [4 * s + q] entries are by
// context byte and qCodIRangeIdx q.
struct CabacDecisionTable {
    uint32_t lpsByQuarter[128];  // by s: codIRangeLPS for q in byte q
    uint8_t lpsShift[512];       // [4 * s + q]: renormalisation shift after an LPS
    uint16_t lpsRange[512];      // [4 * s + q]: codIRangeLPS << lpsShift
    uint8_t next[2][128];        // by s: context byte after an MPS [0] / LPS [1]
};

// Hidden: read through a direct address rather than the GOT.
extern const CabacDecisionTable kCabacDecisionTable __attribute__((visibility("hidden")));

}  // namespace tessaly::h264
