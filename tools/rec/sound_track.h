// A record file's voice frames decoded into one 8 kHz PCM track placed on the
// file's time line: it starts at the first record with sound, and a record
// that starts after the sound so far ends (sound lost or not recorded) is
// placed at its own time, the gap silent.
#pragma once

#include <cstdint>
#include <vector>

#include "record_walk.h"

namespace tessaly::tools::rec {

constexpr int kSoundRate = 8000;

struct SoundTrack {
    int64_t startSample = 0;  // at kSoundRate, from the file's time 0
    std::vector<int16_t> pcm;
    uint64_t skippedFrames = 0;  // neither 24 nor 44 bytes, or not a voice frame
};

// G.726 frames of 24 bytes (16 kbit/s) and 44 bytes (32 kbit/s); the decoder
// starts afresh whenever the frame size changes.
SoundTrack DecodeSound(const Walk &walk, uint32_t frameRate);

}  // namespace tessaly::tools::rec
