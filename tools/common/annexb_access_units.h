// Splits an Annex B H.264 byte stream into access units, as a camera sends
// them: one access unit per frame, each holding whole NAL units with their
// start codes exactly as they appear in the stream.
//
// A new access unit begins at a sequence or picture parameter set, an SEI or
// an access unit delimiter that follows a slice, or at a slice whose
// first_mb_in_slice is 0 that follows a slice. Bytes before the first start
// code are not part of any access unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessaly::tools {

enum NalType : uint8_t {
    kNalSlice = 1,
    kNalIdrSlice = 5,
    kNalSei = 6,
    kNalSps = 7,
    kNalPps = 8,
    kNalAud = 9,
};

struct ByteRange {
    size_t offset = 0;
    size_t size = 0;
};

struct NalUnit {
    ByteRange withStartCode;  // from the first byte of its start code (00 00 01 or 00 00 00 01)
    ByteRange payload;        // from the NAL header byte, trailing zero bytes excluded
    uint8_t type = 0;
};

// Finds the next NAL unit at or after `from`; false when there is none.
bool NextNalUnit(const uint8_t *stream, size_t size, size_t from, NalUnit *unit);

// The access units of the whole stream, in order.
std::vector<ByteRange> SplitAccessUnits(const uint8_t *stream, size_t size);

// The first sequence parameter set's payload (NAL header included), or an
// empty range when the stream has none.
ByteRange FindFirstSps(const uint8_t *stream, size_t size);

}  // namespace tessaly::tools
