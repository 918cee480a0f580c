#include "host_windows.h"

namespace tessaly::soak {

HostWindows::~HostWindows() { Close(); }

bool HostWindows::Open(int count) {
    std::lock_guard lock(mutex_);
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    connection_ = connection;
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    std::mt19937 random(7);
    for (int k = 0; k < count; ++k) windows_.push_back(CreateLocked(random));
    xcb_flush(connection_);
    return true;
}

xcb_window_t HostWindows::CreateLocked(std::mt19937 &random) {
    const xcb_window_t window = xcb_generate_id(connection_);
    const uint32_t values[] = {screen_->black_pixel};
    const uint16_t width = uint16_t(80 + random() % 400), height = uint16_t(60 + random() % 300);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen_->root, int16_t(random() % 800),
                      int16_t(random() % 600), width, height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual,
                      XCB_CW_BACK_PIXEL, values);
    xcb_map_window(connection_, window);
    return window;
}

unsigned long HostWindows::Pick(std::mt19937 &random, bool orNone) {
    std::lock_guard lock(mutex_);
    if (!connection_ || windows_.empty() || (orNone && random() % 8 == 0)) return 0;
    return windows_[random() % windows_.size()];
}

void HostWindows::Shuffle(std::mt19937 &random) {
    std::lock_guard lock(mutex_);
    if (!connection_ || windows_.empty()) return;
    xcb_window_t &window = windows_[random() % windows_.size()];
    if (random() % 3 == 0) {
        // A port may still draw into it: the library must notice it is gone.
        xcb_destroy_window(connection_, window);
        window = CreateLocked(random);
        ++replaced_;
    } else {
        const uint32_t geometry[] = {uint32_t(random() % 800), uint32_t(random() % 600), uint32_t(16 + random() % 700),
                                     uint32_t(16 + random() % 500)};
        xcb_configure_window(
            connection_, window,
            XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, geometry);
    }
    xcb_flush(connection_);
    // Events and errors are not wanted; drop them so they do not pile up.
    while (xcb_generic_event_t *event = xcb_poll_for_event(connection_)) free(event);
}

void HostWindows::Close() {
    std::lock_guard lock(mutex_);
    if (!connection_) return;
    for (xcb_window_t window : windows_) xcb_destroy_window(connection_, window);
    windows_.clear();
    xcb_flush(connection_);
    xcb_disconnect(connection_);
    connection_ = nullptr;
}

}  // namespace tessaly::soak
