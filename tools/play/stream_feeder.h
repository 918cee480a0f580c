// Sends one file's access units to its port the way a camera does: one
// KOVA_AddStreamFrame per access unit, at the stream's frame rate, on a
// thread of its own. Nothing is allocated per frame: the units are ranges of
// the loaded file.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "camera_file.h"
#include "port_stats.h"
#include "stop_signal.h"

namespace tessaly::play {

class StreamFeeder {
public:
    StreamFeeder(uint32_t port, const CameraFile &file, bool loop, PortStats &stats, StopSignal &stop);
    ~StreamFeeder();
    StreamFeeder(const StreamFeeder &) = delete;
    StreamFeeder &operator=(const StreamFeeder &) = delete;

    void Start();
    void Join();
    // Every access unit has been sent (never true with looping).
    bool Finished() const { return finished_.load(std::memory_order_acquire); }

private:
    void Run();
    void Send(const tools::ByteRange &unit);

    uint32_t port_;
    const CameraFile &file_;
    bool loop_;
    PortStats &stats_;
    StopSignal &stop_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
};

}  // namespace tessaly::play
