// The exported display calls: moving a port's picture to another window,
// snapshots, the text overlay, and the raw-picture ports of the second port
// table.
#include "api/library.h"

using tessaly::api::GuardedPortCall;
using tessaly::api::Library;
using tessaly::api::PlayerPort;
using tessaly::api::TheLibrary;

extern "C" {

KOVA_API int32_t KOVA_CALL KOVA_SetDisplayWindow(uint32_t port, KOVA_HWND window) {
    return GuardedPortCall(port, true, [&](PlayerPort &slot) { return slot.video.SetDisplayWindow(window); });
}

KOVA_API int32_t KOVA_CALL KOVA_Snapshot(uint32_t port, const char *fileName) {
    return GuardedPortCall(port, fileName != nullptr, [&](PlayerPort &slot) { return slot.video.Snapshot(fileName); });
}

KOVA_API int32_t KOVA_CALL KOVA_SetTextOSD_FT(uint32_t port, const KOVA_TextOsdInput *osd) {
    return GuardedPortCall(port, osd != nullptr, [&](PlayerPort &slot) {
        slot.video.Overlay().Set(*osd);
        return KOVA_OK;
    });
}

KOVA_API int32_t KOVA_CALL KOVA_YUV_Open(uint32_t port, KOVA_HWND window) {
    auto &lib = TheLibrary();
    if (!lib.initialised.load(std::memory_order_acquire)) return KOVA_ERR_NOT_INITIALISED;
    if (port >= KOVA_MAX_PORTS) return KOVA_ERR_INVALID_ARGUMENT;
    PlayerPort &slot = lib.yuvPorts[port];
    tessaly::platform::ScopedLock lock(slot.lock);
    if (slot.opened) return KOVA_ERR_ALREADY_OPEN;
    try {
        const int32_t rc = slot.video.OpenRawPicture(window);
        if (rc == KOVA_OK) slot.opened = 1;
        return rc;
    } catch (...) {
        slot.video.Close();
        return KOVA_ERR_MISSING_OBJECT;
    }
}

KOVA_API int32_t KOVA_CALL KOVA_YUV_Show(uint32_t port, uint32_t format, const uint8_t *data, uint32_t length,
                                         uint32_t width, uint32_t height) {
    return GuardedPortCall(
        port, data != nullptr && length != 0,
        [&](PlayerPort &slot) -> int32_t {
            // The picture must be all there: the planes are read in full.
            if (width == 0 || height == 0 || uint64_t{width} * height * 3 / 2 > length)
                return KOVA_ERR_INVALID_ARGUMENT;
            return slot.video.ShowRawPicture(format, data, width, height);
        },
        &Library::yuvPorts);
}

KOVA_API int32_t KOVA_CALL KOVA_YUV_Close(uint32_t port) { return tessaly::api::ClosePort(port, &Library::yuvPorts); }

}  // extern "C"
