// The exported player calls: each runs the guard sequence and hands the work
// to the port's video player.
#include "api/library.h"

using tessaly::api::GuardedPortCall;
using tessaly::api::PlayerPort;
using tessaly::api::TheLibrary;

namespace {

// The open calls' sequence: the guards, the port lock, KOVA_ERR_ALREADY_OPEN,
// then open(video player); on success the callback is stored and, when
// wantsSound() says so, the port's sound started. A failure leaves the port
// closed.
template <typename Open, typename WantsSound>
int32_t OpenPort(uint32_t port, KOVA_DecodedFrameCallback callback, intptr_t user, Open &&open,
                 WantsSound &&wantsSound) {
    auto &lib = TheLibrary();
    if (!lib.initialised.load(std::memory_order_acquire)) return KOVA_ERR_NOT_INITIALISED;
    if (port >= KOVA_MAX_PORTS) return KOVA_ERR_INVALID_ARGUMENT;
    PlayerPort &slot = lib.ports[port];
    tessaly::platform::ScopedLock lock(slot.lock);
    if (slot.opened) return KOVA_ERR_ALREADY_OPEN;
    try {
        // A port without the timer would never play: start it if KOVA_Init could not.
        if (!lib.timer.EnsureRunning()) return KOVA_ERR_MISSING_OBJECT;
        const int32_t rc = open(slot.video);
        if (rc != KOVA_OK) return rc;
        slot.video.SetCallback(callback, user);
        if (wantsSound()) slot.audio.Start();
        slot.opened = 1;
        return KOVA_OK;
    } catch (...) {
        slot.video.Close();
        return KOVA_ERR_MISSING_OBJECT;
    }
}

int32_t OpenStreamPort(uint32_t port, KOVA_HWND window, uint32_t streamKind, uint32_t sound,
                       KOVA_DecodedFrameCallback callback, intptr_t user, bool ffmpeg = false) {
    return OpenPort(
        port, callback, user,
        [&](tessaly::player::VideoPlayer &video) {
            return ffmpeg ? video.OpenStreamFt(window, streamKind) : video.OpenStream(window, streamKind);
        },
        [&] { return sound != 0; });
}

int32_t OpenFilePort(uint32_t port, const char *fileName, KOVA_HWND window, KOVA_RecordFileInfo *info,
                     KOVA_DecodedFrameCallback callback, intptr_t user) {
    return OpenPort(
        port, callback, user,
        [&](tessaly::player::VideoPlayer &video) { return video.OpenFile(fileName, window, info); },
        [&] { return info->audioFlag != 0 && info->audioValue > 0; });
}

}  // namespace

extern "C" {

KOVA_API int32_t KOVA_CALL KOVA_OpenFile(uint32_t port, const char *fileName, KOVA_HWND window,
                                         KOVA_RecordFileInfo *info) {
    return OpenFilePort(port, fileName, window, info, nullptr, 0);
}

KOVA_API int32_t KOVA_CALL KOVA_OpenFileEx(uint32_t port, const char *fileName, KOVA_HWND window,
                                           KOVA_RecordFileInfo *info, KOVA_DecodedFrameCallback callback,
                                           intptr_t user) {
    return OpenFilePort(port, fileName, window, info, callback, user);
}

KOVA_API int32_t KOVA_CALL KOVA_OpenStream(uint32_t port, KOVA_HWND window, uint32_t streamKind, uint32_t sound) {
    return OpenStreamPort(port, window, streamKind, sound, nullptr, 0);
}

KOVA_API int32_t KOVA_CALL KOVA_OpenStreamEx(uint32_t port, KOVA_HWND window, uint32_t streamKind, uint32_t sound,
                                             KOVA_DecodedFrameCallback callback, intptr_t user) {
    return OpenStreamPort(port, window, streamKind, sound, callback, user);
}

KOVA_API int32_t KOVA_CALL KOVA_OpenStream_FT(uint32_t port, KOVA_HWND window, uint32_t streamKind, uint32_t,
                                              KOVA_DecodedFrameCallback callback, intptr_t user) {
    return OpenStreamPort(port, window, streamKind, 0, callback, user, true);
}

KOVA_API int32_t KOVA_CALL KOVA_Close(uint32_t port) {
    return tessaly::api::ClosePort(port, &tessaly::api::Library::ports);
}

KOVA_API int32_t KOVA_CALL KOVA_AddStreamFrame(uint32_t port, uint32_t frameType, const uint8_t *data,
                                               uint32_t length) {
    return GuardedPortCall(port, data != nullptr && length != 0, [&](PlayerPort &slot) -> int32_t {
        switch (frameType) {
        case KOVA_FRAME_VIDEO: return slot.video.SubmitVideo(data, length);
        case KOVA_FRAME_AUDIO: return slot.audio.SubmitFrames(data, length);
        default: return KOVA_ERR_FRAME_TYPE;
        }
    });
}

KOVA_API int32_t KOVA_CALL KOVA_AddStreamData_FT(uint32_t port, uint32_t frameType, const uint8_t *data,
                                                 uint32_t length) {
    return GuardedPortCall(port, data != nullptr && length != 0, [&](PlayerPort &slot) -> int32_t {
        return frameType == KOVA_FRAME_VIDEO ? slot.video.SubmitFtData(data, length, false) : KOVA_ERR_FRAME_TYPE;
    });
}

KOVA_API int32_t KOVA_CALL KOVA_AddStreamData_FT_Raw(uint32_t port, uint32_t frameType, const uint8_t *data,
                                                     uint32_t length) {
    return GuardedPortCall(port, data != nullptr && length != 0, [&](PlayerPort &slot) -> int32_t {
        return frameType == KOVA_FRAME_VIDEO ? slot.video.SubmitFtData(data, length, true) : KOVA_ERR_FRAME_TYPE;
    });
}

KOVA_API int32_t KOVA_CALL KOVA_GetPortStatistics(uint32_t port, KOVA_PortStatistics *stats) {
    return GuardedPortCall(port, stats != nullptr && stats->size >= sizeof(KOVA_PortStatistics),
                           [&](PlayerPort &slot) { return slot.video.GetStatistics(stats); });
}

KOVA_API int32_t KOVA_CALL KOVA_GetStreamBufInfo(uint32_t port, uint32_t *capacity, uint32_t *fill) {
    return GuardedPortCall(port, capacity != nullptr && fill != nullptr,
                           [&](PlayerPort &slot) { return slot.video.GetStreamBufInfo(capacity, fill); });
}

#define TESSALY_PORT_CALL(Name, Method)                                                           \
    KOVA_API int32_t KOVA_CALL Name(uint32_t port) {                                              \
        return GuardedPortCall(port, true, [](PlayerPort &slot) { return slot.video.Method(); }); \
    }
TESSALY_PORT_CALL(KOVA_Play, Play)
TESSALY_PORT_CALL(KOVA_Pause, Pause)
TESSALY_PORT_CALL(KOVA_Stop, Stop)
TESSALY_PORT_CALL(KOVA_NextFrame, NextFrame)
TESSALY_PORT_CALL(KOVA_Slow, Slow)
TESSALY_PORT_CALL(KOVA_Fast, Fast)
#undef TESSALY_PORT_CALL

KOVA_API int32_t KOVA_CALL KOVA_GetSpeed(uint32_t port, int32_t *level) {
    return GuardedPortCall(port, true, [&](PlayerPort &slot) { return slot.video.GetSpeed(level); });
}

KOVA_API int32_t KOVA_CALL KOVA_GetPlayingPos(uint32_t port, uint32_t *thousandths) {
    return GuardedPortCall(port, true, [&](PlayerPort &slot) { return slot.video.GetPlayingPos(thousandths); });
}

KOVA_API int32_t KOVA_CALL KOVA_SetPlayingPos(uint32_t port, uint32_t thousandths) {
    return GuardedPortCall(port, true, [&](PlayerPort &slot) { return slot.video.SetPlayingPos(thousandths); });
}

KOVA_API int32_t KOVA_CALL KOVA_GetPlayingTime(uint32_t port, uint32_t *seconds) {
    return GuardedPortCall(port, true, [&](PlayerPort &slot) { return slot.video.GetPlayingTime(seconds); });
}

}  // extern "C"
