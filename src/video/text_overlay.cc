#include "video/text_overlay.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "video/overlay_fonts.h"

namespace tessaly::video {
namespace {

constexpr uint32_t kNoGlyph = UINT32_MAX;

// Sets the ink pixels of glyph `index` at (px, py); the caller has checked
// that the whole glyph lies inside the plane.
void DrawGlyph(uint8_t *luma, uint32_t width, uint32_t px, uint32_t py, const BitmapFont &font, uint32_t index,
               uint8_t colour) {
    const uint32_t rowBytes = (font.width + 7) / 8;
    const uint8_t *bits = font.glyphs + size_t{index} * font.bytesPerGlyph;
    for (uint32_t gy = 0; gy < font.height; ++gy, bits += rowBytes) {
        uint8_t *row = luma + size_t{py + gy} * width + px;
        for (uint32_t gx = 0; gx < font.width; ++gx)
            if (bits[gx / 8] & (0x80u >> (gx % 8))) row[gx] = colour;
    }
}

uint32_t HanziIndex(uint8_t lead, uint8_t trail) {
    if (lead < kHanziFirstLead || lead > kHanziLastLead || trail < kHanziFirstTrail || trail > kHanziLastTrail)
        return kNoGlyph;
    return uint32_t(lead - kHanziFirstLead) * kHanziPerRow + (trail - kHanziFirstTrail);
}

}  // namespace

void DrawOverlayLine(uint8_t *luma, uint32_t width, uint32_t height, const OverlayLine &line) {
    const BitmapFont *ascii = AsciiFont(line.fontSize);
    const BitmapFont *hanzi = HanziFont(line.fontSize);
    if (!ascii || !hanzi || line.x < 0 || line.y < 0) return;
    const auto *text = reinterpret_cast<const uint8_t *>(line.text);
    const size_t length = strnlen(line.text, sizeof line.text);
    const uint64_t y = uint64_t(line.y);
    uint64_t x = uint64_t(line.x);
    for (size_t i = 0; i < length;) {
        const BitmapFont *font = ascii;
        uint32_t index = text[i];
        if (text[i] < 0x80) {
            i += 1;
        } else {
            if (i + 1 >= length) return;
            font = hanzi;
            index = HanziIndex(text[i], text[i + 1]);
            i += 2;
        }
        if (x + font->width > width || y + font->height > height) return;
        if (index < font->count) DrawGlyph(luma, width, uint32_t(x), uint32_t(y), *font, index, line.colour);
        x += font->width;
    }
}

TextOverlay::~TextOverlay() { delete context_.load(std::memory_order_acquire); }

void TextOverlay::Set(const KOVA_TextOsdInput &input) {
    Context *context = context_.load(std::memory_order_acquire);
    if (!context) {
        context = new Context;
        context_.store(context, std::memory_order_release);
    }
    std::lock_guard lock(context->lock);
    bool any = false;
    for (size_t i = 0; i < kLines; ++i) {
        const KOVA_TextOsdLine &in = input.line[i];
        OverlayLine &out = record_[i];
        out = OverlayLine{};
        if (!in.enabled) continue;
        out.enabled = 1;
        any = true;
        out.x = in.x;
        out.y = in.y;
        out.fontSize = in.fontSize;
        std::memcpy(out.text, in.text, strnlen(in.text, sizeof out.text - 1));
    }
    hasLines_.store(any, std::memory_order_relaxed);
}

bool TextOverlay::Render(uint8_t *planarPicture, uint32_t width, uint32_t height, uint8_t *keepLuma) {
    Context *context = context_.load(std::memory_order_acquire);
    if (!context) return false;
    std::lock_guard lock(context->lock);
    const bool any =
        std::any_of(std::begin(record_), std::end(record_), [](const OverlayLine &l) { return l.enabled; });
    if (!any) return false;
    if (keepLuma) std::memcpy(keepLuma, planarPicture, size_t{width} * height);
    for (const OverlayLine &line : record_)
        if (line.enabled) DrawOverlayLine(planarPicture, width, height, line);
    return keepLuma != nullptr;
}

}  // namespace tessaly::video
