// Questions about host windows, asked over one XCB connection that the whole
// library shares. The connection is opened from $DISPLAY on first use; without
// an X server (or after the server went away) every id is "not a window".
// XCB is thread-safe, so any thread may ask.
#pragma once

#include <cstdint>

struct xcb_connection_t;

namespace tessaly::platform {

struct WindowRect {
    int32_t x = 0, y = 0;  // top-left corner in root-window coordinates
    uint32_t width = 0, height = 0;
};

struct WindowState {
    bool exists = false;
    bool viewable = false;  // as IsWindowViewable
    uint32_t width = 0, height = 0;
};

// The shared connection, or null when there is no usable X server.
xcb_connection_t *SharedXConnection();

bool WindowExists(unsigned long window);
// Mapped and all its ancestors mapped.
bool IsWindowViewable(unsigned long window);
// False when the id is not a window.
bool QueryWindowRect(unsigned long window, WindowRect &rect);
// Whether the window exists and is viewable, and its size, in one round trip:
// what a renderer needs before each picture it puts.
WindowState QueryWindowState(unsigned long window);

}  // namespace tessaly::platform
