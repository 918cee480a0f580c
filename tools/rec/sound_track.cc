#include "sound_track.h"

#include <cstring>

#include "tessaly/tq_voice.h"

namespace tessaly::tools::rec {
namespace {

int16_t ModeForFrame(size_t bytes) {
    switch (bytes) {
    case 24: return TQ_VOICE_MODE_G726_16K;
    case 44: return TQ_VOICE_MODE_G726_32K;
    default: return 0;
    }
}

}  // namespace

SoundTrack DecodeSound(const Walk &walk, uint32_t frameRate) {
    SoundTrack track;
    uint8_t state[TQ_VOICE_STATE_BYTES];
    size_t stateFrameBytes = 0;
    for (const Record &r : walk.records) {
        if (r.header.audioLength == 0) continue;
        const int64_t at = int64_t{r.header.timeStamp} * kSoundRate / frameRate;
        if (track.pcm.empty())
            track.startSample = at;
        else if (at > track.startSample + int64_t(track.pcm.size()))
            track.pcm.resize(static_cast<size_t>(at - track.startSample));
        for (size_t offset = 0; offset < r.header.audioLength;) {
            const size_t length = VoiceFrameLength(r.audio + offset, r.header.audioLength - offset);
            if (length == 0) {
                ++track.skippedFrames;  // the rest of the record cannot be split
                break;
            }
            offset += length;
            const int16_t mode = ModeForFrame(length);
            if (mode == 0) {
                ++track.skippedFrames;
                continue;
            }
            if (length != stateFrameBytes) {
                TQ_VOICE_DecReset(state, mode);
                stateFrameBytes = length;
            }
            uint8_t frame[TQ_VOICE_MAX_FRAME_BYTES];
            std::memcpy(frame, r.audio + offset - length, length);
            int16_t samples[TQ_VOICE_MAX_SAMPLES];
            int16_t count = 0;
            if (TQ_VOICE_DecodeFrame(state, frame, samples, mode, &count) != TQ_VOICE_OK) {
                ++track.skippedFrames;
                continue;
            }
            track.pcm.insert(track.pcm.end(), samples, samples + count);
        }
    }
    return track;
}

}  // namespace tessaly::tools::rec
