// G.711 companding between 16-bit linear samples and 8-bit line codes
// (A-law with the even bits inverted, mu-law with all bits inverted).
#pragma once

#include <array>
#include <cstdint>

namespace tessaly::voice {

uint8_t AlawEncode(int16_t sample);
uint8_t UlawEncode(int16_t sample);

// Reconstruction values on the 16-bit scale, indexed by code.
extern const std::array<int16_t, 256> kAlawDecode;
extern const std::array<int16_t, 256> kUlawDecode;

inline int16_t AlawDecode(uint8_t code) { return kAlawDecode[code]; }
inline int16_t UlawDecode(uint8_t code) { return kUlawDecode[code]; }

}  // namespace tessaly::voice
