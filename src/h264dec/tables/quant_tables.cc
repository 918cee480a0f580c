// Dequantisation and chroma QP tables.
// Hand-aligned tables, as the standard prints them.
// clang-format off
#include "h264dec/tables/tables.h"

namespace tessaly::h264 {

const uint8_t kNormAdjust4x4[6][3] = {
    {10, 16, 13}, {11, 18, 14}, {13, 20, 16}, {14, 23, 18}, {16, 25, 20}, {18, 29, 23},
};

const uint8_t kNormAdjust8x8[6][6] = {
    {20, 18, 32, 19, 25, 24}, {22, 19, 35, 21, 28, 26}, {26, 23, 42, 24, 33, 31},
    {28, 25, 45, 26, 35, 33}, {32, 28, 51, 30, 40, 38}, {36, 32, 58, 34, 46, 43},
};

const uint8_t kNormAdjust4x4Class[16] = {
    0, 2, 0, 2,
    2, 1, 2, 1,
    0, 2, 0, 2,
    2, 1, 2, 1,
};

const uint8_t kNormAdjust8x8Class[64] = {
    0, 3, 4, 3, 0, 3, 4, 3,
    3, 1, 5, 1, 3, 1, 5, 1,
    4, 5, 2, 5, 4, 5, 2, 5,
    3, 1, 5, 1, 3, 1, 5, 1,
    0, 3, 4, 3, 0, 3, 4, 3,
    3, 1, 5, 1, 3, 1, 5, 1,
    4, 5, 2, 5, 4, 5, 2, 5,
    3, 1, 5, 1, 3, 1, 5, 1,
};

const uint8_t kChromaQp[52] = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
    18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 29, 30, 31, 32, 32, 33,
    34, 34, 35, 35, 36, 36, 37, 37, 37, 38, 38, 38, 39, 39, 39, 39,
};

}  // namespace tessaly::h264
// clang-format on
