// IMA (DVI) 4-bit ADPCM: the standard 89-step quantizer with shift-and-add
// reconstruction.
#pragma once

#include <cstdint>

namespace tessaly::voice {

struct ImaState {
    int16_t predicted;
    uint8_t index;  // 0..88
};

constexpr int kImaMaxIndex = 88;

// Codes one sample and advances the state to the decoder's reconstruction.
int ImaEncode(ImaState &st, int16_t sample);
// Decodes one 4-bit code (bit 3 the sign) and returns the new predicted sample.
int16_t ImaDecode(ImaState &st, int code);

}  // namespace tessaly::voice
