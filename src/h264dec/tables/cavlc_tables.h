// CAVLC code tables as the standard lists them: for every symbol its code
// length and value (the code's bits, right-aligned). A length of 0 marks a
// symbol that has no code. Decoders build their own fast lookup from these
// once, at start-up.
#pragma once

#include <cstdint>

namespace tessaly::h264 {

struct VlcCode {
    uint8_t len;
    uint16_t code;
};

// coeff_token, [class][TrailingOnes 0..3][TotalCoeff 0..16].
// Classes: 0: 0 <= nC < 2, 1: 2 <= nC < 4, 2: 4 <= nC < 8, 3: 8 <= nC
// (6-bit fixed length), 4: nC == -1 (chroma DC, 4:2:0; TotalCoeff <= 4).
enum { kCoeffTokenClasses = 5, kCoeffTokenChromaDc = 4 };
extern const VlcCode kCoeffToken[kCoeffTokenClasses][4][17];

// total_zeros for 4x4 blocks (maxNumCoeff 15 or 16): [TotalCoeff - 1][total_zeros 0..15].
extern const VlcCode kTotalZeros4x4[15][16];
// total_zeros for chroma DC 2x2: [TotalCoeff - 1][total_zeros 0..3].
extern const VlcCode kTotalZerosChromaDc[3][4];
// run_before: [min(zerosLeft, 7) - 1][run_before 0..14].
extern const VlcCode kRunBefore[7][15];

}  // namespace tessaly::h264
