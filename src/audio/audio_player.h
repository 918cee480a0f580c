// The sound of one port (or of the voice output): decodes the G.726 frames a
// camera sends and queues the PCM for the port's sound output.
//
// Every operation takes the player's own lock, so the thread that submits
// frames (the host's, or a file port's reader) may run beside a start or stop
// from another thread. The device thread never takes it: it only reads the
// output's ring.
#pragma once

#include <cstdint>
#include <mutex>

#include "audio/g726_frame_decoder.h"
#include "audio/sdl_playback.h"

namespace tessaly::audio {

class AudioPlayer {
public:
    // Opens the sound output and starts playing; the decoder starts afresh.
    // Succeeds also without a sound device: frames are then decoded into the
    // ring until it is full and dropped after that. Starting a started player
    // does nothing. Returns KOVA_OK.
    int32_t Start();
    // Closes the output and drops what is queued; the decoder starts afresh.
    // Stopping a stopped player does nothing. Returns KOVA_OK.
    int32_t Stop();
    bool Started();

    // One frame of `size` bytes. KOVA_ERR_MISSING_OBJECT while stopped,
    // KOVA_ERR_INVALID_ARGUMENT for a size other than 24 or 44, else KOVA_OK:
    // a frame that does not decode, or finds the ring full, is dropped.
    int32_t SubmitFrame(const uint8_t *frame, uint32_t size);
    // Frames of the size the first header announces, back to back.
    // KOVA_ERR_MISSING_OBJECT while stopped, KOVA_ERR_INVALID_ARGUMENT for a
    // bad size or a length that is not a multiple of it (nothing is queued),
    // else as SubmitFrame.
    int32_t SubmitFrames(const uint8_t *data, uint32_t length);

private:
    int32_t SubmitLocked(const uint8_t *frame, uint32_t size);

    std::mutex lock_;
    bool started_ = false;
    G726FrameDecoder decoder_;
    int16_t pcm_[TQ_VOICE_MAX_SAMPLES];
    SdlPlayback output_;
};

}  // namespace tessaly::audio
