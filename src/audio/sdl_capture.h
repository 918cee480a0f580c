// Voice capture: the default SDL capture device, 8 kHz mono 16-bit; every 480
// samples recorded (60 ms) become one G.726 32 kbit/s voice frame of 244
// bytes, handed to the host's function on the device thread. The encoder
// carries its state from block to block and starts afresh at every start.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "audio/voice_codec_state.h"
#include "platform/callback_gate.h"
#include "tessaly/kova.h"

namespace tessaly::audio {

class SdlCapture {
public:
    static constexpr int kBlockSamples = 480;

    SdlCapture() = default;
    ~SdlCapture() { Stop(); }
    SdlCapture(const SdlCapture &) = delete;
    SdlCapture &operator=(const SdlCapture &) = delete;

    // Starts recording to `callback` (may be null: frames are encoded and
    // dropped). While recording already (also from the function itself),
    // returns KOVA_OK and keeps the first function. KOVA_ERR_CAPTURE when no
    // capture device opens.
    int32_t Start(KOVA_VoiceFrameCallback callback);
    // Stops recording; once this returns the function is not called again.
    // KOVA_OK, also when not recording. Called from the function itself (the
    // device thread cannot wait for its own end) it only stops the delivery;
    // the device closes at the next stop from another thread.
    //
    // The host's function may call into the library, which may open or close
    // sound devices; so the device is closed (its thread joined) only after
    // the function has returned for the last time.
    int32_t Stop();

private:
    bool OnDeviceThread() const { return std::this_thread::get_id() == deviceThread_.load(std::memory_order_relaxed); }
    static void Push(void *self, uint8_t *samples, int bytes);
    void Record(const uint8_t *samples, uint32_t bytes);

    std::mutex lock_;
    uint32_t device_ = 0;
    std::atomic<KOVA_VoiceFrameCallback> callback_{nullptr};
    std::atomic<std::thread::id> deviceThread_{};
    platform::CallbackGate gate_;
    // The device thread's side.
    VoiceCodecState codec_;
    int16_t block_[kBlockSamples] = {};
    int filled_ = 0;
    uint8_t frame_[TQ_VOICE_MAX_FRAME_BYTES] = {};
};

}  // namespace tessaly::audio
