#include "export_file.h"

#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include "annexb_access_units.h"
#include "messages.h"
#include "nal_units.h"
#include "record_walk.h"
#include "sound_track.h"

namespace tessaly::tools::rec {
namespace {

constexpr int kPcmPacketSamples = 800;  // 100 ms a packet of plain PCM
constexpr int64_t kAacBitRate = 24000;

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The parameter sets of the first record that has a sequence parameter set,
// in Annex B form: the MP4 and Matroska muxers turn them into avcC, and
// convert every packet to length-prefixed NAL units to match.
std::vector<uint8_t> ParameterSets(const Walk &walk) {
    std::vector<uint8_t> sets;
    bool haveSps = false;
    for (const Record &r : walk.records) {
        ForEachNalUnit(r.video, r.header.videoLength, [&](const NalUnit &nal) {
            if (nal.type == kNalSps || nal.type == kNalPps) {
                sets.insert(sets.end(), {0, 0, 0, 1});
                sets.insert(sets.end(), r.video + nal.payload.offset, r.video + nal.payload.offset + nal.payload.size);
                haveSps |= nal.type == kNalSps;
            }
            return true;
        });
        if (haveSps) return sets;
        sets.clear();
    }
    return sets;
}

// The sound stream: plain PCM for Matroska, AAC (libavcodec's own encoder)
// for MP4, written in step with the video so the muxer interleaves.
class SoundWriter {
public:
    SoundWriter(const SoundTrack &track, AVFormatContext *format) : track_(track), format_(format) {}
    SoundWriter(const SoundWriter &) = delete;
    SoundWriter &operator=(const SoundWriter &) = delete;
    ~SoundWriter() {
        avcodec_free_context(&encoder_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
    }

    bool Open(bool aac, std::string &error) {
        stream_ = avformat_new_stream(format_, nullptr);
        packet_ = av_packet_alloc();
        if (!stream_ || !packet_) return Failed(AVERROR(ENOMEM), "sound stream", error);
        stream_->time_base = {1, kSoundRate};
        if (!aac) {
            AVCodecParameters *par = stream_->codecpar;
            par->codec_type = AVMEDIA_TYPE_AUDIO;
            par->codec_id = AV_CODEC_ID_PCM_S16LE;
            par->format = AV_SAMPLE_FMT_S16;
            par->sample_rate = kSoundRate;
            par->bits_per_coded_sample = 16;
            par->block_align = 2;
            av_channel_layout_default(&par->ch_layout, 1);
            return true;
        }
        const AVCodec *codec = avcodec_find_encoder_by_name("aac");
        if (!codec) return Failed(AVERROR_ENCODER_NOT_FOUND, "the aac encoder", error);
        encoder_ = avcodec_alloc_context3(codec);
        frame_ = av_frame_alloc();
        if (!encoder_ || !frame_) return Failed(AVERROR(ENOMEM), "the aac encoder", error);
        encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
        encoder_->sample_rate = kSoundRate;
        encoder_->bit_rate = kAacBitRate;
        encoder_->time_base = {1, kSoundRate};
        av_channel_layout_default(&encoder_->ch_layout, 1);
        if (format_->oformat->flags & AVFMT_GLOBALHEADER) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int rc = avcodec_open2(encoder_, codec, nullptr);
        if (rc >= 0) rc = avcodec_parameters_from_context(stream_->codecpar, encoder_);
        if (rc < 0) return Failed(rc, "opening the aac encoder", error);
        frame_->format = encoder_->sample_fmt;
        frame_->sample_rate = kSoundRate;
        frame_->nb_samples = encoder_->frame_size;
        rc = av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout);
        if (rc >= 0) rc = av_frame_get_buffer(frame_, 0);
        return rc >= 0 || Failed(rc, "an audio frame", error);
    }

    // Writes the sound up to the file time `untilSample` (at kSoundRate).
    bool WriteUntil(int64_t untilSample, std::string &error) {
        const int chunk = encoder_ ? encoder_->frame_size : kPcmPacketSamples;
        for (;;) {
            const int64_t left = int64_t(track_.pcm.size()) - done_;
            const int64_t wanted = untilSample - (track_.startSample + done_);
            if (left <= 0 || (wanted < chunk && left > wanted)) return true;
            const int count = int(std::min<int64_t>(chunk, left));
            if (!(encoder_ ? Encode(count, error) : WritePcm(count, error))) return false;
            done_ += count;
        }
    }

    bool Finish(std::string &error) {
        if (!WriteUntil(INT64_MAX, error)) return false;
        if (!encoder_) return true;
        const int rc = avcodec_send_frame(encoder_, nullptr);
        return rc < 0 ? Failed(rc, "flushing the aac encoder", error) : Drain(error);
    }

private:
    bool Failed(int code, const char *what, std::string &error) {
        error = std::string(what) + ": " + AvError(code);
        return false;
    }

    bool WritePcm(int count, std::string &error) {
        int rc = av_new_packet(packet_, 2 * count);
        if (rc < 0) return Failed(rc, "a sound packet", error);
        std::memcpy(packet_->data, track_.pcm.data() + done_, 2 * size_t(count));  // little-endian host
        packet_->pts = packet_->dts = track_.startSample + done_;
        packet_->duration = count;
        return Write({1, kSoundRate}, error);
    }

    bool Encode(int count, std::string &error) {
        int rc = av_frame_make_writable(frame_);
        if (rc < 0) return Failed(rc, "an audio frame", error);
        frame_->nb_samples = count;
        auto *samples = reinterpret_cast<float *>(frame_->data[0]);
        for (int k = 0; k < count; ++k) samples[k] = track_.pcm[done_ + k] / 32768.0f;
        frame_->pts = track_.startSample + done_;
        rc = avcodec_send_frame(encoder_, frame_);
        return rc < 0 ? Failed(rc, "encoding sound", error) : Drain(error);
    }

    bool Drain(std::string &error) {
        for (;;) {
            const int rc = avcodec_receive_packet(encoder_, packet_);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) return Failed(rc, "encoding sound", error);
            if (!Write(encoder_->time_base, error)) return false;
        }
    }

    bool Write(AVRational from, std::string &error) {
        packet_->stream_index = stream_->index;
        av_packet_rescale_ts(packet_, from, stream_->time_base);
        const int rc = av_interleaved_write_frame(format_, packet_);
        return rc >= 0 || Failed(rc, "writing sound", error);
    }

    const SoundTrack &track_;
    AVFormatContext *format_;
    AVStream *stream_ = nullptr;
    AVCodecContext *encoder_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVPacket *packet_ = nullptr;
    size_t done_ = 0;
};

struct Output {
    AVFormatContext *format = nullptr;
    AVPacket *packet = nullptr;
    std::string path;
    bool finished = false;
    ~Output() {
        av_packet_free(&packet);
        if (format && !(format->oformat->flags & AVFMT_NOFILE)) avio_closep(&format->pb);
        avformat_free_context(format);
        if (!finished) std::remove(path.c_str());  // no half-written file left behind
    }
};

bool AddVideo(const RecordFile &file, const Walk &walk, AVFormatContext *format, std::string &error) {
    const std::vector<uint8_t> sets = ParameterSets(walk);
    if (sets.empty()) {
        error = "no record holds a sequence parameter set";
        return false;
    }
    AVStream *stream = avformat_new_stream(format, nullptr);
    if (!stream) {
        error = "video stream: " + AvError(AVERROR(ENOMEM));
        return false;
    }
    AVCodecParameters *par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_H264;
    par->width = file.Header().width;
    par->height = file.Header().height;
    par->extradata = static_cast<uint8_t *>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) {
        error = "video stream: " + AvError(AVERROR(ENOMEM));
        return false;
    }
    std::memcpy(par->extradata, sets.data(), sets.size());
    par->extradata_size = int(sets.size());
    stream->time_base = {1, file.Header().frameRate};
    stream->avg_frame_rate = {file.Header().frameRate, 1};
    return true;
}

bool WriteVideo(const Record &r, AVRational frameTime, Output &out, std::string &error) {
    int rc = av_new_packet(out.packet, int(r.header.videoLength));
    if (rc < 0) {
        error = "a video packet: " + AvError(rc);
        return false;
    }
    std::memcpy(out.packet->data, r.video, r.header.videoLength);
    out.packet->pts = out.packet->dts = r.header.timeStamp;
    out.packet->duration = 1;
    out.packet->flags = r.header.keyFrame ? AV_PKT_FLAG_KEY : 0;
    out.packet->stream_index = 0;
    av_packet_rescale_ts(out.packet, frameTime, out.format->streams[0]->time_base);
    rc = av_interleaved_write_frame(out.format, out.packet);
    if (rc < 0) error = "writing video: " + AvError(rc);
    return rc >= 0;
}

}  // namespace

int Export(const std::string &inPath, const std::string &outPath) {
    RecordFile file;
    std::string error;
    if (!file.Open(inPath, error)) return Fail(error);
    const Walk walk = file.WalkRecords();
    if (!walk.skipped.empty())
        Warn(inPath + ": " + std::to_string(walk.skipped.size()) + " damaged ranges skipped (see tessaly-rec info)");
    const uint32_t rate = file.Header().frameRate;
    const SoundTrack sound = DecodeSound(walk, rate);
    if (sound.skippedFrames)
        Warn(inPath + ": " + std::to_string(sound.skippedFrames) + " voice frames that do not decode skipped");

    av_log_set_level(AV_LOG_ERROR);
    Output out;
    out.path = outPath;
    int rc = avformat_alloc_output_context2(&out.format, nullptr, nullptr, outPath.c_str());
    if (rc < 0 || (std::strcmp(out.format->oformat->name, "mp4") != 0 &&
                   std::strcmp(out.format->oformat->name, "matroska") != 0)) {
        out.finished = true;  // nothing created
        return Fail(outPath + ": the output must end in .mp4 or .mkv");
    }
    const bool mp4 = std::strcmp(out.format->oformat->name, "mp4") == 0;
    out.packet = av_packet_alloc();
    if (!out.packet) return Fail("out of memory");
    if (!AddVideo(file, walk, out.format, error)) return Fail(inPath + ": " + error);
    SoundWriter soundWriter(sound, out.format);
    const bool withSound = !sound.pcm.empty();
    if (withSound && !soundWriter.Open(mp4, error)) return Fail(error);

    if (!(out.format->oformat->flags & AVFMT_NOFILE)) {
        rc = avio_open(&out.format->pb, outPath.c_str(), AVIO_FLAG_WRITE);
        if (rc < 0) {
            out.finished = true;
            return Fail("cannot create " + outPath + ": " + AvError(rc));
        }
    }
    rc = avformat_write_header(out.format, nullptr);
    if (rc < 0) return Fail("writing " + outPath + ": " + AvError(rc));

    const AVRational frameTime = {1, int(rate)};
    int64_t lastStamp = -1;
    uint64_t outOfOrder = 0;
    for (const Record &r : walk.records) {
        if (r.header.videoLength == 0) continue;
        if (int64_t{r.header.timeStamp} <= lastStamp) {
            ++outOfOrder;  // a container needs rising time stamps
            continue;
        }
        lastStamp = r.header.timeStamp;
        if (withSound && !soundWriter.WriteUntil((lastStamp + 1) * kSoundRate / rate, error)) return Fail(error);
        if (!WriteVideo(r, frameTime, out, error)) return Fail(error);
    }
    if (withSound && !soundWriter.Finish(error)) return Fail(error);
    rc = av_write_trailer(out.format);
    if (rc < 0) return Fail("writing " + outPath + ": " + AvError(rc));
    if (outOfOrder)
        Warn(inPath + ": " + std::to_string(outOfOrder) + " records whose time stamp does not rise left out");
    out.finished = true;
    return 0;
}

}  // namespace tessaly::tools::rec
