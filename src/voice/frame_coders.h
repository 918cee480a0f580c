// Payload coding for each voice mode. The frame header and the argument
// checks belong to the exported calls (tq_voice.cc).
#pragma once

#include <cstdint>

#include "voice/voice_modes.h"

namespace tessaly::voice {

// Room the coders may use in a staging payload: every code of the largest
// frame, including the ones that are not sent.
constexpr int kStagingPayloadBytes = 512;

// Codes `samples` samples (1..481) into a zeroed staging payload, advancing
// the state. Only the first PayloadWords() words are meant to be sent.
void EncodePayload(const VoiceMode &mode, void *state, const int16_t *pcm, int samples, uint8_t *payload);

// Decodes `samples` samples (as DecodedSamples() gives) from a payload of
// `words` words. For most-significant-first modes the payload is rewritten in
// place to the least-significant-first order first.
void DecodePayload(const VoiceMode &mode, void *state, uint8_t *payload, int words, int samples, int16_t *pcm);

// Resets a state buffer for a mode (no-op for G.711).
void ResetState(const VoiceMode &mode, void *state);

}  // namespace tessaly::voice
