// The exported voice frame calls: argument checks in their documented order,
// the frame header, and encoding through a staging frame.
#include "tessaly/tq_voice.h"

#include <cstring>

#include "voice/frame_coders.h"
#include "voice/voice_modes.h"

using tessaly::voice::DecodedSamples;
using tessaly::voice::LookupVoiceMode;
using tessaly::voice::PayloadWords;
using tessaly::voice::VoiceMode;

namespace {

constexpr int kFrameHeaderBytes = 4;
constexpr int kMaxDecodedSamples = 480;  // G.711 and G.726 frames: multiples of 80 up to this

// Whether a frame of `words` payload words that decodes to `samples` samples
// is accepted for the mode.
bool LengthAccepted(const VoiceMode &mode, int words, int samples) {
    switch (mode.coder) {
    case tessaly::voice::Coder::kImaStateInFrame:
    case tessaly::voice::Coder::kImaRawFirst:
        // Two words of coder state come first; 4N - 7 > 481 is the upper bound.
        return words >= 2 && 4 * words - 7 <= TQ_VOICE_MAX_SAMPLES;
    default: return samples <= kMaxDecodedSamples && samples % 80 == 0;
    }
}

uint32_t Reset(void *state, int16_t mode, uint32_t unknownMode) {
    if (state == nullptr) return TQ_VOICE_ERR_NULL_STATE;
    const auto voiceMode = LookupVoiceMode(mode);
    if (!voiceMode) return unknownMode;
    tessaly::voice::ResetState(*voiceMode, state);
    return TQ_VOICE_OK;
}

}  // namespace

extern "C" {

TQ_VOICE_API uint32_t TQ_VOICE_EncReset(void *state, int16_t mode) { return Reset(state, mode, TQ_VOICE_ERR_ENC_MODE); }

TQ_VOICE_API uint32_t TQ_VOICE_DecReset(void *state, int16_t mode) { return Reset(state, mode, TQ_VOICE_ERR_DEC_MODE); }

TQ_VOICE_API uint32_t TQ_VOICE_EncodeFrame(void *state, const int16_t *pcm, uint8_t *frame, int16_t sampleCount,
                                           int16_t mode) {
    if (state == nullptr) return TQ_VOICE_ERR_NULL_STATE;
    if (pcm == nullptr) return TQ_VOICE_ERR_NULL_INPUT;
    if (frame == nullptr) return TQ_VOICE_ERR_NULL_OUTPUT;
    if (sampleCount < 1 || sampleCount > TQ_VOICE_MAX_SAMPLES) return TQ_VOICE_ERR_ENC_COUNT;
    const auto voiceMode = LookupVoiceMode(mode);
    if (!voiceMode) return TQ_VOICE_ERR_ENC_MODE;

    uint8_t staging[kFrameHeaderBytes + tessaly::voice::kStagingPayloadBytes] = {};
    const int words = PayloadWords(*voiceMode, sampleCount);
    staging[0] = 0x00;
    staging[1] = 0x01;
    staging[2] = static_cast<uint8_t>(words);
    staging[3] = static_cast<uint8_t>(words >> 8);
    tessaly::voice::EncodePayload(*voiceMode, state, pcm, sampleCount, staging + kFrameHeaderBytes);
    // The copy length comes from the low byte of the length field, as a
    // receiver reads it.
    std::memcpy(frame, staging, static_cast<size_t>(2 * (staging[2] + 2)));
    return TQ_VOICE_OK;
}

TQ_VOICE_API uint32_t TQ_VOICE_DecodeFrame(void *state, uint8_t *frame, int16_t *pcm, int16_t mode,
                                           int16_t *sampleCountOut) {
    if (state == nullptr) return TQ_VOICE_ERR_NULL_STATE;
    if (frame == nullptr) return TQ_VOICE_ERR_NULL_INPUT;
    if (pcm == nullptr || sampleCountOut == nullptr) return TQ_VOICE_ERR_NULL_OUTPUT;
    *sampleCountOut = 0;
    if ((frame[1] & 3) != 1) return TQ_VOICE_ERR_DEC_MARKER;
    const int words = frame[2];
    if (words == 0) return TQ_VOICE_ERR_DEC_LENGTH;
    const auto voiceMode = LookupVoiceMode(mode);
    if (!voiceMode) return TQ_VOICE_ERR_DEC_MODE;
    const int samples = DecodedSamples(*voiceMode, words);
    if (!LengthAccepted(*voiceMode, words, samples)) return TQ_VOICE_ERR_DEC_LENGTH;

    *sampleCountOut = static_cast<int16_t>(samples);
    tessaly::voice::DecodePayload(*voiceMode, state, frame + kFrameHeaderBytes, words, samples, pcm);
    return TQ_VOICE_OK;
}

}  // extern "C"
