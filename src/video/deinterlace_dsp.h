// The per-row kernels of the deinterlacer, reached through one table of
// function pointers. The C members are the reference; vector members may
// replace them entry by entry and must give identical bytes, including the
// still counters they leave behind.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly::video {

// Motion decision: a pixel pair counts as still when the summed (signed)
// difference over its 2x2 field neighbourhood is below this in magnitude,
// both for the bottom fields and for the top fields.
constexpr int kStillThreshold = 50;
// A pair is woven once its still counter reaches this; the counter is then
// held one below, so the next still frame reaches it again.
constexpr int kWeaveCount = 8;

// Row k of the four luma fields of the history, all planes sharing one row
// step; row k + 1 of each is at + stride.
struct FieldRows {
    const uint8_t *bottom;      // the bottom field just given
    const uint8_t *top;         // the top field of the same frame: rows a (k) and b (k + 1)
    const uint8_t *prevBottom;  // the previous frame's bottom field
    const uint8_t *prevTop;     // the previous frame's top field
    ptrdiff_t stride;
};

// Builds the output row that lies between top-field rows k and k + 1
// (output row 2k + 1) and updates the still counters of its pixel pairs.
//
// dst:        width bytes, written once each.
// rows:       the four fields at row k; rows k and k + 1 are read, columns
//             0..width-1.
// stillCount: the counters of row k; byte x belongs to the pair (x, x + 1)
//             for even x from 2 while x + 1 <= width - 3; other bytes are
//             neither read nor written.
// width:      at least 8 (the deinterlacer only passes 128 and more).
//
// Columns 0, 1, width - 2, width - 1 (and width - 3 when width is odd, which
// belongs to no pair) are copied from row a. Each pair is woven (the bottom
// field's two pixels) when its counter reaches kWeaveCount, otherwise both
// pixels are interpolated between a and b along the best of three directions.
using BuildMissingRowFn = void (*)(uint8_t *dst, const FieldRows &rows, uint8_t *stillCount, int width);

struct DeinterlaceDsp {
    BuildMissingRowFn buildMissingRow;
};

// The kernel table for this machine (only the C reference exists so far).
const DeinterlaceDsp &DeinterlaceDsp_Get();

}  // namespace tessaly::video
