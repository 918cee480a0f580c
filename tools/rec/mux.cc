#include "mux.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "annexb_access_units.h"
#include "audio_file.h"
#include "h264dec/bitstream/sps_summary.h"
#include "messages.h"
#include "nal_units.h"
#include "recfile/record_format.h"
#include "tessaly/tq_voice.h"

namespace tessaly::tools::rec {
namespace {

constexpr uint32_t kDefaultFps = 25;
constexpr uint32_t kMaxFps = 30;
constexpr uint32_t kVoiceFramesPerSecond = 100;  // 80 samples at 8 kHz
constexpr int16_t kVoiceFrameSamples = 80;
constexpr uint32_t kMaxVideoBytes = 1u << 26;

void Put16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t *p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

// A key frame holds an IDR slice or begins (after a delimiter) with a
// sequence parameter set, where a decoder can start.
bool IsKeyFrame(const uint8_t *unit, size_t size) {
    bool key = false, first = true;
    ForEachNalUnit(unit, size, [&](const NalUnit &nal) {
        key = nal.type == kNalIdrSlice || (first && nal.type == kNalSps);
        first &= nal.type == kNalAud;
        return !key;
    });
    return key;
}

uint32_t FrameRate(const MuxOptions &options, const h264::SpsSummary &sps) {
    if (options.fps) return options.fps;
    const double announced = sps.FrameRate();
    if (announced <= 0) return kDefaultFps;
    return static_cast<uint32_t>(std::clamp<long>(std::lround(announced), 1, kMaxFps));
}

// The first voice frame whose start time, k / 100 s, is at or after n / fps:
// record n carries frames [FirstVoiceFrame(n), FirstVoiceFrame(n + 1)).
uint64_t FirstVoiceFrame(uint64_t record, uint32_t fps) { return (record * kVoiceFramesPerSecond + fps - 1) / fps; }

class VoiceEncoder {
public:
    VoiceEncoder(const std::vector<int16_t> &pcm, int16_t mode) : pcm_(pcm), mode_(mode) {
        TQ_VOICE_EncReset(state_, mode);
    }
    // Appends frame k (the last one padded with silence); false past the end.
    bool Encode(uint64_t k, std::vector<uint8_t> &out) {
        const uint64_t start = k * kVoiceFrameSamples;
        if (start >= pcm_.size()) return false;
        int16_t block[kVoiceFrameSamples] = {};
        const size_t count = std::min<size_t>(kVoiceFrameSamples, pcm_.size() - start);
        std::copy_n(pcm_.begin() + static_cast<ptrdiff_t>(start), count, block);
        uint8_t frame[TQ_VOICE_MAX_FRAME_BYTES];
        TQ_VOICE_EncodeFrame(state_, block, frame, kVoiceFrameSamples, mode_);
        out.insert(out.end(), frame, frame + 4 + 2 * frame[2]);
        return true;
    }

private:
    const std::vector<int16_t> &pcm_;
    int16_t mode_;
    uint8_t state_[TQ_VOICE_STATE_BYTES];
};

struct Output {
    FILE *file = nullptr;
    ~Output() {
        if (file) std::fclose(file);
    }
};

}  // namespace

int Mux(const MuxOptions &options) {
    std::vector<uint8_t> stream;
    std::string error;
    if (!voicetool::ReadFileBytes(options.inPath, stream, error)) return Fail(error);
    std::vector<ByteRange> units = SplitAccessUnits(stream.data(), stream.size());
    if (units.empty()) return Fail(options.inPath + ": no H.264 access units (no start codes)");
    if (units.front().offset > 0)
        Warn(options.inPath + ": " + std::to_string(units.front().offset) +
             " bytes before the first start code belong to no access unit and are not stored");
    // Bytes after the last unit follow its start code: they are its own.
    units.back().size = stream.size() - units.back().offset;
    if (options.maxFrames && units.size() > options.maxFrames) units.resize(options.maxFrames);

    const ByteRange spsRange = FindFirstSps(stream.data(), stream.size());
    h264::SpsSummary sps;
    if (spsRange.size == 0 || !h264::ParseSpsSummary(stream.data() + spsRange.offset, spsRange.size, &sps))
        return Fail(options.inPath + ": no sequence parameter set that parses: the picture size is unknown");
    const uint32_t fps = FrameRate(options, sps);

    std::vector<int16_t> pcm;
    const int16_t mode = options.kbps == 16 ? TQ_VOICE_MODE_G726_16K : TQ_VOICE_MODE_G726_32K;
    const bool audio = !options.audioPath.empty();
    if (audio) {
        if (!voicetool::ReadAudio(options.audioPath, pcm, error))
            return Fail(error + " (convert with: ffmpeg -i IN -ar 8000 -ac 1 OUT.wav)");
        const uint32_t frameBytes = options.kbps == 16 ? 24 : 44;
        const uint64_t mostFrames = FirstVoiceFrame(1, fps);
        if (mostFrames * frameBytes >= recfile::kMaxAudioBytes)
            return Fail("at " + std::to_string(fps) + " fps a record would carry " +
                        std::to_string(mostFrames * frameBytes) + " bytes of sound, over the format's " +
                        std::to_string(recfile::kMaxAudioBytes - 1) + ": use a higher --fps or --rate 16");
    }
    for (size_t n = 0; n < units.size(); ++n) {
        if (units[n].size >= kMaxVideoBytes)
            return Fail("access unit " + std::to_string(n) + " has " + std::to_string(units[n].size) +
                        " bytes; a record holds less than 2^26");
    }

    Output out;
    out.file = std::fopen(options.outPath.c_str(), "wb");
    if (!out.file) return Fail("cannot create " + options.outPath + ": " + std::strerror(errno));
    uint8_t header[recfile::kFileHeaderBytes] = {'K', 'V', 'R', 'F', 0, static_cast<uint8_t>(fps), 1};
    header[7] = audio ? 1 : 0;
    Put16(header + 8, sps.width);
    Put16(header + 10, sps.height);
    Put16(header + 12, audio ? 1 : 0);
    Put32(header + 14, static_cast<uint32_t>(units.size() - 1));
    bool written = std::fwrite(header, 1, sizeof header, out.file) == sizeof header;
    uint64_t fileBytes = sizeof header;

    VoiceEncoder encoder(pcm, mode);
    std::vector<uint8_t> voice;
    for (size_t n = 0; n < units.size() && written; ++n) {
        voice.clear();
        for (uint64_t k = FirstVoiceFrame(n, fps); audio && k < FirstVoiceFrame(n + 1, fps); ++k)
            if (!encoder.Encode(k, voice)) break;
        const uint8_t *unit = stream.data() + units[n].offset;
        const auto videoLength = static_cast<uint32_t>(units[n].size);
        uint8_t frameHeader[recfile::kFrameHeaderBytes];
        recfile::WriteFrameHeader(frameHeader, IsKeyFrame(unit, videoLength), videoLength,
                                  static_cast<uint32_t>(voice.size()), static_cast<uint32_t>(n));
        written = std::fwrite(frameHeader, 1, sizeof frameHeader, out.file) == sizeof frameHeader &&
                  std::fwrite(unit, 1, videoLength, out.file) == videoLength &&
                  std::fwrite(voice.data(), 1, voice.size(), out.file) == voice.size();
        fileBytes += sizeof frameHeader + videoLength + voice.size();
    }
    const bool closed = std::fclose(out.file) == 0;
    out.file = nullptr;
    if (!written || !closed) {
        std::remove(options.outPath.c_str());
        return Fail("cannot write " + options.outPath);
    }
    if (fileBytes < recfile::kMinFileBytes)
        Warn(options.outPath + " has " + std::to_string(fileBytes) + " bytes: players refuse record files under " +
             std::to_string(recfile::kMinFileBytes));
    return 0;
}

}  // namespace tessaly::tools::rec
