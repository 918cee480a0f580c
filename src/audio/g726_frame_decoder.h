// Decodes the G.726 voice frames cameras send, choosing the rate from the
// frame's size: 24 bytes are 16 kbit/s, 44 bytes 32 kbit/s, each 80 samples
// (10 ms at 8 kHz). A change of size starts the decoder afresh; a run of one
// size carries its state from frame to frame.
#pragma once

#include <cstdint>

#include "audio/voice_codec_state.h"

namespace tessaly::audio {

constexpr uint32_t kFrameBytes16k = 24;
constexpr uint32_t kFrameBytes32k = 44;

// The frame size a submission's first header announces: its length word plus
// the header, in bytes, computed in 16 bits as a camera's firmware does (0 for
// a damaged word).
uint16_t AnnouncedFrameBytes(const uint8_t *data);

class G726FrameDecoder {
public:
    G726FrameDecoder();

    // Decodes one frame of `size` bytes into `pcm` (TQ_VOICE_MAX_SAMPLES room)
    // and sets `samples`. KOVA_ERR_INVALID_ARGUMENT for a size other than 24
    // or 44 (nothing changes), KOVA_ERR_MISSING_OBJECT for a frame the codec
    // refuses or whose own header disagrees with its size.
    int32_t Decode(const uint8_t *frame, uint32_t size, int16_t *pcm, int16_t *samples);

    // Resets the decoder state for the rate in use.
    void Reset() { codec_.SetMode(codec_.Mode()); }

private:
    VoiceCodecState codec_;
};

// Decodes a submission of equal-size frames (the first header gives the size)
// into `pcm` (160 bytes per frame) and stores the bytes written in
// `pcmLength`. KOVA_ERR_INVALID_ARGUMENT for a size of 0, other than 24 or 44,
// or a length that is not a multiple of it; KOVA_ERR_MISSING_OBJECT at the
// first frame that does not decode (earlier frames are in `pcm`, `pcmLength`
// is not written).
int32_t DecodeFrames(G726FrameDecoder &decoder, const uint8_t *data, uint32_t length, uint8_t *pcm,
                     uint32_t *pcmLength);

}  // namespace tessaly::audio
