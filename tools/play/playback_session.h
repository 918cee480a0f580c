// The ports of one run: one per file, each fed by its own StreamFeeder and
// counted by its PortStats. Knows when every stream has been played out.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "camera_file.h"
#include "port_stats.h"
#include "stop_signal.h"
#include "stream_feeder.h"
#include "tessaly/kova.h"

namespace tessaly::play {

class PlaybackSession {
public:
    PlaybackSession(const std::vector<CameraFile> &files, bool loop);
    ~PlaybackSession();

    // Opens port i on windows[i] (0 = no window). One-line error on failure.
    bool OpenPorts(const std::vector<KOVA_HWND> &windows, std::string *error);
    void StartFeeding();
    // True once every feeder has sent its last unit, every stream buffer is
    // empty and the last picture has had time to come out of the decoder.
    bool PlayedOut();
    // Stops the feeders and closes the ports (pictures already counted stay).
    void Stop();
    void PrintSummary(std::FILE *out) const;

    size_t PortCount() const { return files_.size(); }
    const CameraFile &file(size_t port) const { return files_[port]; }

private:
    const std::vector<CameraFile> &files_;
    bool loop_;
    StopSignal stop_;
    std::unique_ptr<PortStats[]> stats_;
    std::vector<std::unique_ptr<StreamFeeder>> feeders_;
    size_t openPorts_ = 0;
    std::chrono::steady_clock::time_point drainedSince_{};
    bool drained_ = false;
};

}  // namespace tessaly::play
