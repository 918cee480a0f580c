// SDL's audio subsystem, shared by every playback and capture device of the
// library. SDL is brought up lazily, when the first device opens; bringing it
// up or down and opening devices happen under one lock (SDL does not promise
// that several threads may do that at once). While the
// library is initialised SDL stays up between devices; otherwise it is shut
// down as the last device closes, so an idle library leaves no SDL thread.
//
// SDL's initialisation is reference-counted, so a host that uses SDL itself
// is not disturbed.
#pragma once

#include <cstdint>
#include <mutex>

namespace tessaly::audio {

// Every device runs 8 kHz, mono, signed 16-bit; SDL converts for the hardware.
constexpr int kSampleRate = 8000;

class SdlAudioSystem {
public:
    using Callback = void (*)(void *user, uint8_t *samples, int bytes);

    // The one instance; never destroyed, so devices may close during unload.
    static SdlAudioSystem &Instance();

    constexpr SdlAudioSystem() = default;

    // Opens the default playback (or capture) device with `samples` samples
    // per callback and lets it run: `callback` may be called before this
    // returns. Returns the device, or 0 when there is none (no driver, no
    // device, or the format refused).
    uint32_t Open(bool capture, uint16_t samples, Callback callback, void *user);
    // Closes a device: once this returns its callback has finished for good.
    void Close(uint32_t device);

    // The library keeps SDL up while initialised (true); false shuts SDL down
    // now if no device is open.
    void KeepRunning(bool keep);

    // At unload, with every device closed: when nothing else in the process
    // uses SDL, lets SDL free what it keeps beyond its subsystems (its hints
    // and their callbacks), which would otherwise be lost with its code.
    void ReleaseAtUnload();

    // Whether SDL's audio is up now (for tests of the lifecycle).
    bool Running();

private:
    void ShutDownIfIdle();

    std::mutex mutex_;
    bool running_ = false;
    bool everStarted_ = false;
    bool keep_ = false;
    int openDevices_ = 0;
};

}  // namespace tessaly::audio
