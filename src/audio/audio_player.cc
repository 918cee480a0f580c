#include "audio/audio_player.h"

#include "tessaly/kova.h"

namespace tessaly::audio {

int32_t AudioPlayer::Start() {
    std::lock_guard<std::mutex> lock(lock_);
    if (started_) return KOVA_OK;
    decoder_.Reset();
    output_.Start();  // without a device the player still counts as started
    started_ = true;
    return KOVA_OK;
}

int32_t AudioPlayer::Stop() {
    std::lock_guard<std::mutex> lock(lock_);
    if (!started_) return KOVA_OK;
    started_ = false;
    decoder_.Reset();
    output_.Stop();
    output_.DiscardQueued();
    return KOVA_OK;
}

bool AudioPlayer::Started() {
    std::lock_guard<std::mutex> lock(lock_);
    return started_;
}

int32_t AudioPlayer::SubmitFrame(const uint8_t *frame, uint32_t size) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!started_) return KOVA_ERR_MISSING_OBJECT;
    return SubmitLocked(frame, size);
}

int32_t AudioPlayer::SubmitFrames(const uint8_t *data, uint32_t length) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!started_) return KOVA_ERR_MISSING_OBJECT;
    if (length < 4) return KOVA_ERR_INVALID_ARGUMENT;  // not even a header
    const uint32_t frameBytes = AnnouncedFrameBytes(data);
    if (frameBytes == 0 || length % frameBytes != 0) return KOVA_ERR_INVALID_ARGUMENT;
    for (uint32_t offset = 0; offset + frameBytes <= length; offset += frameBytes) {
        const int32_t result = SubmitLocked(data + offset, frameBytes);
        if (result != KOVA_OK) return result;
    }
    return KOVA_OK;
}

int32_t AudioPlayer::SubmitLocked(const uint8_t *frame, uint32_t size) {
    int16_t samples = 0;
    const int32_t result = decoder_.Decode(frame, size, pcm_, &samples);
    if (result == KOVA_ERR_INVALID_ARGUMENT) return result;
    if (result == KOVA_OK && samples > 0) output_.Write(pcm_, 2u * static_cast<uint32_t>(samples));
    return KOVA_OK;
}

}  // namespace tessaly::audio
