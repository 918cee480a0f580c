// The few sequence parameter set fields a player needs before decoding: the
// cropped picture size and the frame rate from the VUI timing information.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly::tools {

struct SpsSummary {
  uint32_t width = 0;   // after cropping
  uint32_t height = 0;  // after cropping, frame rows
  bool has_timing = false;
  uint32_t num_units_in_tick = 0;
  uint32_t time_scale = 0;
  // Frames per second, time_scale / (2 * num_units_in_tick) (one frame is
  // two field ticks); 0 when the stream does not say.
  double frame_rate() const;
};

// Parses an SPS NAL unit (payload starting at the NAL header byte). False on
// anything malformed or out of range; `out` then holds partial values.
bool parse_sps_summary(const uint8_t *nal, size_t size, SpsSummary *out);

}  // namespace tessaly::tools
