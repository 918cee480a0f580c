#include "platform/x11_windows.h"

#include <xcb/xcb.h>

#include <pthread.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>

#include "platform/trace.h"

namespace tessaly::platform {
namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

std::mutex connectionMutex;
std::shared_ptr<xcb_connection_t> sharedConnection;  // guarded by connectionMutex

}  // namespace

SigpipeGuard::SigpipeGuard() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &savedMask_);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
}

SigpipeGuard::~SigpipeGuard() {
    sigset_t pending;
    sigpending(&pending);
    // One that was pending before is someone else's; leave it to them.
    if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        const timespec noWait = {0, 0};
        sigtimedwait(&pipe, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &savedMask_, nullptr);
}

std::shared_ptr<xcb_connection_t> SharedXConnection() {
    std::lock_guard<std::mutex> lock(connectionMutex);
    if (sharedConnection && !xcb_connection_has_error(sharedConnection.get())) return sharedConnection;
    if (sharedConnection) {
        Trace("the X server went away; windows are drawn again once given on a server that answers");
        sharedConnection.reset();
    }
    if (!std::getenv("DISPLAY")) return nullptr;
    SigpipeGuard noSigpipe;
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return nullptr;
    }
    // Disconnected when the last renderer drawing over it lets go, or at unload.
    try {
        sharedConnection = std::shared_ptr<xcb_connection_t>(c, xcb_disconnect);
    } catch (...) {
        xcb_disconnect(c);
        throw;
    }
    return sharedConnection;
}

void ReleaseSharedXConnection() {
    std::shared_ptr<xcb_connection_t> released;
    {
        std::lock_guard<std::mutex> lock(connectionMutex);
        released = std::move(sharedConnection);
    }
    // Disconnected here, outside the lock, unless a renderer still holds it.
}

bool WindowExists(unsigned long window) {
    const std::shared_ptr<xcb_connection_t> shared = SharedXConnection();
    xcb_connection_t *c = shared.get();
    const SigpipeGuard noSigpipe;
    if (!c || window == 0 || window > UINT32_MAX) return false;
    Reply<xcb_get_window_attributes_reply_t> reply(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, static_cast<xcb_window_t>(window)), nullptr));
    return reply != nullptr;
}

bool IsWindowViewable(unsigned long window) {
    const std::shared_ptr<xcb_connection_t> shared = SharedXConnection();
    xcb_connection_t *c = shared.get();
    const SigpipeGuard noSigpipe;
    if (!c || window == 0 || window > UINT32_MAX) return false;
    Reply<xcb_get_window_attributes_reply_t> reply(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, static_cast<xcb_window_t>(window)), nullptr));
    return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

bool QueryWindowRect(unsigned long window, WindowRect &rect) {
    const std::shared_ptr<xcb_connection_t> shared = SharedXConnection();
    xcb_connection_t *c = shared.get();
    const SigpipeGuard noSigpipe;
    if (!c || window == 0 || window > UINT32_MAX) return false;
    const auto id = static_cast<xcb_window_t>(window);
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr));
    if (!geometry) return false;
    Reply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, id, geometry->root, 0, 0), nullptr));
    if (!origin) return false;
    rect.x = origin->dst_x;
    rect.y = origin->dst_y;
    rect.width = geometry->width;
    rect.height = geometry->height;
    return true;
}

WindowState QueryWindowState(unsigned long window) {
    const std::shared_ptr<xcb_connection_t> shared = SharedXConnection();
    const SigpipeGuard noSigpipe;
    return QueryWindowState(shared.get(), window);
}

WindowState QueryWindowState(xcb_connection_t *c, unsigned long window) {
    WindowState state;
    if (!c || xcb_connection_has_error(c) || window == 0 || window > UINT32_MAX) return state;
    const auto id = static_cast<xcb_window_t>(window);
    // Both requests go out before either reply is awaited.
    const xcb_get_window_attributes_cookie_t attributesCookie = xcb_get_window_attributes(c, id);
    const xcb_get_geometry_cookie_t geometryCookie = xcb_get_geometry(c, id);
    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(c, attributesCookie, nullptr));
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    if (!attributes || !geometry) return state;
    state.exists = true;
    // The server reports Viewable only when every ancestor is mapped too.
    state.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    state.width = geometry->width;
    state.height = geometry->height;
    return state;
}

}  // namespace tessaly::platform
