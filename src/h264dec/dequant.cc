#include "h264dec/dequant.h"

#include "h264dec/tables/tables.h"

namespace tessaly::h264 {
namespace {

// Column of normAdjust4x4 for raster position (row i, column j).
int Class4x4(int i, int j) {
    if ((i & 1) == 0 && (j & 1) == 0) return 0;
    if ((i & 1) == 1 && (j & 1) == 1) return 1;
    return 2;
}

int Class8x8(int i, int j) {
    if ((i & 3) == 0 && (j & 3) == 0) return 0;
    if ((i & 1) == 1 && (j & 1) == 1) return 1;
    if ((i & 3) == 2 && (j & 3) == 2) return 2;
    if (((i & 3) == 0 && (j & 1) == 1) || ((i & 1) == 1 && (j & 3) == 0)) return 3;
    if (((i & 3) == 0 && (j & 3) == 2) || ((i & 3) == 2 && (j & 3) == 0)) return 4;
    return 5;
}

}  // namespace

void BuildDequantTables(const ScalingLists &lists, DequantTables *out) {
    for (int list = 0; list < 6; ++list)
        for (int m = 0; m < 6; ++m)
            for (int pos = 0; pos < 16; ++pos)
                out->scale4x4[list][m][pos] =
                    uint16_t(lists.list4x4[list][pos] * kNormAdjust4x4[m][Class4x4(pos >> 2, pos & 3)]);
    for (int list = 0; list < 2; ++list)
        for (int m = 0; m < 6; ++m)
            for (int pos = 0; pos < 64; ++pos)
                out->scale8x8[list][m][pos] =
                    uint16_t(lists.list8x8[list][pos] * kNormAdjust8x8[m][Class8x8(pos >> 3, pos & 7)]);
}

}  // namespace tessaly::h264
