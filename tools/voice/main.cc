// tessaly-voice: encode audio into voice frames, decode them back, measure
// every codec mode on a sample, and hear the codec through the sound devices.
//
//   tessaly-voice encode --mode N IN.wav|IN.pcm OUT.frames
//   tessaly-voice decode --mode N IN.frames OUT.wav|OUT.pcm
//   tessaly-voice roundtrip IN.wav|IN.pcm
//   tessaly-voice talk [--seconds S]
//   tessaly-voice play [--mode 4|6] IN.frames
//
// Audio is 8 kHz mono 16-bit. A frame file is voice frames back to back, each
// holding 10 ms (80 samples); the encoder pads the last frame with silence.
//
// talk records the default capture device and plays it back at once through
// the library's voice output, G.726 at 32 kbit/s: the codec as a camera's
// listener hears it. It runs S seconds, or until Enter or a signal. play sends
// a frame file to the default playback device at real-time pace: frames of 24
// bytes (16 kbit/s) and 44 bytes (32 kbit/s) as they are, longer G.726 frames
// (such as capture's 244-byte ones) split into those by --mode (default 6).
// SDL's variables choose the devices (SDL_AUDIODRIVER and the rest).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio_file.h"
#include "frame_split.h"
#include "sound_commands.h"
#include "tessaly/tq_voice.h"

namespace {

constexpr int kFrameSamples = 80;

struct ModeRow {
    int16_t mode;
    const char *codec;
    double kbps;
};

const ModeRow kModes[] = {
    {1, "G.711 A-law", 64},          {2, "G.711 mu-law", 64},     {3, "IMA ADPCM", 32},
    {35, "IMA ADPCM raw-first", 32}, {4, "G.726 LSB-first", 16},  {5, "G.726 LSB-first", 24},
    {6, "G.726 LSB-first", 32},      {7, "G.726 LSB-first", 40},  {36, "G.726 MSB-first", 16},
    {37, "G.726 MSB-first", 24},     {38, "G.726 MSB-first", 32}, {39, "G.726 MSB-first", 40},
};

int Fail(const std::string &message) {
    std::fprintf(stderr, "tessaly-voice: %s\n", message.c_str());
    return 1;
}

int Usage() {
    return Fail(
        "usage: tessaly-voice encode --mode N IN.wav|IN.pcm OUT.frames | decode --mode N IN.frames "
        "OUT.wav|OUT.pcm | roundtrip IN.wav|IN.pcm | talk [--seconds S] | play [--mode 4|6] IN.frames");
}

bool ParseMode(const std::string &text, int16_t &mode) {
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < -32768 || value > 32767) return false;
    mode = static_cast<int16_t>(value);
    uint8_t state[TQ_VOICE_STATE_BYTES];
    return TQ_VOICE_EncReset(state, mode) == TQ_VOICE_OK;
}

std::string Hex(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", code);
    return text;
}

// Encodes whole 10 ms frames, the last one padded with silence.
bool EncodeAll(const std::vector<int16_t> &pcm, int16_t mode, std::vector<uint8_t> &frames, std::string &error) {
    uint8_t state[TQ_VOICE_STATE_BYTES];
    TQ_VOICE_EncReset(state, mode);
    frames.clear();
    for (size_t start = 0; start < pcm.size(); start += kFrameSamples) {
        int16_t block[kFrameSamples] = {};
        for (size_t k = 0; k < kFrameSamples && start + k < pcm.size(); ++k) block[k] = pcm[start + k];
        uint8_t frame[TQ_VOICE_MAX_FRAME_BYTES];
        const uint32_t rc = TQ_VOICE_EncodeFrame(state, block, frame, kFrameSamples, mode);
        if (rc != TQ_VOICE_OK) {
            error = "encoding failed with " + Hex(rc);
            return false;
        }
        frames.insert(frames.end(), frame, frame + 4 + 2 * frame[2]);
    }
    return true;
}

bool DecodeAll(std::vector<uint8_t> frames, int16_t mode, std::vector<int16_t> &pcm, std::string &error) {
    uint8_t state[TQ_VOICE_STATE_BYTES];
    TQ_VOICE_DecReset(state, mode);
    pcm.clear();
    return voicetool::ForEachFrame(frames, error, [&](uint8_t *frame, size_t) {
        int16_t samples[TQ_VOICE_MAX_SAMPLES];
        int16_t count = 0;
        const uint32_t rc = TQ_VOICE_DecodeFrame(state, frame, samples, mode, &count);
        if (rc != TQ_VOICE_OK) {
            const char *why = rc == TQ_VOICE_ERR_DEC_MARKER   ? "bad marker"
                              : rc == TQ_VOICE_ERR_DEC_LENGTH ? "length not allowed for this mode"
                                                              : "refused";
            error = std::string(why) + " (" + Hex(rc) + ")";
            return false;
        }
        pcm.insert(pcm.end(), samples, samples + count);
        return true;
    });
}

double SnrDb(const std::vector<int16_t> &reference, const std::vector<int16_t> &decoded, int16_t mode) {
    // Mode 35 gives back 4(N-2)+1 = 77 of each frame's 80 samples.
    const size_t back = mode == 35 ? 77 : kFrameSamples;
    double signal = 0, noise = 0;
    for (size_t frame = 0; frame * back < decoded.size(); ++frame) {
        for (size_t k = 0; k < back && frame * back + k < decoded.size(); ++k) {
            const size_t in = frame * kFrameSamples + k;
            if (in >= reference.size()) break;
            const double x = reference[in], e = x - decoded[frame * back + k];
            signal += x * x;
            noise += e * e;
        }
    }
    return noise == 0 ? INFINITY : 10 * std::log10(signal / noise);
}

int RoundTrip(const std::string &input) {
    std::vector<int16_t> pcm;
    std::string error;
    if (!voicetool::ReadAudio(input, pcm, error)) return Fail(error);
    std::printf("%s: %zu samples (%.2f s), 10 ms frames\n", input.c_str(), pcm.size(), pcm.size() / 8000.0);
    std::printf("%-5s %-22s %10s %13s %9s\n", "mode", "codec", "kbit/s", "bytes/10 ms", "SNR dB");
    for (const ModeRow &row : kModes) {
        std::vector<uint8_t> frames;
        std::vector<int16_t> decoded;
        if (!EncodeAll(pcm, row.mode, frames, error) || !DecodeAll(frames, row.mode, decoded, error))
            return Fail("mode " + std::to_string(row.mode) + ": " + error);
        const size_t frameBytes = 4 + 2 * size_t{frames[2]};
        std::printf("%-5d %-22s %10.0f %13zu %9.2f\n", row.mode, row.codec, row.kbps, frameBytes,
                    SnrDb(pcm, decoded, row.mode));
    }
    return 0;
}

// Up to about 115 days, far from where the clock's arithmetic overflows.
bool ParseSeconds(const std::string &text, double &seconds) {
    char *end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && seconds > 0 && seconds <= 1e7;
}

int SoundCommand(const std::vector<std::string> &args) {
    std::string error;
    if (args[0] == "talk") {
        double seconds = 0;
        if (args.size() == 3 && args[1] == "--seconds") {
            if (!ParseSeconds(args[2], seconds))
                return Fail("--seconds takes a number above 0 and at most 10000000, not '" + args[2] + "'");
        } else if (args.size() != 1) {
            return Usage();
        }
        return voicetool::Talk(seconds, error) ? 0 : Fail(error);
    }
    int16_t mode = TQ_VOICE_MODE_G726_32K;
    if (args.size() == 4 && args[1] == "--mode") {
        if (args[2] != "4" && args[2] != "6") return Fail("play takes --mode 4 or 6, not '" + args[2] + "'");
        mode = args[2] == "4" ? TQ_VOICE_MODE_G726_16K : TQ_VOICE_MODE_G726_32K;
    } else if (args.size() != 2) {
        return Usage();
    }
    return voicetool::Play(args.back(), mode, error) ? 0 : Fail(error);
}

}  // namespace

int main(int argc, char **argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "roundtrip") return RoundTrip(args[1]);
    if (!args.empty() && (args[0] == "talk" || args[0] == "play")) return SoundCommand(args);
    if (args.size() != 5 || args[1] != "--mode" || (args[0] != "encode" && args[0] != "decode")) return Usage();
    int16_t mode;
    if (!ParseMode(args[2], mode)) return Fail("unknown mode '" + args[2] + "'");

    std::string error;
    if (args[0] == "encode") {
        std::vector<int16_t> pcm;
        std::vector<uint8_t> frames;
        if (!voicetool::ReadAudio(args[3], pcm, error) || !EncodeAll(pcm, mode, frames, error) ||
            !voicetool::WriteFileBytes(args[4], frames, error))
            return Fail(error);
        return 0;
    }
    std::vector<uint8_t> frames;
    std::vector<int16_t> pcm;
    if (!voicetool::ReadFileBytes(args[3], frames, error)) return Fail(error);
    if (!DecodeAll(std::move(frames), mode, pcm, error)) return Fail(args[3] + ": " + error);
    if (!voicetool::WriteAudio(args[4], pcm, error)) return Fail(error);
    return 0;
}
