#include "sps_timing.h"

#include "rbsp_reader.h"

namespace tessaly::tools {
namespace {

bool profile_has_chroma_format(uint32_t profile_idc) {
  switch (profile_idc) {
    case 100: case 110: case 122: case 244: case 44: case 83:
    case 86: case 118: case 128: case 138: case 139: case 134: case 135:
      return true;
    default:
      return false;
  }
}

void skip_scaling_list(RbspReader &r, int entries) {
  int last = 8, next = 8;
  for (int j = 0; j < entries && next != 0; ++j) {
    next = (last + r.se() + 256) % 256;
    if (next != 0) last = next;
    if (r.overrun()) return;
  }
}

bool parse_vui(RbspReader &r, SpsSummary *out) {
  if (r.bit()) {  // aspect_ratio_info_present_flag
    if (r.bits(8) == 255) r.bits(32);  // Extended_SAR: sar_width, sar_height
  }
  if (r.bit()) r.bit();  // overscan_info_present_flag, overscan_appropriate_flag
  if (r.bit()) {         // video_signal_type_present_flag
    r.bits(4);           // video_format, video_full_range_flag
    if (r.bit()) r.bits(24);  // colour primaries, transfer, matrix
  }
  if (r.bit()) {  // chroma_loc_info_present_flag
    r.ue();
    r.ue();
  }
  out->has_timing = r.bit();
  if (out->has_timing) {
    out->num_units_in_tick = r.bits(32);
    out->time_scale = r.bits(32);
    r.bit();  // fixed_frame_rate_flag
    if (out->num_units_in_tick == 0 || out->time_scale == 0) out->has_timing = false;
  }
  // Nothing after the timing information is needed.
  return !r.overrun();
}

}  // namespace

double SpsSummary::frame_rate() const {
  if (!has_timing) return 0;
  return static_cast<double>(time_scale) / (2.0 * num_units_in_tick);
}

bool parse_sps_summary(const uint8_t *nal, size_t size, SpsSummary *out) {
  if (size < 4 || (nal[0] & 0x1f) != 7) return false;
  RbspReader r(nal + 1, size - 1);
  *out = SpsSummary{};
  const uint32_t profile_idc = r.bits(8);
  r.bits(16);  // constraint flags, level_idc
  if (r.ue() > 31) return false;  // seq_parameter_set_id
  uint32_t chroma_format_idc = 1;
  if (profile_has_chroma_format(profile_idc)) {
    chroma_format_idc = r.ue();
    if (chroma_format_idc > 3) return false;
    if (chroma_format_idc == 3) r.bit();  // separate_colour_plane_flag
    if (r.ue() > 6 || r.ue() > 6) return false;  // bit depths minus 8
    r.bit();                                     // qpprime_y_zero_transform_bypass_flag
    if (r.bit()) {                               // seq_scaling_matrix_present_flag
      const int lists = chroma_format_idc == 3 ? 12 : 8;
      for (int i = 0; i < lists; ++i) {
        if (r.bit()) skip_scaling_list(r, i < 6 ? 16 : 64);
      }
    }
  }
  if (r.ue() > 12) return false;  // log2_max_frame_num_minus4
  const uint32_t poc_type = r.ue();
  if (poc_type == 0) {
    if (r.ue() > 12) return false;  // log2_max_pic_order_cnt_lsb_minus4
  } else if (poc_type == 1) {
    r.bit();
    r.se();
    r.se();
    const uint32_t cycle = r.ue();
    if (cycle > 255) return false;
    for (uint32_t i = 0; i < cycle; ++i) r.se();
  } else if (poc_type != 2) {
    return false;
  }
  r.ue();   // max_num_ref_frames
  r.bit();  // gaps_in_frame_num_value_allowed_flag
  const uint32_t width_mbs = r.ue() + 1;
  const uint32_t height_map_units = r.ue() + 1;
  const uint32_t frame_mbs_only = r.bit();
  if (!frame_mbs_only) r.bit();  // mb_adaptive_frame_field_flag
  r.bit();                       // direct_8x8_inference_flag
  if (width_mbs > 1024 || height_map_units > 1024) return false;
  uint32_t width = width_mbs * 16;
  uint32_t height = height_map_units * 16 * (2 - frame_mbs_only);
  if (r.bit()) {  // frame_cropping_flag
    const uint32_t unit_x = chroma_format_idc == 1 || chroma_format_idc == 2 ? 2 : 1;
    const uint32_t unit_y = (chroma_format_idc == 1 ? 2 : 1) * (2 - frame_mbs_only);
    const uint64_t left = r.ue(), right = r.ue(), top = r.ue(), bottom = r.ue();
    const uint64_t crop_x = (left + right) * unit_x, crop_y = (top + bottom) * unit_y;
    if (crop_x >= width || crop_y >= height) return false;
    width -= static_cast<uint32_t>(crop_x);
    height -= static_cast<uint32_t>(crop_y);
  }
  out->width = width;
  out->height = height;
  if (r.bit() && !parse_vui(r, out)) return false;  // vui_parameters_present_flag
  return !r.overrun();
}

}  // namespace tessaly::tools
