#include "audio/sdl_capture.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "audio/sdl_audio_system.h"

namespace tessaly::audio {

int32_t SdlCapture::Start(KOVA_VoiceFrameCallback callback) {
    if (OnDeviceThread()) return KOVA_OK;
    std::lock_guard<std::mutex> lock(lock_);
    if (device_ != 0) return KOVA_OK;
    codec_.SetMode(TQ_VOICE_MODE_G726_32K);
    filled_ = 0;
    gate_.Reopen();
    // Set before the device runs, so the recording is delivered from its
    // first block on.
    callback_.store(callback, std::memory_order_release);
    device_ = SdlAudioSystem::Instance().Open(true, kBlockSamples, &SdlCapture::Push, this);
    if (device_ == 0) {
        callback_.store(nullptr, std::memory_order_release);
        return KOVA_ERR_CAPTURE;
    }
    return KOVA_OK;
}

int32_t SdlCapture::Stop() {
    if (OnDeviceThread()) {
        callback_.store(nullptr, std::memory_order_release);
        return KOVA_OK;
    }
    std::lock_guard<std::mutex> lock(lock_);
    if (device_ == 0) return KOVA_OK;
    // A function still running may be opening or closing a device itself,
    // which needs what closing ours holds: let it return first. One stuck for
    // good only delays the close.
    gate_.Close(std::chrono::steady_clock::now() + std::chrono::seconds(10));
    SdlAudioSystem::Instance().Close(device_);
    device_ = 0;
    deviceThread_.store(std::thread::id(), std::memory_order_relaxed);
    callback_.store(nullptr, std::memory_order_release);
    codec_.SetMode(TQ_VOICE_MODE_G726_16K);
    return KOVA_OK;
}

void SdlCapture::Push(void *self, uint8_t *samples, int bytes) {
    static_cast<SdlCapture *>(self)->Record(samples, bytes > 0 ? static_cast<uint32_t>(bytes) : 0);
}

void SdlCapture::Record(const uint8_t *samples, uint32_t bytes) {
    deviceThread_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    const uint32_t count = bytes / 2;
    for (uint32_t taken = 0; taken < count;) {
        const uint32_t n = std::min<uint32_t>(count - taken, kBlockSamples - filled_);
        std::memcpy(block_ + filled_, samples + 2 * taken, 2 * n);
        filled_ += static_cast<int>(n);
        taken += n;
        if (filled_ < kBlockSamples) break;
        filled_ = 0;
        uint32_t frameBytes = 0;
        if (codec_.Encode(block_, kBlockSamples, frame_, &frameBytes) != TQ_VOICE_OK) continue;
        const KOVA_VoiceFrameCallback callback = callback_.load(std::memory_order_acquire);
        if (callback == nullptr || !gate_.Enter()) continue;
        try {
            callback(frame_, frameBytes);
        } catch (...) {
            // A C++ host function that throws must not unwind into SDL's thread.
        }
        gate_.Leave();
    }
}

}  // namespace tessaly::audio
