#include "recfile/header_search.h"

#include <cstring>

#include "recfile/record_format.h"

namespace tessaly::recfile {

namespace {

bool Accepts(const uint8_t *bytes, SearchRule rule) {
    const FrameHeader header = ParseFrameHeader(bytes);
    return header.sync && header.lengthField < kSearchLengthLimit && (!rule.keyFramesOnly || header.keyFrame) &&
           (!rule.audioBelowLimit || header.audioLength < kMaxAudioBytes);
}

}  // namespace

SearchOutcome SearchFrameHeader(platform::ReadOnlyFile &file, uint32_t &position, uint8_t *scratch, SearchRule rule,
                                uint32_t &timeStamp) {
    uint64_t chunkStart = position;
    uint32_t carry = 0;
    uint32_t skipped = 0;
    for (;;) {
        if (chunkStart >= file.Length()) {
            position = file.Length();
            return SearchOutcome::kEndOfFile;
        }
        const int64_t got = file.Read(scratch + carry, kSearchChunkBytes);
        if (got < 0) {
            file.Seek(SkipOn(file.Position()));
            position = SkipOn(position);
            return SearchOutcome::kReadError;
        }
        if (got < kSearchChunkBytes) {
            position = file.Length();
            return SearchOutcome::kEndOfFile;
        }
        chunkStart += kSearchChunkBytes;
        const uint32_t offsets = carry + kSearchChunkBytes - 16;
        for (uint32_t i = 0; i < offsets; ++i, ++skipped) {
            if (!Accepts(scratch + i, rule)) continue;
            position += skipped;
            file.Seek(position);
            timeStamp = ParseFrameHeader(scratch + i).timeStamp;
            return SearchOutcome::kFound;
        }
        std::memmove(scratch, scratch + offsets, 16);
        carry = 16;
    }
}

}  // namespace tessaly::recfile
