#include "frame_split.h"

#include <cstring>

#include "tessaly/tq_voice.h"

namespace voicetool {
namespace {

constexpr size_t kOutputSamples = 80;
// The codec takes at most 480 samples a frame.
constexpr size_t kMostParts = 6;

}  // namespace

size_t FrameLengthAt(const std::vector<uint8_t> &file, size_t offset, std::string &error) {
    if (file.size() - offset < kFrameHeaderBytes) {
        error = "truncated header";
        return 0;
    }
    if (file[offset + 3] != 0) {
        error = "payload length over 255 words";
        return 0;
    }
    const size_t length = kFrameHeaderBytes + 2 * size_t{file[offset + 2]};
    if (file.size() - offset < length) {
        error = "truncated payload";
        return 0;
    }
    return length;
}

size_t SplitFrame(const uint8_t *frame, size_t length, int mode, uint8_t *out, size_t capacity) {
    if (length < kFrameHeaderBytes || (frame[1] & 3) != 1 || frame[3] != 0 ||
        kFrameHeaderBytes + 2 * size_t{frame[2]} != length)
        return 0;
    if (length == kOutputFrameBytes16k || length == kOutputFrameBytes32k) {
        if (capacity < length) return 0;
        std::memcpy(out, frame, length);
        return length;
    }
    if (mode != TQ_VOICE_MODE_G726_16K && mode != TQ_VOICE_MODE_G726_32K) return 0;
    const size_t bitsPerCode = mode == TQ_VOICE_MODE_G726_16K ? 2 : 4;
    // Codes go least significant bits first and 80 of them fill whole bytes,
    // so each part is a plain slice of the payload, and decoding the parts in
    // order carries the same coder state as decoding the whole frame.
    const size_t partPayload = kOutputSamples * bitsPerCode / 8;
    const size_t payload = length - kFrameHeaderBytes;
    const size_t parts = payload / partPayload;
    const size_t written = parts * (kFrameHeaderBytes + partPayload);
    if (payload % partPayload != 0 || parts > kMostParts || written > capacity) return 0;
    for (size_t k = 0; k < parts; ++k) {
        uint8_t *part = out + k * (kFrameHeaderBytes + partPayload);
        part[0] = 0x00;
        part[1] = 0x01;
        part[2] = static_cast<uint8_t>(partPayload / 2);
        part[3] = 0x00;
        std::memcpy(part + kFrameHeaderBytes, frame + kFrameHeaderBytes + k * partPayload, partPayload);
    }
    return written;
}

}  // namespace voicetool
