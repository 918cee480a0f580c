#include "x11_wall.h"

#include <poll.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tessaly::play {
namespace {

// Keysyms outside Latin-1.
constexpr xcb_keysym_t kLeft = 0xff51, kRight = 0xff53, kKeypadAdd = 0xffab, kKeypadSubtract = 0xffad;

// Grid with at least as many columns as rows: 2 files side by side, 4 as 2x2.
void GridFor(size_t count, uint32_t *columns, uint32_t *rows) {
    *columns = static_cast<uint32_t>(std::ceil(std::sqrt(static_cast<double>(count))));
    *rows = static_cast<uint32_t>((count + *columns - 1) / *columns);
}

// Latin-1 keysyms equal their character codes.
char KeyChar(xcb_keysym_t sym) {
    if (sym >= 'a' && sym <= 'z') return static_cast<char>(sym);
    if (sym >= 'A' && sym <= 'Z') return static_cast<char>(sym - 'A' + 'a');
    switch (sym) {
    case ' ':
    case '.':
    case '+':
    case '-': return static_cast<char>(sym);
    case '=':
    case kKeypadAdd: return '+';
    case kKeypadSubtract: return '-';
    case kLeft: return '<';
    case kRight: return '>';
    default: return 0;
    }
}

}  // namespace

std::unique_ptr<X11Wall> X11Wall::Open(size_t count, uint32_t pictureWidth, uint32_t pictureHeight,
                                       const std::string &title, std::string *error) {
    std::unique_ptr<X11Wall> wall(new X11Wall);
    int screenNumber = 0;
    wall->connection_ = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(wall->connection_)) {
        const char *display = std::getenv("DISPLAY");
        *error = std::string("cannot open display '") + (display ? display : "") + "'";
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(wall->connection_));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    wall->screen_ = screens.data;
    GridFor(count, &wall->columns_, &wall->rows_);

    // Cells at the picture size, scaled down together until the wall fits in
    // nine tenths of the screen.
    const double fitW = 0.9 * wall->screen_->width_in_pixels / (wall->columns_ * std::max(pictureWidth, 16u));
    const double fitH = 0.9 * wall->screen_->height_in_pixels / (wall->rows_ * std::max(pictureHeight, 16u));
    const double scale = std::min({1.0, fitW, fitH});
    const uint32_t cellW = std::max(32u, static_cast<uint32_t>(std::max(pictureWidth, 16u) * scale));
    const uint32_t cellH = std::max(32u, static_cast<uint32_t>(std::max(pictureHeight, 16u) * scale));
    wall->width_ = cellW * wall->columns_;
    wall->height_ = cellH * wall->rows_;

    xcb_connection_t *c = wall->connection_;
    wall->top_ = xcb_generate_id(c);
    const uint32_t topValues[] = {wall->screen_->black_pixel,
                                  XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, wall->top_, wall->screen_->root, 0, 0,
                      static_cast<uint16_t>(wall->width_), static_cast<uint16_t>(wall->height_), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, wall->screen_->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                      topValues);
    wall->SetTitle(title);
    static const char kClass[] = "tessaly-play\0tessaly-play";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, wall->top_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof kClass,
                        kClass);
    wall->wmProtocols_ = wall->Atom("WM_PROTOCOLS");
    wall->wmDeleteWindow_ = wall->Atom("WM_DELETE_WINDOW");
    wall->netWmState_ = wall->Atom("_NET_WM_STATE");
    wall->netWmStateFullscreen_ = wall->Atom("_NET_WM_STATE_FULLSCREEN");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, wall->top_, wall->wmProtocols_, XCB_ATOM_ATOM, 32, 1,
                        &wall->wmDeleteWindow_);

    // The cells take no input: key presses over them reach the top-level.
    const uint32_t cellValues[] = {wall->screen_->black_pixel};
    for (size_t i = 0; i < count; ++i) {
        const xcb_window_t cell = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, cell, wall->top_, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          wall->screen_->root_visual, XCB_CW_BACK_PIXEL, cellValues);
        wall->cells_.push_back(cell);
    }
    wall->Layout(wall->width_, wall->height_);
    xcb_map_subwindows(c, wall->top_);
    xcb_map_window(c, wall->top_);
    wall->LoadKeyMap();
    // A round trip, so the windows exist on the server before the library,
    // on its own connection, is handed their ids.
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (xcb_connection_has_error(c)) {
        *error = "the X server closed the connection";
        return nullptr;
    }
    return wall;
}

void X11Wall::SetTitle(const std::string &title) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, top_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(title.size()), title.data());
    xcb_flush(connection_);
}

X11Wall::~X11Wall() {
    if (!connection_) return;
    if (top_ && !xcb_connection_has_error(connection_)) {
        xcb_destroy_window(connection_, top_);
        xcb_flush(connection_);
    }
    xcb_disconnect(connection_);
}

xcb_atom_t X11Wall::Atom(const char *name) {
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    free(reply);
    return value;
}

void X11Wall::LoadKeyMap() {
    const xcb_setup_t *setup = xcb_get_setup(connection_);
    minKeycode_ = setup->min_keycode;
    const uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    xcb_get_keyboard_mapping_reply_t *reply =
        xcb_get_keyboard_mapping_reply(connection_, xcb_get_keyboard_mapping(connection_, minKeycode_, count), nullptr);
    keyChars_.assign(count, 0);
    if (!reply) return;
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perCode = reply->keysyms_per_keycode;
    const int available = xcb_get_keyboard_mapping_keysyms_length(reply);
    for (int code = 0; code < count && perCode > 0 && (code + 1) * perCode <= available; ++code) {
        // The unshifted symbol first: '+' is often the shifted '=' key, taken for it.
        for (int level = 0; level < std::min(perCode, 2) && !keyChars_[code]; ++level)
            keyChars_[code] = KeyChar(syms[code * perCode + level]);
    }
    free(reply);
}

void X11Wall::Layout(uint32_t width, uint32_t height) {
    width_ = width;
    height_ = height;
    for (size_t i = 0; i < cells_.size(); ++i) {
        const uint32_t column = static_cast<uint32_t>(i % columns_), row = static_cast<uint32_t>(i / columns_);
        const uint32_t x0 = width * column / columns_, x1 = width * (column + 1) / columns_;
        const uint32_t y0 = height * row / rows_, y1 = height * (row + 1) / rows_;
        const uint32_t values[] = {x0, y0, std::max(1u, x1 - x0), std::max(1u, y1 - y0)};
        xcb_configure_window(
            connection_, cells_[i],
            XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
    }
}

void X11Wall::ToggleFullscreen() {
    // The window manager owns the state: ask it (EWMH _NET_WM_STATE, toggle).
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = top_;
    message.type = netWmState_;
    message.data.data32[0] = 2;  // _NET_WM_STATE_TOGGLE
    message.data.data32[1] = netWmStateFullscreen_;
    message.data.data32[3] = 1;  // source: a normal application
    xcb_send_event(connection_, 0, screen_->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
}

bool X11Wall::CellUnderPointer(uint32_t *index) {
    xcb_query_pointer_reply_t *pointer =
        xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, top_), nullptr);
    if (!pointer) return false;
    const bool inside = pointer->same_screen && pointer->win_x >= 0 && pointer->win_y >= 0 &&
                        static_cast<uint32_t>(pointer->win_x) < width_ &&
                        static_cast<uint32_t>(pointer->win_y) < height_;
    const uint32_t column = inside ? pointer->win_x * columns_ / width_ : 0;
    const uint32_t row = inside ? pointer->win_y * rows_ / height_ : 0;
    free(pointer);
    *index = row * columns_ + column;
    return inside && *index < cells_.size();
}

X11Wall::Request X11Wall::Handle(const xcb_generic_event_t *event, uint32_t *port) {
    switch (event->response_type & 0x7f) {
    case XCB_KEY_PRESS: {
        const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
        const size_t slot = static_cast<size_t>(key->detail - minKeycode_);
        const char letter = key->detail >= minKeycode_ && slot < keyChars_.size() ? keyChars_[slot] : 0;
        if (letter == 'q') return Request::kQuit;
        if (letter == 'f') ToggleFullscreen();
        if (letter == 's' && CellUnderPointer(port)) return Request::kSnapshot;
        switch (letter) {
        case ' ': return Request::kTogglePause;
        case '.': return Request::kStep;
        case '+': return Request::kFaster;
        case '-': return Request::kSlower;
        case '<': return Request::kSeekBack;
        case '>': return Request::kSeekForward;
        default: return Request::kNone;
        }
    }
    case XCB_CONFIGURE_NOTIFY: {
        const auto *configure = reinterpret_cast<const xcb_configure_notify_event_t *>(event);
        if (configure->window == top_ && (configure->width != width_ || configure->height != height_)) {
            Layout(configure->width, configure->height);
        }
        return Request::kNone;
    }
    case XCB_CLIENT_MESSAGE: {
        const auto *message = reinterpret_cast<const xcb_client_message_event_t *>(event);
        if (message->type == wmProtocols_ && message->data.data32[0] == wmDeleteWindow_) return Request::kQuit;
        return Request::kNone;
    }
    default: return Request::kNone;
    }
}

X11Wall::Request X11Wall::Pump(int timeoutMs, uint32_t *port) {
    xcb_flush(connection_);
    if (xcb_connection_has_error(connection_)) return Request::kQuit;
    pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
    poll(&fd, 1, timeoutMs);
    Request request = Request::kNone;
    while (xcb_generic_event_t *event = xcb_poll_for_event(connection_)) {
        const Request found = Handle(event, port);
        free(event);
        if (request == Request::kNone) request = found;
        if (request != Request::kNone) break;
    }
    xcb_flush(connection_);
    if (request == Request::kNone && xcb_connection_has_error(connection_)) return Request::kQuit;
    return request;
}

}  // namespace tessaly::play
