// The library-wide objects, constructed when the library is loaded and
// destroyed when it is unloaded, and the guard sequence every port call runs.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "audio/audio_player.h"
#include "audio/g726_frame_decoder.h"
#include "audio/sdl_capture.h"
#include "platform/recursive_lock.h"
#include "player/playback_timer.h"
#include "player/video_player.h"
#include "recfile/record_reader.h"
#include "tessaly/kova.h"

namespace tessaly::api {

struct PlayerPort {
    int32_t opened = 0;
    player::VideoPlayer video;
    audio::AudioPlayer audio;  // the port's sound; unused by raw-picture ports
    platform::RecursiveLock lock;
};

struct Library {
    Library();
    ~Library();  // unloading runs KOVA_DeInit

    // Constructed first and destroyed last: every port refers to it.
    player::PlaybackTimer timer;
    std::array<PlayerPort, KOVA_MAX_PORTS> ports;
    // Raw-picture ports: the same port numbers, independent of the player ports.
    std::array<PlayerPort, KOVA_MAX_PORTS> yuvPorts;
    std::atomic<int32_t> initialised{0};

    // Two-way voice and the decoders for hosts that play sound themselves:
    // library-wide, usable without KOVA_Init. Each player has its own lock.
    audio::AudioPlayer voiceOutput;
    audio::SdlCapture voiceCapture;
    std::array<audio::G726FrameDecoder, 64> decodeBank;

    // The record-file frame readers: numbered as ports, independent of them;
    // KOVA_DeInit leaves them open.
    std::array<recfile::ReaderSlot, KOVA_MAX_PORTS> readers;
};

Library &TheLibrary();

// Runs body(port) under the guard sequence: KOVA_ERR_NOT_INITIALISED before
// initialisation, KOVA_ERR_INVALID_ARGUMENT for a port above 255 (or when
// argumentsOk is false; both before the lock), the port lock for the call,
// KOVA_ERR_NOT_OPEN when the port is not open. No exception leaves: any (a
// failed allocation most likely) is KOVA_ERR_MISSING_OBJECT.
template <typename Body>
int32_t GuardedPortCall(uint32_t port, bool argumentsOk, Body &&body,
                        std::array<PlayerPort, KOVA_MAX_PORTS> Library::*table = &Library::ports) {
    Library &lib = TheLibrary();
    if (!lib.initialised.load(std::memory_order_acquire)) return KOVA_ERR_NOT_INITIALISED;
    if (port >= KOVA_MAX_PORTS || !argumentsOk) return KOVA_ERR_INVALID_ARGUMENT;
    PlayerPort &slot = (lib.*table)[port];
    platform::ScopedLock lock(slot.lock);
    if (!slot.opened) return KOVA_ERR_NOT_OPEN;
    try {
        return body(slot);
    } catch (...) {
        return KOVA_ERR_MISSING_OBJECT;
    }
}

// Closes one port of the table: takes it out of play under its lock, then
// waits for its worker without the lock, so that calls the worker's callback
// makes into the port meanwhile are answered (the port is closed by then)
// instead of waiting for the close. KOVA_OK, KOVA_ERR_NOT_INITIALISED or
// KOVA_ERR_INVALID_ARGUMENT.
int32_t ClosePort(uint32_t port, std::array<PlayerPort, KOVA_MAX_PORTS> Library::*table);

}  // namespace tessaly::api
