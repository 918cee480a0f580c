#include "voice/voice_modes.h"

namespace tessaly::voice {

std::optional<VoiceMode> LookupVoiceMode(int16_t mode) {
    switch (mode) {
    case 1: return VoiceMode{Coder::kAlawG711, 8, false};
    case 2: return VoiceMode{Coder::kUlawG711, 8, false};
    case 3: return VoiceMode{Coder::kImaStateInFrame, 4, false};
    case 35: return VoiceMode{Coder::kImaRawFirst, 4, false};
    case 4:
    case 5:
    case 6:
    case 7: return VoiceMode{Coder::kG726, static_cast<uint8_t>(mode - 2), false};
    case 36:
    case 37:
    case 38:
    case 39: return VoiceMode{Coder::kG726, static_cast<uint8_t>(mode - 34), true};
    default: return std::nullopt;
    }
}

int PayloadWords(const VoiceMode &mode, int samples) {
    switch (mode.coder) {
    case Coder::kAlawG711:
    case Coder::kUlawG711: return samples / 2;
    case Coder::kImaStateInFrame: return samples / 4 + 2;
    case Coder::kImaRawFirst: return (samples - 1) / 4 + 2;
    case Coder::kG726: return samples * mode.bits / 16;
    }
    return 0;
}

int DecodedSamples(const VoiceMode &mode, int words) {
    switch (mode.coder) {
    case Coder::kAlawG711:
    case Coder::kUlawG711: return 2 * words;
    case Coder::kImaStateInFrame: return 4 * (words - 2);
    case Coder::kImaRawFirst: return 4 * (words - 2) + 1;
    case Coder::kG726: return 16 * words / mode.bits;
    }
    return 0;
}

}  // namespace tessaly::voice
