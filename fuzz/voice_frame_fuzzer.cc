// Arbitrary bytes through the voice frame calls: the first byte picks the mode
// (the twelve real ones and a few that must be refused) and what the state
// holds, the rest is a frame to decode and then PCM to encode.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tessaly/tq_voice.h"

namespace {

const int16_t kModes[16] = {1, 2, 3, 35, 4, 5, 6, 7, 36, 37, 38, 39, 0, 8, 34, 40};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const int16_t mode = kModes[data[0] & 15];
    const bool resetFirst = (data[0] & 16) == 0;
    data += 1;
    size -= 1;

    // State: either reset, or filled from the input (a host that never reset it).
    uint8_t state[TQ_VOICE_STATE_BYTES];
    if (resetFirst) {
        TQ_VOICE_DecReset(state, mode);
    } else {
        for (size_t k = 0; k < sizeof state; ++k) state[k] = data[k % size];
    }

    // The frame buffer holds exactly the input, so reading past it is caught.
    uint8_t *frame = new uint8_t[size];
    std::memcpy(frame, data, size);
    if (size >= 4 && size >= 4 + 2 * size_t{data[2]}) {
        int16_t pcm[TQ_VOICE_MAX_SAMPLES];
        int16_t count = -1;
        const uint32_t rc = TQ_VOICE_DecodeFrame(state, frame, pcm, mode, &count);
        // A refused frame reports no samples; an accepted one at most the maximum.
        if (rc != TQ_VOICE_OK && count != 0) __builtin_trap();
        if (count < 0 || count > TQ_VOICE_MAX_SAMPLES) __builtin_trap();
    }
    delete[] frame;

    // The same bytes as PCM to encode, into an exactly sized frame buffer.
    const int16_t samples = static_cast<int16_t>(size / 2 > TQ_VOICE_MAX_SAMPLES ? TQ_VOICE_MAX_SAMPLES : size / 2);
    if (samples > 0) {
        int16_t *pcm = new int16_t[samples];
        std::memcpy(pcm, data, sizeof(int16_t) * static_cast<size_t>(samples));
        uint8_t out[TQ_VOICE_MAX_FRAME_BYTES];
        if (resetFirst) TQ_VOICE_EncReset(state, mode);
        TQ_VOICE_EncodeFrame(state, pcm, out, samples, mode);
        delete[] pcm;
    }
    return 0;
}
