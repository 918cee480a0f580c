#include "annexb_access_units.h"

#include "rbsp_reader.h"

namespace tessaly::tools {
namespace {

// Offset of the 01 of the next 00 00 01 at or after `from`, or `size`.
size_t find_start_code_end(const uint8_t *stream, size_t size, size_t from) {
  for (size_t i = from; i + 2 < size; ++i) {
    if (stream[i + 2] > 1) {
      i += 2;  // no start code can end within the next two bytes
      continue;
    }
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) return i + 2;
  }
  return size;
}

bool is_slice(uint8_t type) { return type == kNalSlice || type == kNalIdrSlice; }

bool starts_access_unit_after_slice(const uint8_t *stream, const NalUnit &unit) {
  switch (unit.type) {
    case kNalSei:
    case kNalSps:
    case kNalPps:
    case kNalAud:
      return true;
    case kNalSlice:
    case kNalIdrSlice: {
      RbspReader reader(stream + unit.payload.offset + 1, unit.payload.size - 1);
      return reader.ue() == 0 && !reader.overrun();
    }
    default:
      return false;
  }
}

}  // namespace

bool next_nal_unit(const uint8_t *stream, size_t size, size_t from, NalUnit *unit) {
  const size_t one = find_start_code_end(stream, size, from);
  if (one >= size) return false;
  size_t begin = one - 2;
  if (begin > from && stream[begin - 1] == 0) --begin;  // four-byte start code
  const size_t payload = one + 1;
  size_t end = find_start_code_end(stream, size, payload);
  end = end >= size ? size : end - 2;
  // The zero bytes before the next start code belong to it (or are padding).
  size_t payload_end = end;
  while (payload_end > payload && stream[payload_end - 1] == 0) --payload_end;
  if (end < size && end > payload && stream[end - 1] == 0) --end;  // leave the next four-byte start code whole
  unit->with_start_code = {begin, end - begin};
  unit->payload = {payload, payload_end - payload};
  unit->type = payload < payload_end ? (stream[payload] & 0x1f) : 0;
  return true;
}

std::vector<ByteRange> split_access_units(const uint8_t *stream, size_t size) {
  std::vector<ByteRange> units;
  NalUnit nal;
  size_t pos = 0;
  bool open = false;
  bool previous_was_slice = false;
  size_t unit_begin = 0;
  while (next_nal_unit(stream, size, pos, &nal)) {
    if (nal.payload.size == 0) {
      pos = nal.payload.offset;
      continue;
    }
    if (!open) {
      open = true;
      unit_begin = nal.with_start_code.offset;
    } else if (previous_was_slice && starts_access_unit_after_slice(stream, nal)) {
      units.push_back({unit_begin, nal.with_start_code.offset - unit_begin});
      unit_begin = nal.with_start_code.offset;
    }
    previous_was_slice = is_slice(nal.type);
    pos = nal.with_start_code.offset + nal.with_start_code.size;
  }
  if (open) units.push_back({unit_begin, pos - unit_begin});
  return units;
}

ByteRange find_first_sps(const uint8_t *stream, size_t size) {
  NalUnit nal;
  size_t pos = 0;
  while (next_nal_unit(stream, size, pos, &nal)) {
    if (nal.type == kNalSps && nal.payload.size > 1) return nal.payload;
    pos = nal.with_start_code.offset + nal.with_start_code.size;
  }
  return {};
}

}  // namespace tessaly::tools
