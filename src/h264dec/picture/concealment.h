// Macroblocks a frame picture lost (to a missing slice or an error in its
// slice data) are filled from the same place in an earlier picture: a camera
// mostly looks at a still scene, and an earlier picture is much closer to the
// lost content than whatever the buffer held before.
#pragma once

#include <cstdint>

#include "h264dec/picture/picture.h"

namespace tessaly::h264 {

// Copies every macroblock whose entry in `decoded` (one byte per macroblock
// of the frame, in raster order) is 0 from `source` when there is one, and
// returns how many there were.
int32_t ConcealMissingMbs(Picture &p, const Picture *source, const uint8_t *decoded, int32_t widthMbs,
                          int32_t heightMbs);

}  // namespace tessaly::h264
