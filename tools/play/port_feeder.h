// A live port's sender: a thread of its own that pushes one source's frames
// into the port the way a camera SDK does, until the source ends or the run stops.
#pragma once

#include <cstdint>
#include <thread>

#include "camera_file.h"
#include "port_stats.h"
#include "stop_signal.h"

namespace tessaly::play {

class PortFeeder {
public:
    PortFeeder(uint32_t port, const CameraFile &file, bool loop, PortStats &stats, StopSignal &stop)
        : port_(port), file_(file), loop_(loop), stats_(stats), stop_(stop) {}
    // Each feeder joins in its own destructor: Run must not outlive the object it runs on.
    virtual ~PortFeeder() = default;
    PortFeeder(const PortFeeder &) = delete;
    PortFeeder &operator=(const PortFeeder &) = delete;

    void Start() {
        thread_ = std::thread([this] { Run(); });
    }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    // Nothing more will be sent.
    virtual bool Finished() const = 0;

protected:
    virtual void Run() = 0;

    const uint32_t port_;
    const CameraFile &file_;
    const bool loop_;
    PortStats &stats_;
    StopSignal &stop_;

private:
    std::thread thread_;
};

}  // namespace tessaly::play
