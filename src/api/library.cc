// Library lifecycle: the objects that live from load to unload, KOVA_Init and
// KOVA_DeInit.
#include "api/library.h"

#include <chrono>

#include "audio/sdl_audio_system.h"
#include "platform/x11_windows.h"
#include "video/ffmpeg_library.h"

namespace tessaly::api {

Library::Library() {
    for (PlayerPort &port : ports) {
        port.video.AttachTimer(timer);
        port.video.AttachAudio(port.audio);
    }
    for (PlayerPort &port : yuvPorts) port.video.AttachTimer(timer);
}

Library::~Library() {
    KOVA_DeInit();
    voiceCapture.Stop();
    voiceOutput.Stop();
    audio::SdlAudioSystem::Instance().ReleaseAtUnload();
}

Library &TheLibrary() {
    static Library library;
    return library;
}

namespace {
// Construct the library-wide objects when the library is loaded, not at the first call.
[[maybe_unused]] Library &constructedAtLoad = TheLibrary();
}  // namespace

namespace {

void FinishClose(player::VideoPlayer::PendingClose &pending, std::chrono::steady_clock::time_point deadline) {
    try {
        pending.Finish(deadline);
    } catch (...) {
        // Only joining the thread can throw; the port is closed either way.
    }
}

}  // namespace

int32_t ClosePort(uint32_t port, std::array<PlayerPort, KOVA_MAX_PORTS> Library::*table) {
    Library &lib = TheLibrary();
    if (!lib.initialised.load(std::memory_order_acquire)) return KOVA_ERR_NOT_INITIALISED;
    if (port >= KOVA_MAX_PORTS) return KOVA_ERR_INVALID_ARGUMENT;
    PlayerPort &slot = (lib.*table)[port];
    player::VideoPlayer::PendingClose pending;
    {
        platform::ScopedLock lock(slot.lock);
        if (!slot.opened) return KOVA_OK;
        pending = slot.video.BeginClose();
        slot.audio.Stop();
        slot.opened = 0;
    }
    FinishClose(pending, std::chrono::steady_clock::now() + player::VideoPlayer::kCloseTimeout);
    return KOVA_OK;
}

namespace {

// Every open port of both tables is taken out of play first, and then all
// are waited for together, so a closing library waits at most one time-out.
void CloseAllPorts(Library &lib) {
    std::array<player::VideoPlayer::PendingClose, 2 * KOVA_MAX_PORTS> pending;
    size_t count = 0;
    for (auto *table : {&lib.ports, &lib.yuvPorts})
        for (PlayerPort &slot : *table) {
            platform::ScopedLock lock(slot.lock);
            if (!slot.opened) continue;
            pending[count++] = slot.video.BeginClose();
            slot.audio.Stop();
            slot.opened = 0;
        }
    const auto deadline = std::chrono::steady_clock::now() + player::VideoPlayer::kCloseTimeout;
    for (size_t k = 0; k < count; ++k) FinishClose(pending[k], deadline);
}

}  // namespace

}  // namespace tessaly::api

using tessaly::api::TheLibrary;

extern "C" {

KOVA_API int32_t KOVA_CALL KOVA_Init(void) {
    auto &lib = TheLibrary();
    if (lib.initialised.load()) return KOVA_OK;
    tessaly::audio::SdlAudioSystem::Instance().KeepRunning(true);
    try {
        tessaly::video::LoadFfmpeg();  // without it only the FFmpeg path is off
    } catch (...) {
        // Out of memory while looking: the FFmpeg path stays off.
    }
    try {
        lib.timer.Start(2);  // without it the first open tries again
    } catch (...) {}
    lib.initialised.store(1, std::memory_order_release);
    return KOVA_OK;
}

KOVA_API int32_t KOVA_CALL KOVA_DeInit(void) {
    auto &lib = TheLibrary();
    if (!lib.initialised.load()) return KOVA_OK;
    tessaly::api::CloseAllPorts(lib);
    tessaly::platform::ReleaseSharedXConnection();
    lib.timer.Stop();
    tessaly::audio::SdlAudioSystem::Instance().KeepRunning(false);
    lib.initialised.store(0, std::memory_order_release);
    return KOVA_OK;
}

}  // extern "C"
