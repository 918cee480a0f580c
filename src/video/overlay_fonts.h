// The text overlay's bitmap fonts: per font size one single-byte font (256
// glyphs in byte order) and one GB2312 double-byte font (87 x 94 glyphs). A
// glyph is its rows top to bottom, each row (width + 7) / 8 bytes, the most
// significant bit of a row's first byte its leftmost pixel, a set bit ink.
#pragma once

#include <cstdint>

namespace tessaly::video {

struct BitmapFont {
    const uint8_t *glyphs;
    uint32_t width, height;
    uint32_t bytesPerGlyph;
    uint32_t count;  // glyphs the table holds
};

// The GB2312 double-byte range the double-byte fonts cover.
constexpr uint8_t kHanziFirstLead = 0xA1, kHanziLastLead = 0xF7;
constexpr uint8_t kHanziFirstTrail = 0xA1, kHanziLastTrail = 0xFE;
constexpr uint32_t kHanziPerRow = kHanziLastTrail - kHanziFirstTrail + 1;

// Font size 0: 6 x 12 and 12 x 12, 1: 8 x 16 and 16 x 16, 2: 12 x 24 and
// 24 x 24; null for any other size.
const BitmapFont *AsciiFont(uint32_t fontSize);
const BitmapFont *HanziFont(uint32_t fontSize);

}  // namespace tessaly::video
