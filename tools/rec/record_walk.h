// A record file read for the tool: mapped whole, its header checked as the
// library checks it, and its records walked in order. Bytes between records
// that do not hold a record are skipped by trying every offset for the next
// header that looks valid, so one damaged record does not hide the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "recfile/record_format.h"

namespace tessaly::tools::rec {

struct Record {
    uint64_t offset = 0;  // of its frame header
    recfile::FrameHeader header;
    const uint8_t *video = nullptr;  // header.videoLength bytes
    const uint8_t *audio = nullptr;  // header.audioLength bytes
};

struct SkippedRange {
    uint64_t offset = 0, length = 0;
};

struct Walk {
    std::vector<Record> records;
    std::vector<SkippedRange> skipped;
};

class RecordFile {
public:
    RecordFile() = default;
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;
    ~RecordFile();

    // False with a one-line reason for a file that cannot be read, is shorter
    // than the library accepts or has a header the library refuses.
    bool Open(const std::string &path, std::string &error);

    const recfile::FileHeader &Header() const { return header_; }
    uint64_t Size() const { return size_; }
    const uint8_t *Bytes() const { return bytes_; }

    // The records and skipped ranges; the records point into the mapping.
    Walk WalkRecords() const;

private:
    bool RecordFits(uint64_t offset) const;
    bool LooksLikeRecord(uint64_t offset) const;

    const uint8_t *bytes_ = nullptr;
    uint64_t size_ = 0;
    recfile::FileHeader header_;
};

// The length, header included, of the voice frame at `frame` with `left`
// bytes remaining, or 0 when its marker is wrong or it runs past `left`.
size_t VoiceFrameLength(const uint8_t *frame, size_t left);

}  // namespace tessaly::tools::rec
