#include "audio/voice_codec_state.h"

namespace tessaly::audio {

uint32_t VoiceCodecState::SetMode(int16_t mode) {
    mode_ = mode;
    TQ_VOICE_EncReset(encoder_, mode);
    return TQ_VOICE_DecReset(decoder_, mode);
}

uint32_t VoiceCodecState::Decode(uint8_t *frame, int16_t *pcm, int16_t *samples) {
    return TQ_VOICE_DecodeFrame(decoder_, frame, pcm, mode_, samples);
}

uint32_t VoiceCodecState::Encode(const int16_t *pcm, int16_t samples, uint8_t *frame, uint32_t *frameBytes) {
    const uint32_t result = TQ_VOICE_EncodeFrame(encoder_, pcm, frame, samples, mode_);
    // The header's length word, as a receiver reads it: payload words, plus
    // two for the header.
    if (result == TQ_VOICE_OK) *frameBytes = 2u * (frame[2] + 2u);
    return result;
}

}  // namespace tessaly::audio
