#include "platform/x11_windows.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <mutex>

namespace tessaly::platform {
namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t *sharedConnection = nullptr;
std::once_flag connectOnce;

}  // namespace

xcb_connection_t *SharedXConnection() {
    std::call_once(connectOnce, [] {
        if (!std::getenv("DISPLAY")) return;
        xcb_connection_t *c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            return;
        }
        sharedConnection = c;  // lives until the process ends, like the library's other global objects
    });
    if (sharedConnection && xcb_connection_has_error(sharedConnection)) return nullptr;
    return sharedConnection;
}

bool WindowExists(unsigned long window) {
    xcb_connection_t *c = SharedXConnection();
    if (!c || window == 0 || window > UINT32_MAX) return false;
    Reply<xcb_get_window_attributes_reply_t> reply(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, static_cast<xcb_window_t>(window)), nullptr));
    return reply != nullptr;
}

bool IsWindowViewable(unsigned long window) {
    xcb_connection_t *c = SharedXConnection();
    if (!c || window == 0 || window > UINT32_MAX) return false;
    Reply<xcb_get_window_attributes_reply_t> reply(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, static_cast<xcb_window_t>(window)), nullptr));
    return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

bool QueryWindowRect(unsigned long window, WindowRect &rect) {
    xcb_connection_t *c = SharedXConnection();
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
    WindowState state;
    xcb_connection_t *c = SharedXConnection();
    if (!c || window == 0 || window > UINT32_MAX) return state;
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
