// The ports of one run: one per file, a live camera (an FT port for an FT
// byte stream) fed by its own StreamFeeder or AvSource, or a record file played by its
// FilePort, each counted by its PortStats. Knows when every port has been played out.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "av_source.h"
#include "camera_file.h"
#include "file_port.h"
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
    // Starts the cameras and the record files; `stepFiles` steps the files
    // from the tool (ports without windows) instead of letting them play.
    void Start(bool stepFiles);
    // From the main loop, often: looping and the end of record files.
    void Poll();
    // True once every feeder has sent its last unit, every stream buffer is
    // empty and the last picture has had time to come out of the decoder,
    // and every record file has ended.
    bool PlayedOut();
    // Stops the feeders and closes the ports (pictures already counted stay).
    void Stop();
    void PrintSummary(std::FILE *out) const;

    // Acts on every record file; false when there is none.
    bool ControlFiles(FilePort::Control control);
    // One line per record file, e.g.
    // "file port 1 sample.kvr: position 512 time 5/9 s speed 0 playing pictures 128".
    void PrintFileStates(std::FILE *out) const;
    // An AvSource's state ("reconnecting in 3 s"); false for other ports.
    bool FormatSourceState(size_t port, char *text, size_t size) const;

    size_t PortCount() const { return files_.size(); }
    const CameraFile &file(size_t port) const { return files_[port]; }

private:
    bool CamerasPlayedOut();

    const std::vector<CameraFile> &files_;
    bool loop_;
    StopSignal stop_;
    std::unique_ptr<PortStats[]> stats_;
    std::vector<std::unique_ptr<PortFeeder>> feeders_;  // null for record files
    std::vector<const AvSource *> sources_;             // feeders_' network cameras and container files
    std::vector<std::unique_ptr<FilePort>> filePorts_;  // null for cameras
    size_t openPorts_ = 0;
    std::chrono::steady_clock::time_point drainedSince_{};
    bool drained_ = false;
};

}  // namespace tessaly::play
