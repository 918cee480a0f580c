#include "video/overlay_fonts.h"

#include <array>

// The tables and their ends, from fonts/overlay_fonts.S.
extern "C" {
#define TESSALY_OVERLAY_TABLE(name) extern const uint8_t tessaly_overlay_##name[], tessaly_overlay_##name##_end[];
TESSALY_OVERLAY_TABLE(ascii_6x12)
TESSALY_OVERLAY_TABLE(ascii_8x16)
TESSALY_OVERLAY_TABLE(ascii_12x24)
TESSALY_OVERLAY_TABLE(hanzi_12x12)
TESSALY_OVERLAY_TABLE(hanzi_16x16)
TESSALY_OVERLAY_TABLE(hanzi_24x24)
#undef TESSALY_OVERLAY_TABLE
}

namespace tessaly::video {
namespace {

BitmapFont MakeFont(const uint8_t *begin, const uint8_t *end, uint32_t width, uint32_t height) {
    const uint32_t bytesPerGlyph = (width + 7) / 8 * height;
    return {begin, width, height, bytesPerGlyph, static_cast<uint32_t>((end - begin) / bytesPerGlyph)};
}

#define TESSALY_FONT(name, width, height) MakeFont(tessaly_overlay_##name, tessaly_overlay_##name##_end, width, height)

const std::array<BitmapFont, 3> kAsciiFonts = {TESSALY_FONT(ascii_6x12, 6, 12), TESSALY_FONT(ascii_8x16, 8, 16),
                                               TESSALY_FONT(ascii_12x24, 12, 24)};
const std::array<BitmapFont, 3> kHanziFonts = {TESSALY_FONT(hanzi_12x12, 12, 12), TESSALY_FONT(hanzi_16x16, 16, 16),
                                               TESSALY_FONT(hanzi_24x24, 24, 24)};

#undef TESSALY_FONT

}  // namespace

const BitmapFont *AsciiFont(uint32_t fontSize) {
    return fontSize < kAsciiFonts.size() ? &kAsciiFonts[fontSize] : nullptr;
}

const BitmapFont *HanziFont(uint32_t fontSize) {
    return fontSize < kHanziFonts.size() ? &kHanziFonts[fontSize] : nullptr;
}

}  // namespace tessaly::video
