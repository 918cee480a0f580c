// Index helpers shared by the parsers, predictors and the deblocking driver.
//
// Per-macroblock neighbour caches use one 8-wide layout: a 4x4 block at
// (x, y) in 4x4-block units, x in -1..4 and y in -1..3, lives at
// Cache(x, y). Row -1 holds the macroblock above (x 0..3), the above-left
// (x -1) and above-right (x 4) neighbours; column -1 holds the left
// macroblock. Looking up a neighbour is then a fixed offset: -1 for the left
// block, -8 for the block above, whether or not it crosses a macroblock edge.
#pragma once

#include <cstdint>

namespace tessaly::h264 {

inline constexpr int kCacheStride = 8;
inline constexpr int kCacheSize = 40;

constexpr int Cache(int x, int y) { return kCacheStride * (y + 1) + x + 1; }

// luma4x4BlkIdx -> position in 4x4-block units.
inline constexpr uint8_t kBlkX[16] = {0, 1, 0, 1, 2, 3, 2, 3, 0, 1, 0, 1, 2, 3, 2, 3};
inline constexpr uint8_t kBlkY[16] = {0, 0, 1, 1, 0, 0, 1, 1, 2, 2, 3, 3, 2, 2, 3, 3};

// luma4x4BlkIdx -> cache index / raster index (4*y + x).
inline constexpr uint8_t kBlkCache[16] = {Cache(0, 0), Cache(1, 0), Cache(0, 1), Cache(1, 1), Cache(2, 0), Cache(3, 0),
                                          Cache(2, 1), Cache(3, 1), Cache(0, 2), Cache(1, 2), Cache(0, 3), Cache(1, 3),
                                          Cache(2, 2), Cache(3, 2), Cache(2, 3), Cache(3, 3)};
inline constexpr uint8_t kBlkRaster[16] = {0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15};

// Raster index (4*y + x) -> luma4x4BlkIdx.
inline constexpr uint8_t kRasterBlk[16] = {0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15};

// chroma4x4BlkIdx (0..3, raster within the 8x8 component) -> cache index.
inline constexpr uint8_t kChromaCache[4] = {Cache(0, 0), Cache(1, 0), Cache(0, 1), Cache(1, 1)};

}  // namespace tessaly::h264
