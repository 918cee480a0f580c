// The video wall: one top-level X11 window holding a grid of child windows,
// one per port, which the library draws into. Handles the keys (q, s, f and
// the record file controls: space . + - Left Right),
// resizing (the children follow the top-level size) and the window manager's
// close button.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <xcb/xcb.h>

namespace tessaly::play {

class X11Wall {
public:
    enum class Request {
        kNone,
        kQuit,
        kSnapshot,
        kTogglePause,
        kStep,
        kFaster,
        kSlower,
        kSeekBack,
        kSeekForward,
    };

    // Opens the display named by $DISPLAY and maps the wall, `count` cells of
    // pictures `pictureWidth` x `pictureHeight` (shrunk to fit the screen).
    static std::unique_ptr<X11Wall> Open(size_t count, uint32_t pictureWidth, uint32_t pictureHeight,
                                         const std::string &title, std::string *error);
    ~X11Wall();
    X11Wall(const X11Wall &) = delete;
    X11Wall &operator=(const X11Wall &) = delete;

    unsigned long CellWindow(size_t index) const { return cells_[index]; }
    void SetTitle(const std::string &title);

    // Handles the events that arrive within `timeoutMs`. Returns the first
    // request found; for kSnapshot `port` is the cell under the pointer.
    Request Pump(int timeoutMs, uint32_t *port);

private:
    X11Wall() = default;
    void Layout(uint32_t width, uint32_t height);
    void ToggleFullscreen();
    bool CellUnderPointer(uint32_t *index);
    xcb_atom_t Atom(const char *name);
    void LoadKeyMap();
    Request Handle(const xcb_generic_event_t *event, uint32_t *port);

    xcb_connection_t *connection_ = nullptr;
    xcb_screen_t *screen_ = nullptr;
    xcb_window_t top_ = 0;
    std::vector<xcb_window_t> cells_;
    uint32_t columns_ = 1, rows_ = 1;
    uint32_t width_ = 0, height_ = 0;
    xcb_atom_t wmProtocols_ = 0, wmDeleteWindow_ = 0, netWmState_ = 0, netWmStateFullscreen_ = 0;
    std::vector<char> keyChars_;  // keycode -> lower-case letter, one of " .+-<>" (< > the arrows) or 0
    uint8_t minKeycode_ = 0;
};

}  // namespace tessaly::play
