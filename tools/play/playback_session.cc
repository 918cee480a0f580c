#include "playback_session.h"

namespace tessaly::play {
namespace {

// Time for the last access unit to be decoded and shown once the buffer is
// empty: a few display ticks.
constexpr auto kLastPictureGrace = std::chrono::milliseconds(300);

std::string BaseName(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

PlaybackSession::PlaybackSession(const std::vector<CameraFile> &files, bool loop)
    : files_(files), loop_(loop), stats_(new PortStats[files.size()]) {}

PlaybackSession::~PlaybackSession() { Stop(); }

bool PlaybackSession::OpenPorts(const std::vector<KOVA_HWND> &windows, std::string *error) {
    for (size_t i = 0; i < files_.size(); ++i) {
        // Stream kind 1 ticks every 32 ms (31 fps), the other kinds every 38 ms
        // (26 fps): take the one that keeps up with the stream.
        const uint32_t streamKind = files_[i].fps > 26 ? 1 : 0;
        const int32_t result = KOVA_OpenStreamEx(static_cast<uint32_t>(i), windows[i], streamKind, 0, CountPicture,
                                                 reinterpret_cast<intptr_t>(&stats_[i]));
        if (result != KOVA_OK) {
            *error = "cannot open player port " + std::to_string(i) + " (error " + std::to_string(result) + ")";
            return false;
        }
        openPorts_ = i + 1;
    }
    for (size_t i = 0; i < files_.size(); ++i) {
        feeders_.push_back(
            std::make_unique<StreamFeeder>(static_cast<uint32_t>(i), files_[i], loop_, stats_[i], stop_));
    }
    return true;
}

void PlaybackSession::StartFeeding() {
    for (auto &feeder : feeders_) feeder->Start();
}

bool PlaybackSession::PlayedOut() {
    if (loop_) return false;
    bool empty = true;
    for (size_t i = 0; i < feeders_.size() && empty; ++i) {
        uint32_t capacity = 0, fill = 0;
        empty = feeders_[i]->Finished() &&
                KOVA_GetStreamBufInfo(static_cast<uint32_t>(i), &capacity, &fill) == KOVA_OK && fill == 0;
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

void PlaybackSession::Stop() {
    stop_.Raise();
    for (auto &feeder : feeders_) feeder->Join();
    for (size_t i = 0; i < openPorts_; ++i) KOVA_Close(static_cast<uint32_t>(i));
    openPorts_ = 0;
}

void PlaybackSession::PrintSummary(std::FILE *out) const {
    for (size_t i = 0; i < files_.size(); ++i) {
        PrintSummaryLine(out, static_cast<uint32_t>(i), BaseName(files_[i].path), stats_[i]);
    }
}

}  // namespace tessaly::play
