#include "camera_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "sps_timing.h"
#include "tessaly/kova.h"

namespace tessaly::play {
namespace {

bool read_whole_file(const std::string &path, std::vector<uint8_t> *bytes, std::string *error) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = path + ": not a regular file";
    return false;
  }
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  bytes->resize(static_cast<size_t>(info.st_size));
  const size_t got = bytes->empty() ? 0 : std::fread(bytes->data(), 1, bytes->size(), f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed || got != bytes->size()) {
    *error = path + ": read error";
    return false;
  }
  return true;
}

// The port recognises a key frame by the sequence parameter set right at its
// start, behind a four-byte start code. Access unit delimiters carry nothing
// the decoder needs, so a key frame that opens with one is sent from its SPS.
void start_key_frames_at_sps(const std::vector<uint8_t> &bytes, tools::ByteRange *unit) {
  const size_t end = unit->offset + unit->size;
  tools::NalUnit nal;
  if (!tools::next_nal_unit(bytes.data(), end, unit->offset, &nal) || nal.type != tools::kNalAud) return;
  while (tools::next_nal_unit(bytes.data(), end, nal.with_start_code.offset + nal.with_start_code.size, &nal)) {
    if (nal.type == tools::kNalAud) continue;
    const bool four_byte_start = nal.payload.offset - nal.with_start_code.offset == 4;
    if (nal.type == tools::kNalSps && four_byte_start) *unit = {nal.with_start_code.offset, end - nal.with_start_code.offset};
    return;
  }
}

}  // namespace

bool load_camera_file(const std::string &path, double default_fps, CameraFile *file, std::string *error) {
  file->path = path;
  if (!read_whole_file(path, &file->bytes, error)) return false;
  const tools::ByteRange sps = tools::find_first_sps(file->bytes.data(), file->bytes.size());
  tools::SpsSummary summary;
  if (sps.size == 0 || !tools::parse_sps_summary(file->bytes.data() + sps.offset, sps.size, &summary)) {
    *error = path + ": not an H.264 stream (no sequence parameter set found)";
    return false;
  }
  file->width = summary.width;
  file->height = summary.height;
  const double stream_fps = summary.frame_rate();
  file->fps_from_stream = stream_fps >= 0.5 && stream_fps <= 240;
  file->fps = file->fps_from_stream ? stream_fps : default_fps;
  file->access_units = tools::split_access_units(file->bytes.data(), file->bytes.size());
  // A port takes frames of up to 3/8 byte per pixel of the coded picture its key frames announce.
  const uint64_t coded_area = uint64_t{(file->width + 15u) & ~15u} * ((file->height + 15u) & ~15u);
  const uint64_t frame_limit = std::max<uint64_t>(KOVA_MAX_FRAME_BYTES, coded_area * 3 / 8);
  for (tools::ByteRange &unit : file->access_units) {
    start_key_frames_at_sps(file->bytes, &unit);
    if (unit.size > frame_limit) {
      *error = path + ": an access unit of " + std::to_string(unit.size) + " bytes is longer than a port accepts (" +
               std::to_string(frame_limit) + ")";
      return false;
    }
  }
  return true;
}

}  // namespace tessaly::play
