// Library lifecycle: the objects that live from load to unload, KOVA_Init and
// KOVA_DeInit.
#include "api/library.h"

namespace tessaly::api {

Library::Library() {
    for (PlayerPort &port : ports) port.video.AttachTimer(timer);
    for (PlayerPort &port : yuvPorts) port.video.AttachTimer(timer);
}

Library::~Library() { KOVA_DeInit(); }

Library &TheLibrary() {
    static Library library;
    return library;
}

namespace {
// Construct the library-wide objects when the library is loaded, not at the first call.
[[maybe_unused]] Library &g_constructAtLoad = TheLibrary();
}  // namespace

}  // namespace tessaly::api

using tessaly::api::TheLibrary;

extern "C" {

KOVA_API int32_t KOVA_CALL KOVA_Init(void) {
    auto &lib = TheLibrary();
    if (lib.initialised.load()) return KOVA_OK;
    for (auto &port : lib.ports) port.opened = 0;
    lib.timer.Start(2);  // without a timer no port ticks; opens still succeed
    lib.initialised.store(1, std::memory_order_release);
    return KOVA_OK;
}

KOVA_API int32_t KOVA_CALL KOVA_DeInit(void) {
    auto &lib = TheLibrary();
    if (!lib.initialised.load()) return KOVA_OK;
    for (uint32_t port = 0; port < KOVA_MAX_PORTS; ++port)
        if (lib.ports[port].opened) KOVA_Close(port);
    lib.timer.Stop();
    for (uint32_t port = 0; port < KOVA_MAX_PORTS; ++port)
        if (lib.yuvPorts[port].opened) KOVA_YUV_Close(port);
    lib.initialised.store(0, std::memory_order_release);
    return KOVA_OK;
}

}  // extern "C"
