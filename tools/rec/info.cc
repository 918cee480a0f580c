#include "info.h"

#include <cinttypes>
#include <cstdio>
#include <map>

#include "messages.h"
#include "record_walk.h"

namespace tessaly::tools::rec {
namespace {

const char *VoiceFrameName(size_t bytes) {
    switch (bytes) {
    case 24: return " (G.726 16 kbit/s)";
    case 44: return " (G.726 32 kbit/s)";
    default: return "";
    }
}

void PrintAudio(const Walk &walk) {
    std::map<size_t, uint64_t> framesBySize;
    uint64_t unreadableRecords = 0;
    for (const Record &r : walk.records) {
        size_t at = 0;
        while (at < r.header.audioLength) {
            const size_t length = VoiceFrameLength(r.audio + at, r.header.audioLength - at);
            if (length == 0) {
                ++unreadableRecords;
                break;
            }
            ++framesBySize[length];
            at += length;
        }
    }
    if (framesBySize.empty() && unreadableRecords == 0) {
        std::printf("audio: none\n");
        return;
    }
    for (const auto &[bytes, count] : framesBySize) {
        // Every frame the recorders write holds 80 samples, 10 ms.
        std::printf("audio: %zu-byte frames%s: %" PRIu64 " frames, %.2f s\n", bytes, VoiceFrameName(bytes), count,
                    count / 100.0);
    }
    if (unreadableRecords)
        std::printf("audio: %" PRIu64 " records with sound that does not split into voice frames\n", unreadableRecords);
}

}  // namespace

int Info(const std::string &path) {
    RecordFile file;
    std::string error;
    if (!file.Open(path, error)) return Fail(error);
    const recfile::FileHeader &h = file.Header();
    std::printf("file: %s, %" PRIu64 " bytes\n", path.c_str(), file.Size());
    std::printf(
        "header: value A %u, frame rate %u, value B %u, audio flag %u, audio value %u, size %ux%u, "
        "last time stamp %u, decoder selector %u\n",
        h.valueA, h.frameRate, h.valueB, h.audioFlag, h.audioValue, h.width, h.height, h.lastTimeStamp,
        h.decoderSelector);
    std::printf("duration: %.2f s\n", double(h.lastTimeStamp) / h.frameRate);

    const Walk walk = file.WalkRecords();
    uint64_t keyFrames = 0;
    for (const Record &r : walk.records) keyFrames += r.header.keyFrame;
    std::printf("records: %zu\n", walk.records.size());
    std::printf("key frames: %" PRIu64 "\n", keyFrames);
    for (size_t n = 0; n < walk.records.size(); ++n) {
        const Record &r = walk.records[n];
        if (r.header.keyFrame)
            std::printf("  record %zu  offset %" PRIu64 "  time %.3f s\n", n, r.offset,
                        double(r.header.timeStamp) / h.frameRate);
    }
    PrintAudio(walk);
    std::printf("damaged ranges: %zu\n", walk.skipped.size());
    for (const SkippedRange &s : walk.skipped)
        std::printf("  offset %" PRIu64 "  length %" PRIu64 "\n", s.offset, s.length);
    return 0;
}

}  // namespace tessaly::tools::rec
