// Questions about host windows, asked over one XCB connection that the whole
// library shares. The connection is opened from $DISPLAY on first use; without
// an X server every id is "not a window". Once the server has gone away the
// next question opens a fresh connection from $DISPLAY as it is then, while
// renderers still drawing over the old one keep it until they let go.
// XCB is thread-safe, so any thread may ask.
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>

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
std::shared_ptr<xcb_connection_t> SharedXConnection();
// Lets go of the shared connection (renderers that still hold it keep it
// until they let go): a library that is shut down holds no connection.
void ReleaseSharedXConnection();

// XCB writes to its socket without MSG_NOSIGNAL. It reads before it writes, so
// a server that has gone is normally noticed first, but one that dies between
// the two would raise SIGPIPE, which ends a host that keeps the default
// action. While one of these lives, a SIGPIPE this thread raises is held back
// and then dropped; the thread's signal mask is restored.
class SigpipeGuard {
public:
    SigpipeGuard();
    ~SigpipeGuard();
    SigpipeGuard(const SigpipeGuard &) = delete;
    SigpipeGuard &operator=(const SigpipeGuard &) = delete;

private:
    sigset_t savedMask_;
    bool wasPending_ = false;
};

bool WindowExists(unsigned long window);
// Mapped and all its ancestors mapped.
bool IsWindowViewable(unsigned long window);
// False when the id is not a window.
bool QueryWindowRect(unsigned long window, WindowRect &rect);
// Whether the window exists and is viewable, and its size, in one round trip:
// what a renderer needs before each picture it puts (over the connection it
// draws with, which may no longer be the shared one).
WindowState QueryWindowState(unsigned long window);
WindowState QueryWindowState(xcb_connection_t *connection, unsigned long window);

}  // namespace tessaly::platform
