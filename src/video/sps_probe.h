// A look at a key frame's sequence parameter set before the decoder sees the
// frame, so the decode setup can grow first.
#pragma once

#include <cstdint>

#include "h264dec/bitstream/sps_summary.h"

namespace tessaly::video {

// A frame that starts with 00 00 00 01 and a NAL unit of type 7, at least 16
// bytes long: its set summarised. False otherwise or when the set does not
// parse within the decoder's bounds.
bool ProbeKeyFrameSps(const uint8_t *frame, uint32_t length, h264::SpsSummary &sps);

}  // namespace tessaly::video
