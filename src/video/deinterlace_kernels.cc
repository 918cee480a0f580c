// C reference kernels of the deinterlacer: the motion decision per pixel
// pair and edge-directed interpolation.
#include <cstdlib>

#include "video/deinterlace_dsp.h"

namespace tessaly::video {
namespace {

// Summed signed difference of the 2x2 neighbourhood at (row, x) between two
// fields. Signed on purpose: small opposite changes cancel, which keeps
// sensor noise from resetting the still counters.
inline int NeighbourhoodChange(const uint8_t *now, const uint8_t *before, ptrdiff_t stride, int x) {
    const uint8_t *nowBelow = now + stride;
    const uint8_t *beforeBelow = before + stride;
    return (now[x] - before[x]) + (now[x + 1] - before[x + 1]) + (nowBelow[x] - beforeBelow[x]) +
           (nowBelow[x + 1] - beforeBelow[x + 1]);
}

// The missing pixel in column c between rows a (above) and b (below): the
// average along whichever of vertical, a[c+1]-b[c-1] and a[c-1]-b[c+1]
// differs least. Ties keep the earlier candidate, vertical first.
inline uint8_t InterpolateAlongEdge(const uint8_t *a, const uint8_t *b, int c) {
    const int vertical = std::abs(b[c] - a[c]);
    const int fromUpperRight = std::abs(b[c - 1] - a[c + 1]);
    const int fromUpperLeft = std::abs(b[c + 1] - a[c - 1]);
    int direction = 0;
    int best = vertical;
    if (fromUpperRight < best) {
        direction = -1;
        best = fromUpperRight;
    }
    if (fromUpperLeft < best) direction = 1;
    return static_cast<uint8_t>((a[c - direction] + b[c + direction]) >> 1);
}

void BuildMissingRowC(uint8_t *dst, const FieldRows &rows, uint8_t *stillCount, int width) {
    const uint8_t *a = rows.top;
    const uint8_t *b = rows.top + rows.stride;
    dst[0] = a[0];
    dst[1] = a[1];
    int x = 2;
    for (; x + 1 <= width - 3; x += 2) {
        const int bottomChange = NeighbourhoodChange(rows.bottom, rows.prevBottom, rows.stride, x);
        const int topChange = NeighbourhoodChange(rows.top, rows.prevTop, rows.stride, x);
        bool weave = false;
        if (std::abs(bottomChange) < kStillThreshold && std::abs(topChange) < kStillThreshold) {
            int count = stillCount[x] + 1;
            if (count >= kWeaveCount) {
                count = kWeaveCount - 1;
                weave = true;
            }
            stillCount[x] = static_cast<uint8_t>(count);
        } else {
            stillCount[x] = 0;
        }
        if (weave) {
            dst[x] = rows.bottom[x];
            dst[x + 1] = rows.bottom[x + 1];
        } else {
            dst[x] = InterpolateAlongEdge(a, b, x);
            dst[x + 1] = InterpolateAlongEdge(a, b, x + 1);
        }
    }
    // The two rightmost columns, and for an odd width the unpaired one before.
    for (; x < width; ++x) dst[x] = a[x];
}

}  // namespace

const DeinterlaceDsp &DeinterlaceDsp_Get() {
    static const DeinterlaceDsp kC = {BuildMissingRowC};
    return kC;
}

}  // namespace tessaly::video
