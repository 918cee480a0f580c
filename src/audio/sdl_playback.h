// A sound output: the ring of PCM records its owner writes, and an SDL
// playback device whose thread pulls the records out, in order and whole.
//
// The device thread is the ring's only reader. When the ring runs dry it
// plays silence (never waits), and it starts taking records again only once
// a little more than two device periods are queued (or the queue stopped
// growing), so a writer at real-time pace with some jitter is not chopped
// into records and gaps. Apart from inserted silence the device plays
// exactly the samples written.
#pragma once

#include <cstdint>
#include <memory>

#include "audio/record_ring.h"

namespace tessaly::audio {

class SdlPlayback {
public:
    // The ring: about two seconds of 8 kHz sound, so a camera that sends its
    // sound in bursts loses none of it.
    static constexpr uint32_t kRingBytes = 32768;
    // Samples per device callback: 32.9 ms. SDL's timing drivers (disk,
    // dummy) sleep the whole milliseconds of a period, 32 here, so they run a
    // little fast rather than slow: a sender at real-time pace never builds up
    // a backlog (the device plays a short silence now and then instead).
    static constexpr uint16_t kDeviceSamples = 263;

    SdlPlayback() = default;
    ~SdlPlayback() { Stop(); }
    SdlPlayback(const SdlPlayback &) = delete;
    SdlPlayback &operator=(const SdlPlayback &) = delete;

    // Creates the ring at the first start, opens the default device and starts
    // pulling. False when there is no device: the ring still takes records
    // (and fills up). Starting a running output does nothing.
    bool Start();
    // Closes the device; once this returns nothing reads the ring. Records
    // still queued stay there (see DiscardQueued).
    void Stop();
    bool DeviceOpen() const { return device_ != 0; }

    // Writer side, for the owner.
    uint32_t Write(const void *pcm, uint32_t bytes) { return ring_.Write(pcm, bytes); }
    // Drops every queued record; only while stopped.
    void DiscardQueued() { ring_.Discard(); }

private:
    static void Pull(void *self, uint8_t *out, int bytes);
    void Fill(uint8_t *out, uint32_t bytes);

    RecordRing ring_;
    uint32_t device_ = 0;
    // The device thread's side: the record being played and the priming state.
    std::unique_ptr<uint8_t[]> record_;
    uint32_t recordLength_ = 0;
    uint32_t recordOffset_ = 0;
    bool primed_ = false;
    uint32_t queuedAtLastPull_ = 0;
};

}  // namespace tessaly::audio
