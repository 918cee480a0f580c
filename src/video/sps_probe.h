// A quick look at a key frame's sequence parameter set for the picture size,
// before the decoder sees the frame, so the decode setup can grow first.
#pragma once

#include <cstdint>

namespace tessaly::video {

struct ProbedSize {
    int32_t width = 0;
    int32_t height = 0;
};

// Applies to a frame that starts with 00 00 00 01 and a NAL unit of type 7,
// at least 16 bytes long. Reads the set as written (emulation-prevention bytes
// are not removed) up to pic_height_in_map_units_minus1 and gives
// (pic_width_in_mbs_minus1 + 1) x 16 by (pic_height_in_map_units_minus1 + 1) x 16,
// frame_mbs_only_flag not applied. False when the frame does not qualify, the
// set is cut short, or either size is above 2560.
bool ProbeSpsSize(const uint8_t *data, uint32_t length, ProbedSize &size);

}  // namespace tessaly::video
