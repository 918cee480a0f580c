// The rate-dependent tables of G.726 (16, 24, 32 and 40 kbit/s), indexed by
// code size 2..5: quantizer decision levels, reconstruction levels, and the
// W and F functions of the scale factor and speed control adaptation.
#pragma once

#include <cstdint>

namespace tessaly::voice {

struct G726RateTables {
    // Quantizer: on the normalised log-magnitude dln (12 bits, values of 2048
    // and above stand for negative logarithms), the code of the first
    // threshold, in descending order, that dln reaches; belowAll otherwise.
    // The code is then mirrored for a negative difference.
    uint8_t decisionCount;
    uint16_t decisionLevel[16];
    uint8_t decisionCode[16];
    uint8_t belowAll;
    uint16_t reconstruct[32];      // dqln by code
    uint16_t scaleMultiplier[16];  // W by magnitude index
    uint8_t speedFunction[16];     // F by magnitude index
};

extern const G726RateTables kG726Rates[6];  // entries 2..5 in use

}  // namespace tessaly::voice
