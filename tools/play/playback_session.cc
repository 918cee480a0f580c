#include "playback_session.h"

namespace tessaly::play {
namespace {

// Time for the last access unit to be decoded and shown once the buffer is
// empty: a few display ticks.
constexpr auto kLastPictureGrace = std::chrono::milliseconds(300);

}  // namespace

PlaybackSession::PlaybackSession(const std::vector<CameraFile> &files, bool loop)
    : files_(files), loop_(loop), stats_(new PortStats[files.size()]) {}

PlaybackSession::~PlaybackSession() { Stop(); }

bool PlaybackSession::OpenPorts(const std::vector<KOVA_HWND> &windows, std::string *error) {
    feeders_.resize(files_.size());
    filePorts_.resize(files_.size());
    sources_.assign(files_.size(), nullptr);
    for (size_t i = 0; i < files_.size(); ++i) {
        const uint32_t port = static_cast<uint32_t>(i);
        int32_t result;
        if (files_[i].recordFile) {
            filePorts_[i] = std::make_unique<FilePort>(port, files_[i], loop_, stats_[i], stop_);
            result = filePorts_[i]->Open(windows[i]);
        } else {
            // Stream kind 1 ticks every 32 ms (31 fps), the other kinds every 38 ms
            // (26 fps): take the one that keeps up with the stream.
            const uint32_t streamKind = files_[i].fps > 26 ? 1 : 0;
            const auto open = files_[i].ftStream ? KOVA_OpenStream_FT : KOVA_OpenStreamEx;
            result = open(port, windows[i], streamKind, 0, CountPicture, reinterpret_cast<intptr_t>(&stats_[i]));
            if (files_[i].avSource) {
                auto source = std::make_unique<AvSource>(port, files_[i], loop_, stats_[i], stop_);
                sources_[i] = source.get();
                feeders_[i] = std::move(source);
            } else {
                feeders_[i] = std::make_unique<StreamFeeder>(port, files_[i], loop_, stats_[i], stop_);
            }
        }
        if (result != KOVA_OK) {
            *error = (files_[i].recordFile ? "cannot open " + files_[i].path + " at player port "
                                           : std::string("cannot open player port ")) +
                     std::to_string(i) + " (error " + std::to_string(result) + ")";
            return false;
        }
        openPorts_ = i + 1;
    }
    return true;
}

void PlaybackSession::Start(bool stepFiles) {
    for (auto &feeder : feeders_)
        if (feeder) feeder->Start();
    for (auto &filePort : filePorts_)
        if (filePort) filePort->Start(stepFiles);
}

void PlaybackSession::Poll() {
    for (auto &filePort : filePorts_)
        if (filePort) filePort->Poll();
}

bool PlaybackSession::CamerasPlayedOut() {
    bool empty = true;
    for (size_t i = 0; i < feeders_.size() && empty; ++i) {
        uint32_t capacity = 0, fill = 0;
        empty =
            !feeders_[i] || (feeders_[i]->Finished() &&
                             KOVA_GetStreamBufInfo(static_cast<uint32_t>(i), &capacity, &fill) == KOVA_OK && fill == 0);
    }
    const auto now = std::chrono::steady_clock::now();
    if (!empty) {
        drained_ = false;
        return false;
    }
    if (!drained_) {
        drained_ = true;
        drainedSince_ = now;
    }
    return now - drainedSince_ >= kLastPictureGrace;
}

bool PlaybackSession::PlayedOut() {
    if (loop_) return false;
    for (const auto &filePort : filePorts_)
        if (filePort && !filePort->Ended()) return false;
    return CamerasPlayedOut();
}

void PlaybackSession::Stop() {
    stop_.Raise();
    for (auto &feeder : feeders_)
        if (feeder) feeder->Join();
    for (auto &filePort : filePorts_)
        if (filePort) filePort->Join();
    for (size_t i = 0; i < openPorts_; ++i) {
        if (filePorts_[i]) {
            filePorts_[i]->Close();
        } else {
            KOVA_Close(static_cast<uint32_t>(i));
        }
    }
    openPorts_ = 0;
}

bool PlaybackSession::ControlFiles(FilePort::Control control) {
    bool any = false;
    for (auto &filePort : filePorts_) {
        if (!filePort) continue;
        filePort->Apply(control);
        any = true;
    }
    return any;
}

void PlaybackSession::PrintFileStates(std::FILE *out) const {
    char state[128];
    for (size_t i = 0; i < filePorts_.size(); ++i) {
        if (!filePorts_[i]) continue;
        filePorts_[i]->FormatState(state, sizeof state);
        std::fprintf(out, "file port %zu %s: %s pictures %llu\n", i, BaseName(files_[i].path).c_str(), state,
                     static_cast<unsigned long long>(stats_[i].pictures.load(std::memory_order_acquire)));
    }
    std::fflush(out);
}

bool PlaybackSession::FormatSourceState(size_t port, char *text, size_t size) const {
    if (port >= sources_.size() || !sources_[port]) return false;
    sources_[port]->FormatState(text, size);
    return true;
}

void PlaybackSession::PrintSummary(std::FILE *out) const {
    char state[128];
    for (size_t i = 0; i < files_.size(); ++i) {
        const uint32_t port = static_cast<uint32_t>(i);
        PrintPictureCounts(out, port, BaseName(files_[i].path), stats_[i]);
        if (i < filePorts_.size() && filePorts_[i]) {
            filePorts_[i]->FormatState(state, sizeof state);
            std::fprintf(out, " %s\n", state);
        } else {
            PrintFeedCounts(out, stats_[i]);
        }
    }
}

}  // namespace tessaly::play
