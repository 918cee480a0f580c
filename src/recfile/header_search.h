// Finding the next frame header in a record file after a seek or a damaged
// record: the file is read in 32 KiB chunks and every byte offset is tried,
// the last 16 bytes of each chunk carried into the next, so a header that
// straddles two chunks is found and offsets count on across chunks. A header
// in the final, partial chunk is not found: the search ends at the end of the
// file.
#pragma once

#include <cstdint>

#include "platform/read_only_file.h"

namespace tessaly::recfile {

constexpr uint32_t kSearchChunkBytes = 32768;
// Scratch a search needs: a chunk and the carried tail.
constexpr uint32_t kSearchScratchBytes = kSearchChunkBytes + 16;
// How far a read error moves the reading on.
constexpr uint32_t kReadErrorSkipBytes = 131072;
// An offset moved on past a read error (stopping at the largest offset).
inline uint32_t SkipOn(uint32_t offset) {
    return offset > 0xFFFFFFFFu - kReadErrorSkipBytes ? 0xFFFFFFFFu : offset + kReadErrorSkipBytes;
}

struct SearchRule {
    bool keyFramesOnly = false;
    bool audioBelowLimit = false;  // also require an audio length below 4096
};

enum class SearchOutcome { kFound, kEndOfFile, kReadError };

// Searches from `position` (where `file` stands). Found: `position` and the
// file are at the header, `timeStamp` is its time stamp. End of file:
// `position` is the file's length (the caller sets the time stamp). Read
// error: the file and `position` are both 128 KiB further on.
SearchOutcome SearchFrameHeader(platform::ReadOnlyFile &file, uint32_t &position, uint8_t *scratch, SearchRule rule,
                                uint32_t &timeStamp);

}  // namespace tessaly::recfile
