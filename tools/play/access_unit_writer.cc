#include "access_unit_writer.h"

#include <cstring>

#include "annexb_access_units.h"

namespace tessaly::play {
namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

bool IsParameterSet(uint8_t type) { return type == tools::kNalSps || type == tools::kNalPps; }

}  // namespace

void AccessUnitWriter::Append(const uint8_t *nal, size_t size) {
    std::memcpy(out_.data() + size_, kStartCode, sizeof kStartCode);
    std::memcpy(out_.data() + size_ + sizeof kStartCode, nal, size);
    size_ += sizeof kStartCode + size;
}

void AccessUnitWriter::SetExtradata(const uint8_t *data, size_t size) {
    parameterSets_.clear();
    if (size == 0 || !data) return;
    auto add = [this](const uint8_t *nal, size_t nalSize) {
        parameterSets_.insert(parameterSets_.end(), kStartCode, kStartCode + sizeof kStartCode);
        parameterSets_.insert(parameterSets_.end(), nal, nal + nalSize);
    };
    if (data[0] != 1) {
        tools::NalUnit nal;
        for (size_t at = 0; tools::NextNalUnit(data, size, at, &nal);
             at = nal.withStartCode.offset + nal.withStartCode.size)
            if (IsParameterSet(nal.type)) add(data + nal.payload.offset, nal.payload.size);
        return;
    }
    // avcC: six bytes, the SPS (count in the low five bits), then the PPS
    // count and the PPS, each set behind a two-byte length.
    size_t at = 5;
    for (int list = 0; list < 2 && at < size; ++list) {
        unsigned count = list == 0 ? data[at] & 31u : data[at];
        ++at;
        for (; count > 0 && at + 2 <= size; --count) {
            const size_t nalSize = size_t{data[at]} << 8 | data[at + 1];
            at += 2;
            if (nalSize == 0 || at + nalSize > size) return;
            add(data + at, nalSize);
            at += nalSize;
        }
    }
}

bool AccessUnitWriter::Write(const uint8_t *data, size_t size) {
    size_ = 0;
    key_ = false;
    bool hasSps = false;
    size_t nals = 0;
    tools::NalUnit nal;
    for (size_t at = 0; tools::NextNalUnit(data, size, at, &nal);
         at = nal.withStartCode.offset + nal.withStartCode.size) {
        key_ |= nal.type == tools::kNalIdrSlice;
        hasSps |= nal.type == tools::kNalSps;
        ++nals;
    }
    if (nals == 0) return false;
    // The stream's own sets replace the older ones, for this key frame and those to come.
    if (hasSps) {
        parameterSets_.clear();
        for (size_t at = 0; tools::NextNalUnit(data, size, at, &nal);
             at = nal.withStartCode.offset + nal.withStartCode.size) {
            if (!IsParameterSet(nal.type)) continue;
            parameterSets_.insert(parameterSets_.end(), kStartCode, kStartCode + sizeof kStartCode);
            parameterSets_.insert(parameterSets_.end(), data + nal.payload.offset,
                                  data + nal.payload.offset + nal.payload.size);
        }
    }
    // At most one byte more per NAL unit (three-byte start codes become four).
    const size_t needed = size + nals + parameterSets_.size();
    if (out_.size() < needed) out_.resize(needed);
    // A key frame opens with its parameter sets, whatever came before them (SEI).
    if (key_) {
        std::memcpy(out_.data(), parameterSets_.data(), parameterSets_.size());
        size_ = parameterSets_.size();
    }
    for (size_t at = 0; tools::NextNalUnit(data, size, at, &nal);
         at = nal.withStartCode.offset + nal.withStartCode.size) {
        if (nal.type == tools::kNalAud || nal.payload.size == 0 || (key_ && IsParameterSet(nal.type))) continue;
        Append(data + nal.payload.offset, nal.payload.size);
    }
    return size_ > 0;
}

}  // namespace tessaly::play
