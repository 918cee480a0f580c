// Network cameras (rtsp://, rtp://, udp://, tcp://, http://) and container
// files (.mp4, .mkv, .ts) read through libavformat: the H.264 video track's
// access units go to a live port one KOVA_AddStreamFrame each, as a camera
// SDK hands them on, from a reader thread per source; a network stream's as
// they arrive, a file's at its own pace (by its timestamps). A network source
// that drops or fails to answer is opened again after 1, 2, 4... s (at most
// 10 s) while its port stays open, and sends again from the next key frame.
// Each change of state is printed as a line:
//   "source port 0 rtsp://host/cam: reconnecting in 2 s (End of file)".
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "access_unit_writer.h"
#include "camera_file.h"
#include "port_feeder.h"

struct AVFormatContext;
struct AVPacket;
struct AVBSFContext;

namespace tessaly::play {

// True for a URL of a protocol above or a path ending in .mp4, .mkv or .ts.
bool IsAvSource(const std::string &path);

// Describes the source in `file`. A container file is opened and checked
// here (one-line reason on failure); a network source only when it plays.
bool LoadAvSource(const std::string &path, bool rtspOverUdp, CameraFile *file, std::string *error);

class AvSource : public PortFeeder {
public:
    enum class State { kConnecting, kPlaying, kReconnecting, kFailed, kEnded };

    using PortFeeder::PortFeeder;
    ~AvSource() override { Join(); }

    // Failed for good, or a file played to its end.
    bool Finished() const override;
    // "connecting", "playing", "reconnecting in 3 s", "failed", "ended".
    void FormatState(char *text, size_t size) const;

private:
    enum class Outcome { kEnd, kError, kUnusable, kStopped };

    void Run() override;
    // One connection, from opening to the end of the input or an error.
    Outcome ReadOnce(bool *played, std::string *reason);
    Outcome ReadPackets(AVFormatContext *input, int track, AVBSFContext *filter, AVPacket *packet, bool *played,
                        std::string *reason);
    void Send(const AVPacket &packet);
    // A file's access unit waits for its time; false once stopped.
    bool WaitForTimestamp(const AVPacket &packet, double timeBase);
    void SetState(State state, const std::string &detail);
    static int Interrupted(void *self);

    AccessUnitWriter writer_;
    std::atomic<int> state_{static_cast<int>(State::kConnecting)};
    std::atomic<int64_t> retryAtNs_{0};
    bool waitForKeyFrame_ = true;
    int64_t lastInputNs_ = 0;  // reader thread: when the input last gave a packet
    // A file's clock: the steady time its first timestamp plays at.
    int64_t firstTimestamp_ = 0;
    int64_t startNs_ = 0;
    bool clockSet_ = false;
};

}  // namespace tessaly::play
