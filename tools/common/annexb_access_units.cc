#include "annexb_access_units.h"

namespace tessaly::tools {
namespace {

// Offset of the 01 of the next 00 00 01 at or after `from`, or `size`.
size_t FindStartCodeEnd(const uint8_t *stream, size_t size, size_t from) {
    for (size_t i = from; i + 2 < size; ++i) {
        if (stream[i + 2] > 1) {
            i += 2;  // no start code can end within the next two bytes
            continue;
        }
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) return i + 2;
    }
    return size;
}

bool IsSlice(uint8_t type) { return type == kNalSlice || type == kNalIdrSlice; }

bool StartsAccessUnitAfterSlice(const uint8_t *stream, const NalUnit &unit) {
    switch (unit.type) {
    case kNalSei:
    case kNalSps:
    case kNalPps:
    case kNalAud: return true;
    case kNalSlice:
    case kNalIdrSlice:
        // first_mb_in_slice is 0, coded as a single 1 bit: the slice begins a picture.
        return unit.payload.size > 1 && (stream[unit.payload.offset + 1] & 0x80) != 0;
    default: return false;
    }
}

}  // namespace

bool NextNalUnit(const uint8_t *stream, size_t size, size_t from, NalUnit *unit) {
    const size_t one = FindStartCodeEnd(stream, size, from);
    if (one >= size) return false;
    size_t begin = one - 2;
    if (begin > from && stream[begin - 1] == 0) --begin;  // four-byte start code
    const size_t payload = one + 1;
    size_t end = FindStartCodeEnd(stream, size, payload);
    end = end >= size ? size : end - 2;
    // The zero bytes before the next start code belong to it (or are padding).
    size_t payloadEnd = end;
    while (payloadEnd > payload && stream[payloadEnd - 1] == 0) --payloadEnd;
    if (end < size && end > payload && stream[end - 1] == 0) --end;  // leave the next four-byte start code whole
    unit->withStartCode = {begin, end - begin};
    unit->payload = {payload, payloadEnd - payload};
    unit->type = payload < payloadEnd ? (stream[payload] & 0x1f) : 0;
    return true;
}

std::vector<ByteRange> SplitAccessUnits(const uint8_t *stream, size_t size) {
    std::vector<ByteRange> units;
    NalUnit nal;
    size_t pos = 0;
    bool open = false;
    bool previousWasSlice = false;
    size_t unitBegin = 0;
    while (NextNalUnit(stream, size, pos, &nal)) {
        if (nal.payload.size == 0) {
            pos = nal.payload.offset;
            continue;
        }
        if (!open) {
            open = true;
            unitBegin = nal.withStartCode.offset;
        } else if (previousWasSlice && StartsAccessUnitAfterSlice(stream, nal)) {
            units.push_back({unitBegin, nal.withStartCode.offset - unitBegin});
            unitBegin = nal.withStartCode.offset;
        }
        previousWasSlice = IsSlice(nal.type);
        pos = nal.withStartCode.offset + nal.withStartCode.size;
    }
    if (open) units.push_back({unitBegin, pos - unitBegin});
    return units;
}

ByteRange FindFirstSps(const uint8_t *stream, size_t size) {
    NalUnit nal;
    size_t pos = 0;
    while (NextNalUnit(stream, size, pos, &nal)) {
        if (nal.type == kNalSps && nal.payload.size > 1) return nal.payload;
        pos = nal.withStartCode.offset + nal.withStartCode.size;
    }
    return {};
}

}  // namespace tessaly::tools
