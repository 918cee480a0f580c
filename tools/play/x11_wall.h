// The video wall: one top-level X11 window holding a grid of child windows,
// one per port, which the library draws into. Handles the keys (q, s, f),
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
  enum class Request { kNone, kQuit, kSnapshot };

  // Opens the display named by $DISPLAY and maps the wall, `count` cells of
  // pictures `picture_width` x `picture_height` (shrunk to fit the screen).
  static std::unique_ptr<X11Wall> open(size_t count, uint32_t picture_width, uint32_t picture_height,
                                       const std::string &title, std::string *error);
  ~X11Wall();
  X11Wall(const X11Wall &) = delete;
  X11Wall &operator=(const X11Wall &) = delete;

  unsigned long cell_window(size_t index) const { return cells_[index]; }

  // Handles the events that arrive within `timeout_ms`. Returns the first
  // request found; for kSnapshot `port` is the cell under the pointer.
  Request pump(int timeout_ms, uint32_t *port);

 private:
  X11Wall() = default;
  void layout(uint32_t width, uint32_t height);
  void toggle_fullscreen();
  bool cell_under_pointer(uint32_t *index);
  xcb_atom_t atom(const char *name);
  void load_key_map();
  Request handle(const xcb_generic_event_t *event, uint32_t *port);

  xcb_connection_t *connection_ = nullptr;
  xcb_screen_t *screen_ = nullptr;
  xcb_window_t top_ = 0;
  std::vector<xcb_window_t> cells_;
  uint32_t columns_ = 1, rows_ = 1;
  uint32_t width_ = 0, height_ = 0;
  xcb_atom_t wm_protocols_ = 0, wm_delete_window_ = 0, net_wm_state_ = 0, net_wm_state_fullscreen_ = 0;
  std::vector<char> key_chars_;  // keycode -> lower-case letter or 0
  uint8_t min_keycode_ = 0;
};

}  // namespace tessaly::play
