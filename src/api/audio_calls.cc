// The sound calls: a port's sound, the decoders for hosts that play sound
// themselves, and two-way voice. Only KOVA_EnableSound runs the port guard;
// the others are library-wide and need no KOVA_Init.
#include "api/library.h"

using tessaly::api::GuardedPortCall;
using tessaly::api::PlayerPort;
using tessaly::api::TheLibrary;

namespace {

// No exception reaches the host (a lock that cannot be taken is the only
// thing that could throw here).
template <typename Body>
int32_t Caught(Body &&body) {
    try {
        return body();
    } catch (...) {
        return KOVA_ERR_MISSING_OBJECT;
    }
}

}  // namespace

extern "C" {

KOVA_API int32_t KOVA_CALL KOVA_EnableSound(uint32_t port, uint32_t on) {
    return GuardedPortCall(port, true, [&](PlayerPort &slot) {
        on != 0 ? slot.audio.Start() : slot.audio.Stop();
        return KOVA_OK;
    });
}

KOVA_API int32_t KOVA_CALL KOVA_Audio_Decode(uint32_t decoder, const uint8_t *data, uint32_t length, uint8_t *pcm,
                                             uint32_t *pcmLength) {
    if (decoder >= TheLibrary().decodeBank.size() || data == nullptr || length == 0 || pcm == nullptr ||
        pcmLength == nullptr)
        return KOVA_ERR_INVALID_ARGUMENT;
    return Caught(
        [&] { return tessaly::audio::DecodeFrames(TheLibrary().decodeBank[decoder], data, length, pcm, pcmLength); });
}

KOVA_API int32_t KOVA_CALL KOVA_Voice_StartOutput(void) {
    return Caught([] { return TheLibrary().voiceOutput.Start(); });
}

KOVA_API int32_t KOVA_CALL KOVA_Voice_Output(const uint8_t *data, uint32_t length) {
    if (data == nullptr || length == 0) return KOVA_ERR_INVALID_ARGUMENT;
    return Caught([&] { return TheLibrary().voiceOutput.SubmitFrames(data, length); });
}

KOVA_API int32_t KOVA_CALL KOVA_Voice_StopOutput(void) {
    return Caught([] { return TheLibrary().voiceOutput.Stop(); });
}

KOVA_API int32_t KOVA_CALL KOVA_Voice_StartCapture(KOVA_VoiceFrameCallback callback) {
    return Caught([&] { return TheLibrary().voiceCapture.Start(callback); });
}

KOVA_API int32_t KOVA_CALL KOVA_Voice_StopCapture(void) {
    return Caught([] { return TheLibrary().voiceCapture.Stop(); });
}

}  // extern "C"
