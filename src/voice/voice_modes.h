// The voice codec modes: which coder a mode selects, how its codes are packed,
// and how many payload words a frame of n samples has.
#pragma once

#include <cstdint>
#include <optional>

namespace tessaly::voice {

enum class Coder : uint8_t { kAlawG711, kUlawG711, kImaStateInFrame, kImaRawFirst, kG726 };

struct VoiceMode {
    Coder coder;
    uint8_t bits;   // bits per sample
    bool msbFirst;  // G.726 codes packed most significant bits first
};

std::optional<VoiceMode> LookupVoiceMode(int16_t mode);

// Payload length N in 16-bit words of a frame of n encoded samples.
int PayloadWords(const VoiceMode &mode, int samples);

// Samples a frame of N payload words decodes to; negative or zero when the
// frame cannot hold any.
int DecodedSamples(const VoiceMode &mode, int words);

}  // namespace tessaly::voice
