#include "av_source.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

#include "tessaly/kova.h"

namespace tessaly::play {
namespace {

constexpr const char *kUrlSchemes[] = {"rtsp://", "rtp://", "udp://", "tcp://", "http://"};
constexpr const char *kContainerSuffixes[] = {".mp4", ".mkv", ".ts"};
// Socket reads and connects give up after this long (microseconds for FFmpeg).
constexpr const char *kIoTimeoutMicros = "5000000";
// How much of a network stream is read to learn its track's parameters.
constexpr const char *kProbeMicros = "1000000";
// A network input that gives no packet for this long is dropped, whatever
// its protocol does about timeouts.
constexpr int64_t kStallNs = 10'000'000'000;
constexpr int kFirstRetryS = 1;
constexpr int kLastRetryS = 10;
// A file whose timestamps jump more than this from the clock starts a new one.
constexpr int64_t kTimestampJumpNs = 3'000'000'000;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool StartsWith(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

bool EndsWith(const std::string &text, const char *suffix) {
    const size_t n = std::char_traits<char>::length(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

bool IsNetworkUrl(const std::string &path) {
    return std::any_of(std::begin(kUrlSchemes), std::end(kUrlSchemes),
                       [&](const char *scheme) { return StartsWith(path, scheme); });
}

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    return text;
}

const char *StateName(AvSource::State state) {
    switch (state) {
    case AvSource::State::kConnecting: return "connecting";
    case AvSource::State::kPlaying: return "playing";
    case AvSource::State::kReconnecting: return "reconnecting";
    case AvSource::State::kFailed: return "failed";
    case AvSource::State::kEnded: return "ended";
    }
    return "?";
}

// Opens the input and finds its H.264 video track. Returns the track, or -1
// with the reason (`unusable` when trying again cannot help).
int OpenInput(const CameraFile &file, const AVIOInterruptCB *interrupt, AVFormatContext **input, bool *unusable,
              std::string *reason) {
    *unusable = false;
    *input = avformat_alloc_context();
    if (!*input) {
        *reason = "out of memory";
        return -1;
    }
    if (interrupt) (*input)->interrupt_callback = *interrupt;
    AVDictionary *options = nullptr;
    if (file.network) {
        av_dict_set(&options, "timeout", kIoTimeoutMicros, 0);
        // The probe's packets come out in a burst once it is done: keep it short.
        av_dict_set(&options, "analyzeduration", kProbeMicros, 0);
        if (StartsWith(file.path, "rtsp://")) {
            av_dict_set(&options, "rtsp_transport", file.rtspOverUdp ? "udp" : "tcp", 0);
        } else {
            av_dict_set(&options, "rw_timeout", kIoTimeoutMicros, 0);
            // A late reader loses packets rather than the whole input.
            av_dict_set(&options, "overrun_nonfatal", "1", 0);
        }
    }
    int result = avformat_open_input(input, file.path.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        *reason = AvError(result);
        *unusable = !file.network;
        return -1;
    }
    result = avformat_find_stream_info(*input, nullptr);
    if (result < 0) {
        *reason = AvError(result);
        *unusable = !file.network;
        return -1;
    }
    const int track = av_find_best_stream(*input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (track < 0 || (*input)->streams[track]->codecpar->codec_id != AV_CODEC_ID_H264) {
        *reason = "no H.264 video track";
        *unusable = true;
        return -1;
    }
    return track;
}

}  // namespace

bool IsAvSource(const std::string &path) {
    return IsNetworkUrl(path) || std::any_of(std::begin(kContainerSuffixes), std::end(kContainerSuffixes),
                                             [&](const char *suffix) { return EndsWith(path, suffix); });
}

bool LoadAvSource(const std::string &path, bool rtspOverUdp, CameraFile *file, std::string *error) {
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        // Reasons reach the state lines; FFmpeg's own log would repeat them.
        av_log_set_level(AV_LOG_FATAL);
        avformat_network_init();
    });
    file->path = path;
    file->avSource = true;
    file->network = IsNetworkUrl(path);
    file->rtspOverUdp = rtspOverUdp;
    if (file->network) {
        // Unknown until it answers: a D1 cell, and port ticks that keep up with 30 fps.
        file->width = 704;
        file->height = 576;
        file->fps = 30;
        return true;
    }
    AVFormatContext *input = nullptr;
    bool unusable = false;
    std::string reason;
    const int track = OpenInput(*file, nullptr, &input, &unusable, &reason);
    if (track >= 0) {
        const AVStream &stream = *input->streams[track];
        file->width = static_cast<uint32_t>(stream.codecpar->width);
        file->height = static_cast<uint32_t>(stream.codecpar->height);
        const AVRational rate = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
        const double fps = rate.den > 0 ? av_q2d(rate) : 0;
        file->fpsFromStream = fps >= 0.5 && fps <= 240;
        file->fps = file->fpsFromStream ? fps : 25;
    }
    avformat_close_input(&input);
    if (track < 0) *error = path + ": " + reason;
    return track >= 0;
}

bool AvSource::Finished() const {
    const auto state = static_cast<State>(state_.load(std::memory_order_acquire));
    return state == State::kFailed || state == State::kEnded;
}

void AvSource::FormatState(char *text, size_t size) const {
    const auto state = static_cast<State>(state_.load(std::memory_order_acquire));
    if (state != State::kReconnecting) {
        std::snprintf(text, size, "%s", StateName(state));
        return;
    }
    const int64_t left = std::max<int64_t>(0, retryAtNs_.load(std::memory_order_relaxed) - NowNs());
    std::snprintf(text, size, "reconnecting in %lld s", static_cast<long long>((left + 999'999'999) / 1'000'000'000));
}

void AvSource::SetState(State state, const std::string &detail) {
    state_.store(static_cast<int>(state), std::memory_order_release);
    std::printf("source port %u %s: %s%s%s\n", port_, file_.path.c_str(), StateName(state), detail.empty() ? "" : " ",
                detail.c_str());
    std::fflush(stdout);
}

int AvSource::Interrupted(void *self) {
    auto *source = static_cast<AvSource *>(self);
    if (source->stop_.Raised()) return 1;
    return source->file_.network && NowNs() - source->lastInputNs_ > kStallNs;
}

void AvSource::Run() {
    int retryS = kFirstRetryS;
    SetState(State::kConnecting, "");
    while (!stop_.Raised()) {
        bool played = false;
        std::string reason;
        const Outcome outcome = ReadOnce(&played, &reason);
        if (outcome == Outcome::kStopped || stop_.Raised()) return;
        if (outcome == Outcome::kUnusable || (!file_.network && outcome == Outcome::kError)) {
            SetState(State::kFailed, "(" + reason + ")");
            return;
        }
        if (!file_.network) {
            if (!loop_) {
                SetState(State::kEnded, "");
                return;
            }
            continue;  // a file starts again at once
        }
        if (played) retryS = kFirstRetryS;
        retryAtNs_.store(NowNs() + int64_t{retryS} * 1'000'000'000, std::memory_order_relaxed);
        SetState(State::kReconnecting, "in " + std::to_string(retryS) + " s (" + reason + ")");
        if (stop_.WaitUntil(std::chrono::steady_clock::now() + std::chrono::seconds(retryS))) return;
        retryS = std::min(retryS * 2, kLastRetryS);
        SetState(State::kConnecting, "");
    }
}

AvSource::Outcome AvSource::ReadOnce(bool *played, std::string *reason) {
    const AVIOInterruptCB interrupt{&AvSource::Interrupted, this};
    lastInputNs_ = NowNs();
    AVFormatContext *input = nullptr;
    AVBSFContext *filter = nullptr;
    AVPacket *packet = nullptr;
    bool unusable = false;
    Outcome outcome = Outcome::kError;
    const int track = OpenInput(file_, &interrupt, &input, &unusable, reason);
    if (track < 0) {
        outcome = stop_.Raised() ? Outcome::kStopped : unusable ? Outcome::kUnusable : Outcome::kError;
    } else {
        const AVCodecParameters &codec = *input->streams[track]->codecpar;
        // avcC extradata: length-prefixed NAL units, turned into Annex B.
        const bool lengthPrefixed = codec.extradata_size > 0 && codec.extradata[0] == 1;
        packet = av_packet_alloc();
        int result = packet ? 0 : AVERROR(ENOMEM);
        if (result == 0 && lengthPrefixed) {
            const AVBitStreamFilter *toAnnexB = av_bsf_get_by_name("h264_mp4toannexb");
            result = toAnnexB ? av_bsf_alloc(toAnnexB, &filter) : AVERROR_BSF_NOT_FOUND;
            if (result == 0) result = avcodec_parameters_copy(filter->par_in, &codec);
            if (result == 0) {
                filter->time_base_in = input->streams[track]->time_base;
                result = av_bsf_init(filter);
            }
        }
        if (result < 0) {
            *reason = AvError(result);
            outcome = Outcome::kUnusable;
        } else {
            writer_.SetExtradata(codec.extradata, static_cast<size_t>(std::max(codec.extradata_size, 0)));
            waitForKeyFrame_ = true;
            clockSet_ = false;
            SetState(State::kPlaying, std::to_string(codec.width) + "x" + std::to_string(codec.height));
            outcome = ReadPackets(input, track, filter, packet, played, reason);
        }
    }
    av_packet_free(&packet);
    av_bsf_free(&filter);
    avformat_close_input(&input);
    return outcome;
}

AvSource::Outcome AvSource::ReadPackets(AVFormatContext *input, int track, AVBSFContext *filter, AVPacket *packet,
                                        bool *played, std::string *reason) {
    const double timeBase = av_q2d(input->streams[track]->time_base);
    for (;;) {
        const int result = av_read_frame(input, packet);
        if (stop_.Raised()) return Outcome::kStopped;
        if (result < 0) {
            *reason = result == AVERROR_EOF ? "end of stream" : AvError(result);
            return result == AVERROR_EOF ? Outcome::kEnd : Outcome::kError;
        }
        lastInputNs_ = NowNs();
        if (packet->stream_index != track) {
            av_packet_unref(packet);
            continue;
        }
        if (!filter) {
            if (!WaitForTimestamp(*packet, timeBase)) return Outcome::kStopped;
            Send(*packet);
            av_packet_unref(packet);
            *played = true;
            continue;
        }
        if (av_bsf_send_packet(filter, packet) < 0) av_packet_unref(packet);
        while (av_bsf_receive_packet(filter, packet) == 0) {
            const bool onTime = WaitForTimestamp(*packet, timeBase);
            if (onTime) Send(*packet);
            av_packet_unref(packet);
            if (!onTime) return Outcome::kStopped;
            *played = true;
        }
    }
}

bool AvSource::WaitForTimestamp(const AVPacket &packet, double timeBase) {
    // A network stream goes as it arrives; its timestamps are the sender's.
    if (file_.network) return true;
    // Decode order: B-frames would make presentation times go back.
    const int64_t timestamp = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
    if (timestamp == AV_NOPTS_VALUE) return !stop_.Raised();
    const int64_t now = NowNs();
    int64_t due = startNs_ + static_cast<int64_t>((timestamp - firstTimestamp_) * timeBase * 1e9);
    if (!clockSet_ || due > now + kTimestampJumpNs || due < now - kTimestampJumpNs) {
        clockSet_ = true;
        firstTimestamp_ = timestamp;
        startNs_ = now;
        due = now;
    }
    return !stop_.WaitUntil(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(due)));
}

void AvSource::Send(const AVPacket &packet) {
    if (!writer_.Write(packet.data, static_cast<size_t>(packet.size))) return;
    // After a gap the decoder needs a key frame to start from.
    if (waitForKeyFrame_ && !writer_.keyFrame()) return;
    waitForKeyFrame_ = false;
    const int32_t result =
        KOVA_AddStreamFrame(port_, KOVA_FRAME_VIDEO, writer_.data(), static_cast<uint32_t>(writer_.size()));
    (result == KOVA_OK ? stats_.framesSent : stats_.framesDropped).fetch_add(1, std::memory_order_relaxed);
    NoteBufferFill(port_, stats_);
}

}  // namespace tessaly::play
