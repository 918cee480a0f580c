#include "stream_library.h"

#include <cmath>

#include "camera_file.h"
#include "ft_stream.h"
#include "tessaly/tq_voice.h"

namespace tessaly::soak {
namespace {

constexpr Damage kDamages[] = {Damage::kNone, Damage::kBitFlips, Damage::kTruncated, Damage::kDropped,
                               Damage::kGarbage};

// About one frame in twenty is damaged; key frames are hit as well, so some
// damage lasts until the next key frame.
void AddDamaged(const play::CameraFile &file, Damage damage, std::mt19937 &random, std::vector<Bytes> *frames) {
    std::uniform_int_distribution<int> percent(0, 99);
    for (const tools::ByteRange &unit : file.accessUnits) {
        Bytes frame(file.bytes.begin() + long(unit.offset), file.bytes.begin() + long(unit.offset + unit.size));
        const bool hit = damage != Damage::kNone && percent(random) < 5 && frame.size() > 16;
        if (!hit) {
            frames->push_back(std::move(frame));
            continue;
        }
        switch (damage) {
        case Damage::kBitFlips:
            for (int k = 0; k < 8; ++k) {
                const size_t at = 8 + random() % (frame.size() - 8);
                frame[at] ^= uint8_t(1u << (random() % 8));
            }
            break;
        case Damage::kTruncated: frame.resize(8 + random() % (frame.size() - 8)); break;
        case Damage::kDropped: continue;
        case Damage::kGarbage: {
            // Random bytes sent as a frame of their own, then the frame itself.
            Bytes garbage(1 + random() % 2000);
            for (uint8_t &byte : garbage) byte = uint8_t(random());
            frames->push_back(std::move(garbage));
            break;
        }
        case Damage::kNone: break;
        }
        frames->push_back(std::move(frame));
    }
}

ByteStream FtStream(const play::CameraFile &file) {
    ByteStream stream;
    stream.name = play::BaseName(file.path) + " (FT)";
    Bytes payload;
    uint32_t sequence = 0;
    for (const tools::ByteRange &unit : file.accessUnits) {
        if (!ftool::H264Payload(file.bytes.data() + unit.offset, unit.size, sequence, payload)) continue;
        ftool::AppendPacket(stream.bytes, payload.data(), payload.size(), sequence++, player::FtVariant::kFt);
    }
    stream.packets = sequence;
    return stream;
}

// 40 ms of a tone per block, the way a camera sends sound beside each frame.
std::vector<Bytes> ToneBlocks() {
    uint8_t state[TQ_VOICE_STATE_BYTES];
    TQ_VOICE_EncReset(state, TQ_VOICE_MODE_G726_32K);
    std::vector<Bytes> blocks(25);
    int16_t pcm[80];
    uint8_t frame[TQ_VOICE_MAX_FRAME_BYTES];
    int sample = 0;
    for (Bytes &block : blocks) {
        for (int f = 0; f < 4; ++f) {
            for (int16_t &value : pcm) value = int16_t(6000 * std::sin(sample++ * 2 * M_PI * 440 / 8000));
            TQ_VOICE_EncodeFrame(state, pcm, frame, 80, TQ_VOICE_MODE_G726_32K);
            block.insert(block.end(), frame, frame + 44);
        }
    }
    return blocks;
}

}  // namespace

const char *DamageName(Damage damage) {
    switch (damage) {
    case Damage::kNone: return "clean";
    case Damage::kBitFlips: return "bit flips";
    case Damage::kTruncated: return "truncated";
    case Damage::kDropped: return "dropped";
    case Damage::kGarbage: return "garbage";
    }
    return "?";
}

bool LoadSoakStreams(const std::vector<std::string> &streamPaths, uint32_t seed, SoakStreams *streams,
                     std::string *error) {
    std::mt19937 random(seed);
    for (const std::string &path : streamPaths) {
        play::CameraFile file;
        if (!play::LoadCameraFile(path, 25, &file, error)) return false;
        for (Damage damage : kDamages) {
            FrameSequence sequence;
            sequence.name = play::BaseName(path) + " (" + DamageName(damage) + ")";
            sequence.width = file.width;
            sequence.height = file.height;
            AddDamaged(file, damage, random, &sequence.frames);
            streams->live.push_back(std::move(sequence));
        }
        streams->ft.push_back(FtStream(file));
    }
    streams->soundBlocks = ToneBlocks();
    return true;
}

}  // namespace tessaly::soak
