// Sends one file's access units to its port the way a camera does: one
// KOVA_AddStreamFrame per access unit, at the stream's frame rate, on a
// thread of its own; an FT byte stream's packets go one a frame period, in
// chunks as they would come off a socket. Nothing is allocated per frame: the
// units are ranges of the loaded file.
#pragma once

#include <atomic>
#include <cstdint>

#include "camera_file.h"
#include "port_feeder.h"

namespace tessaly::play {

class StreamFeeder : public PortFeeder {
public:
    using PortFeeder::PortFeeder;
    ~StreamFeeder() override { Join(); }

    // Every access unit has been sent (never true with looping).
    bool Finished() const override { return finished_.load(std::memory_order_acquire); }

private:
    void Run() override;
    void Send(const tools::ByteRange &unit);
    // One packet's bytes: they complete the packet before it.
    int32_t SendFtBytes(const uint8_t *data, size_t size);
    void Count(int32_t result);

    std::atomic<bool> finished_{false};
    bool ftPacketOpen_ = false;  // an FT packet awaits the next marker
};

}  // namespace tessaly::play
