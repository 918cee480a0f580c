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

xcb_connection_t *g_connection = nullptr;
std::once_flag g_connectOnce;

}  // namespace

xcb_connection_t *SharedXConnection() {
    std::call_once(g_connectOnce, [] {
        if (!std::getenv("DISPLAY")) return;
        xcb_connection_t *c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            return;
        }
        g_connection = c;  // lives until the process ends, like the library's other global objects
    });
    if (g_connection && xcb_connection_has_error(g_connection)) return nullptr;
    return g_connection;
}

bool IsWindow(unsigned long window) {
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

bool GetWindowRect(unsigned long window, WindowRect &rect) {
    xcb_connection_t *c = SharedXConnection();
    if (!c || window == 0 || window > UINT32_MAX) return false;
    const auto id = static_cast<xcb_window_t>(window);
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr));
    if (!geometry) return false;
    Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, id, geometry->root, 0, 0), nullptr));
    if (!origin) return false;
    rect.x = origin->dst_x;
    rect.y = origin->dst_y;
    rect.width = geometry->width;
    rect.height = geometry->height;
    return true;
}

}  // namespace tessaly::platform
