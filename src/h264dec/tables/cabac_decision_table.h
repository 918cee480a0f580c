// The arithmetic decoder's state machine reshaped for its hot path: a
// context's four LPS sub-ranges in its own word, and the LPS outcome already
// renormalised, so that a decision needs no bit scan.
#pragma once

#include <cstdint>

namespace tessaly::h264 {

// s = pStateIdx << 1 | valMPS; [4 * s + q] entries are by s and
// qCodIRangeIdx q.
struct CabacDecisionTable {
    uint64_t word[128];         // by s: the context word (CabacContext): codIRangeLPS for q in byte q, s above
    uint64_t nextWord[2][128];  // by s: the word after an MPS [0] / LPS [1]
    uint8_t lpsShift[512];      // [4 * s + q]: renormalisation shift after an LPS
    uint16_t lpsRange[512];     // [4 * s + q]: codIRangeLPS << lpsShift
};

// Hidden: read through a direct address rather than the GOT.
extern const CabacDecisionTable kCabacDecisionTable __attribute__((visibility("hidden")));

}  // namespace tessaly::h264
