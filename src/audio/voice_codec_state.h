// One encoder and one decoder state of the voice codec with the mode they are
// reset for: what a player or the capture side keeps from frame to frame.
#pragma once

#include <cstdint>

#include "tessaly/tq_voice.h"

namespace tessaly::audio {

class VoiceCodecState {
public:
    // G.726 at 16 kbit/s, states zeroed; the owner sets its mode before use.
    VoiceCodecState() = default;

    // Stores the mode and resets both states for it; returns the decoder
    // reset's result (TQ_VOICE_OK for a known mode).
    uint32_t SetMode(int16_t mode);
    int16_t Mode() const { return mode_; }

    // TQ_VOICE_DecodeFrame with the decoder state; `pcm` holds
    // TQ_VOICE_MAX_SAMPLES. The frame may be rewritten in place (modes 36-39).
    uint32_t Decode(uint8_t *frame, int16_t *pcm, int16_t *samples);
    // TQ_VOICE_EncodeFrame with the encoder state; `frame` holds
    // TQ_VOICE_MAX_FRAME_BYTES. `frameBytes` receives the frame's length.
    uint32_t Encode(const int16_t *pcm, int16_t samples, uint8_t *frame, uint32_t *frameBytes);

private:
    int16_t mode_ = TQ_VOICE_MODE_G726_16K;
    uint8_t encoder_[TQ_VOICE_STATE_BYTES] = {};
    uint8_t decoder_[TQ_VOICE_STATE_BYTES] = {};
};

}  // namespace tessaly::audio
