// Constant tables of the H.264 decoding process (8-bit 4:2:0, I and P).
// Pure data; the logic that uses them lives with its own concern.
#pragma once

#include <cstdint>

namespace tessaly::h264 {

// CABAC context initialisation (m, n) per ctxIdx 0..459. Index 276
// (end_of_slice_flag) has no variable context and holds {0, 0}.
extern const int8_t kCabacInitI[460][2];     // I slices
extern const int8_t kCabacInitP[3][460][2];  // P slices, by cabac_init_idc
// Arithmetic decoder state machine: rangeTabLPS[pStateIdx][qCodIRangeIdx]
// and the state transitions after an LPS / MPS.
extern const uint8_t kCabacRangeLps[64][4];
extern const uint8_t kCabacTransIdxLps[64];
extern const uint8_t kCabacTransIdxMps[64];

// Scans: scan index -> raster position (4*row + col, 8*row + col).
extern const uint8_t kZigzag4x4[16];
extern const uint8_t kField4x4[16];
extern const uint8_t kZigzag8x8[64];
extern const uint8_t kField8x8[64];

// Default scaling lists (Flat_4x4 / Flat_8x8 are all 16), in zig-zag scan
// order as listed by the standard.
extern const uint8_t kDefault4x4Intra[16];
extern const uint8_t kDefault4x4Inter[16];
extern const uint8_t kDefault8x8Intra[64];
extern const uint8_t kDefault8x8Inter[64];

// normAdjust values v of the dequantisation: [qP % 6][class]. With (i, j)
// the (row, column) of a coefficient:
// 4x4 classes: 0 both even, 1 both odd, 2 otherwise.
// 8x8 classes: 0 i%4==0 && j%4==0; 1 i%2==1 && j%2==1; 2 i%4==2 && j%4==2;
// 3 (i%4==0 && j%2==1) || (i%2==1 && j%4==0);
// 4 (i%4==0 && j%4==2) || (i%4==2 && j%4==0); 5 otherwise.
extern const uint8_t kNormAdjust4x4[6][3];
extern const uint8_t kNormAdjust8x8[6][6];
// Class of raster position (4*i + j) / (8*i + j) into the tables above.
extern const uint8_t kNormAdjust4x4Class[16];
extern const uint8_t kNormAdjust8x8Class[64];

// QPC for qPI 0..51 (4:2:0).
extern const uint8_t kChromaQp[52];

// Deblocking: alpha', beta' by indexA / indexB, tC0 by indexA and bS 1..3.
extern const uint8_t kDeblockAlpha[52];
extern const uint8_t kDeblockBeta[52];
extern const uint8_t kDeblockTc0[52][3];

}  // namespace tessaly::h264
