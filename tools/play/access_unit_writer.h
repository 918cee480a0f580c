// Rewrites the access units of a demuxed H.264 track the way a camera sends
// them: Annex B with four-byte start codes, no access unit delimiters, and
// every IDR access unit opening with its sequence and picture parameter sets
// (the port knows a key frame by the SPS at its start), taken from the track's
// extradata or from the last ones the stream carried when the source does not
// repeat them. Buffers only grow when a larger access unit comes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessaly::play {

class AccessUnitWriter {
public:
    // The parameter sets of a track's extradata, avcC (starting with 1) or Annex B.
    void SetExtradata(const uint8_t *data, size_t size);
    // Rewrites one Annex B access unit; false when it holds no NAL unit to send.
    bool Write(const uint8_t *data, size_t size);

    const uint8_t *data() const { return out_.data(); }
    size_t size() const { return size_; }
    bool keyFrame() const { return key_; }

private:
    void Append(const uint8_t *nal, size_t size);

    std::vector<uint8_t> parameterSets_;  // SPS and PPS, each behind 00 00 00 01
    std::vector<uint8_t> out_;
    size_t size_ = 0;
    bool key_ = false;
};

}  // namespace tessaly::play
