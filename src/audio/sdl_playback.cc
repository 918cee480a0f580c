#include "audio/sdl_playback.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "audio/sdl_audio_system.h"

namespace tessaly::audio {

namespace {

// Ring bytes queued before playing resumes after running dry: two device
// periods of 80-sample records (each 160 bytes plus its 4-byte prefix), and
// one record more.
constexpr uint32_t kPrimeBytes = (2 * SdlPlayback::kDeviceSamples / 80 + 1) * 164;

}  // namespace

bool SdlPlayback::Start() {
    if (device_ != 0) return true;
    if (!ring_.Created()) {
        try {
            record_.reset(new uint8_t[kRingBytes]);
            ring_.Create(kRingBytes);
        } catch (const std::bad_alloc &) {
            return false;  // no ring: every write finds it full
        }
    }
    // The device thread does not exist yet: its state is set up here.
    recordLength_ = recordOffset_ = 0;
    primed_ = false;
    queuedAtLastPull_ = 0;
    device_ = SdlAudioSystem::Instance().Open(false, kDeviceSamples, &SdlPlayback::Pull, this);
    return device_ != 0;
}

void SdlPlayback::Stop() {
    if (device_ == 0) return;
    SdlAudioSystem::Instance().Close(device_);
    device_ = 0;
}

void SdlPlayback::Pull(void *self, uint8_t *out, int bytes) {
    static_cast<SdlPlayback *>(self)->Fill(out, bytes > 0 ? static_cast<uint32_t>(bytes) : 0);
}

void SdlPlayback::Fill(uint8_t *out, uint32_t bytes) {
    uint32_t done = 0;
    while (done < bytes) {
        if (recordOffset_ < recordLength_) {
            const uint32_t n = std::min(bytes - done, recordLength_ - recordOffset_);
            std::memcpy(out + done, record_.get() + recordOffset_, n);
            done += n;
            recordOffset_ += n;
            continue;
        }
        if (!primed_) {
            const uint32_t queued = ring_.UsedBytes();
            // A short burst that stopped growing plays too, rather than wait
            // for more that may never come.
            if (queued < kPrimeBytes && (queued == 0 || queued != queuedAtLastPull_)) {
                queuedAtLastPull_ = queued;
                break;
            }
            primed_ = true;
        }
        uint32_t length = 0;
        if (ring_.Read(record_.get(), &length) != kRingOk) {
            primed_ = false;
            queuedAtLastPull_ = 0;
            break;
        }
        recordLength_ = length;
        recordOffset_ = 0;
    }
    std::memset(out + done, 0, bytes - done);
}

}  // namespace tessaly::audio
