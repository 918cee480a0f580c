// A host-side connection to the test X server ($DISPLAY, a private Xvfb).
// Test programs run in parallel against that one server, which can refuse a
// connection for a moment while it is busy: connecting retries for up to a
// second before giving up (the caller still checks for an error).
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <thread>

namespace tessaly::testsupport {

inline xcb_connection_t *ConnectToTestServer() {
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    for (int attempt = 0; xcb_connection_has_error(c) && attempt < 50; ++attempt) {
        xcb_disconnect(c);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        c = xcb_connect(nullptr, nullptr);
    }
    return c;
}

}  // namespace tessaly::testsupport
