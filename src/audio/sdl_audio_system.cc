#include "audio/sdl_audio_system.h"

#include <type_traits>

#include <SDL.h>

#include "platform/trace.h"

namespace tessaly::audio {

namespace {
// Constant-initialised and never destroyed (it has nothing to destroy), so it
// is there for every device that closes while the library unloads.
constinit SdlAudioSystem theSystem;
static_assert(std::is_trivially_destructible_v<SdlAudioSystem>);

// SDL keeps per-thread data (its error text, for one) that it frees only for
// threads it created. Host threads come and go in a long-running client, so
// each call frees what SDL left on the calling thread before returning.
struct ThreadDataCleanup {
    ThreadDataCleanup() = default;
    ThreadDataCleanup(const ThreadDataCleanup &) = delete;
    ThreadDataCleanup &operator=(const ThreadDataCleanup &) = delete;
    ~ThreadDataCleanup() { SDL_TLSCleanup(); }
};
}  // namespace

SdlAudioSystem &SdlAudioSystem::Instance() { return theSystem; }

uint32_t SdlAudioSystem::Open(bool capture, uint16_t samples, Callback callback, void *user) {
    const ThreadDataCleanup cleanup;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!running_) {
        // SDL would take over SIGINT and SIGTERM while its audio is up; a
        // library must leave them to the host. A host that set this hint
        // itself keeps its setting.
        SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_DEFAULT);
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            platform::Trace("sound: SDL audio unavailable: %s", SDL_GetError());
            return 0;
        }
        running_ = true;
        everStarted_ = true;
    }
    SDL_AudioSpec want{};
    want.freq = kSampleRate;
    want.format = AUDIO_S16LSB;
    want.channels = 1;
    want.samples = samples;
    want.callback = callback;
    want.userdata = user;
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, capture ? 1 : 0, &want, &have, 0);
    if (device == 0) {
        platform::Trace("sound: no %s device: %s", capture ? "capture" : "playback", SDL_GetError());
        ShutDownIfIdle();
        return 0;
    }
    ++openDevices_;
    lock.unlock();
    // SDL's calls on one device take that device's lock, which its thread
    // holds while it calls us back (and, for capture, the host, who may open
    // or close devices): they are never made under our lock.
    SDL_PauseAudioDevice(device, 0);
    return device;
}

void SdlAudioSystem::Close(uint32_t device) {
    if (device == 0) return;
    const ThreadDataCleanup cleanup;
    SDL_CloseAudioDevice(device);  // counted open until here: SDL stays up meanwhile
    std::lock_guard<std::mutex> lock(mutex_);
    --openDevices_;
    ShutDownIfIdle();
}

void SdlAudioSystem::KeepRunning(bool keep) {
    const ThreadDataCleanup cleanup;
    std::lock_guard<std::mutex> lock(mutex_);
    keep_ = keep;
    ShutDownIfIdle();
}

void SdlAudioSystem::ReleaseAtUnload() {
    const ThreadDataCleanup cleanup;
    std::lock_guard<std::mutex> lock(mutex_);
    keep_ = false;
    ShutDownIfIdle();
    if (everStarted_ && !running_ && SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
}

bool SdlAudioSystem::Running() {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

void SdlAudioSystem::ShutDownIfIdle() {
    if (!running_ || keep_ || openDevices_ > 0) return;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    running_ = false;
    // SDL's connections to the session and system buses (taken for real-time
    // sound threads) are closed only by SDL_Quit; unless the host uses SDL
    // itself, a library that is shut down must not keep them.
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
}

}  // namespace tessaly::audio
