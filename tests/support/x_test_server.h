// A host-side connection to the test X server ($DISPLAY, a private Xvfb).
// Test programs run in parallel against that one server, which can refuse a
// connection for a moment while it is busy: connecting retries for up to a
// second before giving up (the caller still checks for an error).
// PrivateXServer starts an Xvfb of a test's own, which the test may kill.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace tessaly::testsupport {

// display null: $DISPLAY.
inline xcb_connection_t *ConnectToTestServer(const char *display = nullptr) {
    xcb_connection_t *c = xcb_connect(display, nullptr);
    for (int attempt = 0; xcb_connection_has_error(c) && attempt < 50; ++attempt) {
        xcb_disconnect(c);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        c = xcb_connect(display, nullptr);
    }
    return c;
}

// An Xvfb on a display number it picks itself (-displayfd), local sockets only.
class PrivateXServer {
public:
    PrivateXServer() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        // The server writes its display number to the pipe once it accepts clients.
        const int serverEnd = 3;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], serverEnd);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        char *argv[] = {
            const_cast<char *>("Xvfb"),      const_cast<char *>("-displayfd"), const_cast<char *>("3"),
            const_cast<char *>("-screen"),   const_cast<char *>("0"),          const_cast<char *>("640x480x24"),
            const_cast<char *>("-nolisten"), const_cast<char *>("tcp"),        nullptr};
        if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        std::string number;
        pollfd readable = {fds[0], POLLIN, 0};
        char ch = 0;
        while (pid_ > 0 && poll(&readable, 1, 20000) == 1 && read(fds[0], &ch, 1) == 1 && ch != '\n') number += ch;
        close(fds[0]);
        if (!number.empty() && ch == '\n') display_ = ":" + number;
    }
    ~PrivateXServer() { Kill(); }
    PrivateXServer(const PrivateXServer &) = delete;
    PrivateXServer &operator=(const PrivateXServer &) = delete;

    // ":N", or empty when the server did not start.
    const std::string &Display() const { return display_; }

    // Ends the server at once, as a crash would, and clears what it leaves behind.
    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        if (display_.empty()) return;
        const std::string number = display_.substr(1);
        unlink(("/tmp/.X" + number + "-lock").c_str());
        unlink(("/tmp/.X11-unix/X" + number).c_str());
    }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// A host's side of the test server: its own connection, windows made the way
// a host makes them, and the pixels they show, read back.
class XTestHost {
public:
    // display null: $DISPLAY.
    explicit XTestHost(const char *display = nullptr) : connection_(ConnectToTestServer(display)) {
        if (!xcb_connection_has_error(connection_)) screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    }
    ~XTestHost() { xcb_disconnect(connection_); }
    bool Ok() const { return screen_ && !xcb_connection_has_error(connection_) && screen_->root_depth >= 24; }

    // Windows are laid out in rows, left to right, so this program's do not
    // overlap (until the screen is full and the layout starts over).
    // The background is not a picture colour, so an undrawn window is told
    // apart. Other programs' windows may cover ours: with a backing store,
    // what was drawn under them can still be read back.
    uint32_t CreateWindow(uint16_t width, uint16_t height, bool map = true) {
        if (x_ + width > screen_->width_in_pixels) x_ = 0, y_ += rowHeight_ + 10, rowHeight_ = 0;
        if (y_ + height > screen_->height_in_pixels) x_ = y_ = rowHeight_ = 0;
        const uint32_t window = xcb_generate_id(connection_);
        const uint32_t values[] = {0x00336699, XCB_BACKING_STORE_ALWAYS, 1};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen_->root, int16_t(x_), int16_t(y_), width,
                          height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_BACKING_STORE | XCB_CW_OVERRIDE_REDIRECT, values);
        x_ += width + 10;
        rowHeight_ = std::max<int>(rowHeight_, height);
        if (map) xcb_map_window(connection_, window);
        Sync();
        return window;
    }
    // Runs a request on the window (map, unmap, destroy, configure) and waits until the server has done it.
    template <typename Request, typename... Args>
    void Do(Request request, uint32_t window, Args... args) {
        request(connection_, window, args...);
        Sync();
    }
    // The window's pixels as B, G, R (the server's 24-bit true-colour layout); empty when unreadable.
    std::vector<uint8_t> ReadBgr(uint32_t window, uint32_t width, uint32_t height) {
        const std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(
            xcb_get_image_reply(connection_,
                                xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, uint16_t(width),
                                              uint16_t(height), ~0u),
                                nullptr),
            &std::free);
        std::vector<uint8_t> bgr;
        if (!image || image->depth != 24) return bgr;
        const uint8_t *data = xcb_get_image_data(image.get());
        if (size_t(xcb_get_image_data_length(image.get())) != size_t{width} * height * 4) return bgr;
        bgr.resize(size_t{width} * height * 3);
        for (size_t i = 0; i < size_t{width} * height; ++i) std::memcpy(&bgr[i * 3], data + i * 4, 3);
        return bgr;
    }

private:
    void Sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

    xcb_connection_t *connection_;
    xcb_screen_t *screen_ = nullptr;
    int x_ = 0, y_ = 0, rowHeight_ = 0;
};

}  // namespace tessaly::testsupport
