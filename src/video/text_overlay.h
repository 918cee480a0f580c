// A port's text overlay: up to four lines of black bitmap text drawn into the
// luma plane of each frame picture the port shows (see KOVA_SetTextOSD_FT).
//
// The overlay lives as long as its port, across closes and re-opens. Its lock
// is a leaf: taken by the host's call under the port lock and by the decoding
// thread under the DecoderLock, and nothing is locked while it is held.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "tessaly/kova.h"

namespace tessaly::video {

// One line of the overlay record.
struct OverlayLine {
    uint8_t enabled = 0;
    int32_t x = 0, y = 0;
    uint32_t fontSize = 0;
    uint8_t colour = 0;  // the luma value of ink
    char text[128] = {};
};

// Draws one line into a width x height luma plane (rows of width bytes),
// whether or not it is enabled. The pen starts at (x, y) and moves right;
// the line stops at the first character that does not fit whole, at the
// terminating zero or at the end of the text buffer. A byte below 128 is a
// single-byte glyph; a byte from 128 on starts a double-byte character with
// the next one (a lead byte just before the end of the text ends the line),
// and a pair outside GB2312's 0xA1..0xF7 x 0xA1..0xFE is drawn blank: the pen
// moves on by a double-byte width, so that the rest of the line keeps its
// place. A line starting left of or above the picture draws nothing, as does
// a font size without fonts.
void DrawOverlayLine(uint8_t *luma, uint32_t width, uint32_t height, const OverlayLine &line);

class TextOverlay {
public:
    static constexpr size_t kLines = 4;

    TextOverlay() = default;
    ~TextOverlay();
    TextOverlay(const TextOverlay &) = delete;
    TextOverlay &operator=(const TextOverlay &) = delete;

    // Replaces all four lines with the input's enabled ones (texts cut to 127
    // bytes). The first call creates the overlay's lock and state and may
    // throw std::bad_alloc; callers of one overlay are serialised (the port
    // lock).
    void Set(const KOVA_TextOsdInput &input);

    // True when a line is enabled (a hint: a Set may change it meanwhile).
    bool HasLines() const { return hasLines_.load(std::memory_order_relaxed); }

    // Draws the enabled lines, in order, into a contiguous planar 4:2:0
    // picture whose luma plane comes first; chroma is left as it is. Does
    // nothing before the first Set. With keepLuma, the luma plane as it was
    // is first copied there (width x height bytes) when a line is enabled;
    // true when it was.
    bool Render(uint8_t *planarPicture, uint32_t width, uint32_t height, uint8_t *keepLuma = nullptr);

private:
    struct Context {
        std::mutex lock;
    };
    std::atomic<Context *> context_{nullptr};
    std::atomic<bool> hasLines_{false};
    OverlayLine record_[kLines];  // guarded by the context's lock
};

}  // namespace tessaly::video
