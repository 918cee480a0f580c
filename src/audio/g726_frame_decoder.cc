#include "audio/g726_frame_decoder.h"

#include <cstring>

#include "tessaly/kova.h"

namespace tessaly::audio {

uint16_t AnnouncedFrameBytes(const uint8_t *data) {
    const uint16_t words = static_cast<uint16_t>(data[2] | data[3] << 8);
    return static_cast<uint16_t>((words + 2) * 2);
}

G726FrameDecoder::G726FrameDecoder() { codec_.SetMode(TQ_VOICE_MODE_G726_16K); }

int32_t G726FrameDecoder::Decode(const uint8_t *frame, uint32_t size, int16_t *pcm, int16_t *samples) {
    int16_t mode;
    if (size == kFrameBytes16k)
        mode = TQ_VOICE_MODE_G726_16K;
    else if (size == kFrameBytes32k)
        mode = TQ_VOICE_MODE_G726_32K;
    else
        return KOVA_ERR_INVALID_ARGUMENT;
    if (mode != codec_.Mode()) codec_.SetMode(mode);

    // Only the first header of a submission sets the size; a later one that
    // announces more would make the codec read past the frame (and write more
    // than 80 samples), so it counts as a frame that does not decode.
    if (AnnouncedFrameBytes(frame) != size) return KOVA_ERR_MISSING_OBJECT;
    uint8_t copy[kFrameBytes32k];
    std::memcpy(copy, frame, size);
    return codec_.Decode(copy, pcm, samples) == TQ_VOICE_OK ? KOVA_OK : KOVA_ERR_MISSING_OBJECT;
}

int32_t DecodeFrames(G726FrameDecoder &decoder, const uint8_t *data, uint32_t length, uint8_t *pcm,
                     uint32_t *pcmLength) {
    if (length < 4) return KOVA_ERR_INVALID_ARGUMENT;  // not even a header
    const uint32_t frameBytes = AnnouncedFrameBytes(data);
    if (frameBytes == 0 || length % frameBytes != 0) return KOVA_ERR_INVALID_ARGUMENT;
    if (frameBytes != kFrameBytes16k && frameBytes != kFrameBytes32k) return KOVA_ERR_INVALID_ARGUMENT;
    uint32_t written = 0;
    for (uint32_t offset = 0; offset + frameBytes <= length; offset += frameBytes) {
        int16_t samples[TQ_VOICE_MAX_SAMPLES];
        int16_t count = 0;
        const int32_t result = decoder.Decode(data + offset, frameBytes, samples, &count);
        if (result != KOVA_OK) return result;
        std::memcpy(pcm + written, samples, 2u * count);
        written += 2u * count;
    }
    *pcmLength = written;
    return KOVA_OK;
}

}  // namespace tessaly::audio
