// Voice frames as files hold them and as the sound output takes them: finding
// each frame of a frame file, and cutting a long G.726 frame into the frames
// of 80 samples (24 bytes at 16 kbit/s, 44 bytes at 32 kbit/s) that
// KOVA_Voice_Output plays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace voicetool {

constexpr size_t kFrameHeaderBytes = 4;
// The frames the sound output plays, 80 samples each.
constexpr size_t kOutputFrameBytes16k = 24;
constexpr size_t kOutputFrameBytes32k = 44;
// What capture hands over: 480 samples at 32 kbit/s, six output frames.
constexpr size_t kCaptureFrameBytes = 244;
constexpr size_t kCaptureSplitBytes = 6 * kOutputFrameBytes32k;

// The length, header included, of the frame starting at `offset` of a frame
// file, from its length word. 0 with the reason in `error` when the header or
// the payload runs past the end, or the word is over 255.
size_t FrameLengthAt(const std::vector<uint8_t> &file, size_t offset, std::string &error);

// Walks a frame file: calls visit(frame, length) for each frame in turn, and
// stops at the first one that runs past the end or that visit refuses (having
// set `error` to why); `error` then names the frame and its byte offset. An
// empty file has "no frames".
template <typename Visit>
bool ForEachFrame(std::vector<uint8_t> &file, std::string &error, Visit &&visit) {
    size_t offset = 0, index = 0;
    for (; offset < file.size(); ++index) {
        const size_t length = FrameLengthAt(file, offset, error);
        if (length == 0 || !visit(&file[offset], length)) {
            error = "frame " + std::to_string(index) + " at byte " + std::to_string(offset) + ": " + error;
            return false;
        }
        offset += length;
    }
    if (index == 0) error = "no frames";
    return index != 0;
}

// Splits one G.726 frame of `mode` (TQ_VOICE_MODE_G726_16K or _32K, codes
// least significant bits first) into output frames written back to back to
// `out`, `capacity` bytes; a frame of 80 samples is copied as it is. Returns
// the bytes written: 0 when the marker is wrong, the frame does not hold a
// whole number of 80-sample runs (at most 480 samples, as the codec allows)
// or `out` is too small. Allocates nothing.
size_t SplitFrame(const uint8_t *frame, size_t length, int mode, uint8_t *out, size_t capacity);

}  // namespace voicetool
