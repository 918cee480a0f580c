// The host's own windows on the X server named by $DISPLAY, as a monitoring
// client has them: created, moved, resized and destroyed while ports draw
// into them. Safe to use from any thread.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <mutex>
#include <random>
#include <vector>

namespace tessaly::soak {

class HostWindows {
public:
    HostWindows() = default;
    ~HostWindows();
    HostWindows(const HostWindows &) = delete;
    HostWindows &operator=(const HostWindows &) = delete;

    // Connects and makes `count` windows; false (with nothing made) when there is no X server.
    bool Open(int count);
    bool Available() const { return connection_ != nullptr; }

    // One of the windows, or now and then 0 (no window) when that is allowed;
    // 0 without an X server.
    unsigned long Pick(std::mt19937 &random, bool orNone = true);
    // Moves and resizes a window, or destroys one and makes another in its place.
    void Shuffle(std::mt19937 &random);
    // Destroys every window and disconnects.
    void Close();

private:
    xcb_window_t CreateLocked(std::mt19937 &random);

    std::mutex mutex_;
    xcb_connection_t *connection_ = nullptr;
    xcb_screen_t *screen_ = nullptr;
    std::vector<xcb_window_t> windows_;
    uint64_t replaced_ = 0;
};

}  // namespace tessaly::soak
