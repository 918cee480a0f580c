// The text overlay's renderer on plain pictures: where the ink lands, where a
// line stops, and the inputs that must draw nothing. Pictures are vectors of
// their exact size, so that a sanitizer build catches a write past them.
#include "video/text_overlay.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "video/overlay_fonts.h"

namespace tessaly::video {
namespace {

constexpr uint8_t kGrey = 128;

struct Picture {
    uint32_t width, height;
    std::vector<uint8_t> pixels;
    Picture(uint32_t w, uint32_t h) : width(w), height(h), pixels(size_t{w} * h * 3 / 2, kGrey) {}
    uint8_t At(uint32_t x, uint32_t y) const { return pixels[size_t{y} * width + x]; }
    bool Untouched() const {
        return std::all_of(pixels.begin(), pixels.end(), [](uint8_t p) { return p == kGrey; });
    }
    // True when every changed luma pixel lies in [left, right) x [top, bottom).
    bool InkWithin(uint32_t left, uint32_t top, uint32_t right, uint32_t bottom) const {
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x)
                if (At(x, y) != kGrey && (x < left || x >= right || y < top || y >= bottom)) return false;
        return true;
    }
};

OverlayLine Line(int32_t x, int32_t y, uint32_t fontSize, const std::string &text) {
    OverlayLine line;
    line.enabled = 1;
    line.x = x;
    line.y = y;
    line.fontSize = fontSize;
    std::memcpy(line.text, text.data(), std::min(text.size(), sizeof line.text));
    return line;
}

Picture Draw(uint32_t width, uint32_t height, const OverlayLine &line) {
    Picture picture(width, height);
    DrawOverlayLine(picture.pixels.data(), width, height, line);
    return picture;
}

// True when the glyph's cell at (px, py) holds exactly its ink, black on grey.
bool CellIsGlyph(const Picture &picture, uint32_t px, uint32_t py, const BitmapFont &font, uint32_t index) {
    const uint8_t *bits = font.glyphs + size_t{index} * font.bytesPerGlyph;
    for (uint32_t gy = 0; gy < font.height; ++gy)
        for (uint32_t gx = 0; gx < font.width; ++gx) {
            const bool ink = bits[gy * ((font.width + 7) / 8) + gx / 8] & (0x80 >> (gx % 8));
            if (picture.At(px + gx, py + gy) != (ink ? 0 : kGrey)) return false;
        }
    return true;
}

size_t InkCount(const BitmapFont &font, uint32_t index) {
    size_t n = 0;
    for (uint32_t b = 0; b < font.bytesPerGlyph; ++b)
        n += __builtin_popcount(font.glyphs[index * font.bytesPerGlyph + b]);
    return n;
}

TEST(OverlayFonts, TablesHoldEveryGlyphAndRealShapes) {
    const uint32_t sizes[3][4] = {{6, 12, 12, 12}, {8, 16, 16, 16}, {12, 24, 24, 24}};
    for (uint32_t s = 0; s < 3; ++s) {
        const BitmapFont &ascii = *AsciiFont(s), &hanzi = *HanziFont(s);
        EXPECT_EQ(ascii.count, 256u);
        EXPECT_EQ(hanzi.count, 87u * 94u);
        EXPECT_EQ(ascii.width, sizes[s][0]);
        EXPECT_EQ(ascii.height, sizes[s][1]);
        EXPECT_EQ(hanzi.width, sizes[s][2]);
        EXPECT_EQ(hanzi.height, sizes[s][3]);
        EXPECT_EQ(InkCount(ascii, ' '), 0u);
        EXPECT_GT(InkCount(ascii, 'A'), ascii.width) << "size " << s;
        EXPECT_GT(InkCount(hanzi, 1410), hanzi.width) << "size " << s << ": B0 A1";
        // A 6-wide glyph uses the high bits of its row bytes only.
        if (ascii.width % 8) {
            const uint32_t rowBytes = (ascii.width + 7) / 8;
            for (uint32_t b = rowBytes - 1; b < ascii.bytesPerGlyph * 256; b += rowBytes)
                ASSERT_EQ(ascii.glyphs[b] & (0xFF >> (ascii.width % 8)), 0) << "byte " << b;
        }
    }
    EXPECT_EQ(AsciiFont(3), nullptr);
    EXPECT_EQ(HanziFont(3), nullptr);
}

TEST(TextOverlayLine, GlyphsLandInTheirCellsAndStopAtTheRightEdge) {
    const BitmapFont &ascii = *AsciiFont(1);
    const Picture left = Draw(352, 288, Line(0, 0, 1, "ABCDEF"));
    EXPECT_TRUE(left.InkWithin(0, 0, 48, 16));
    for (uint32_t k = 0; k < 6; ++k) EXPECT_TRUE(CellIsGlyph(left, 8 * k, 0, ascii, 'A' + k)) << "glyph " << k;
    EXPECT_TRUE(std::all_of(left.pixels.begin() + 352 * 288, left.pixels.end(), [](uint8_t p) { return p == kGrey; }))
        << "chroma untouched";

    // 320 + 4 x 8 = 352: four glyphs fit, the fifth would not.
    const Picture right = Draw(352, 288, Line(320, 100, 1, "ABCDEF"));
    EXPECT_TRUE(CellIsGlyph(right, 344, 100, ascii, 'D'));
    EXPECT_TRUE(right.InkWithin(320, 100, 352, 116));

    const Picture hanzi = Draw(352, 288, Line(10, 20, 1, "\xB0\xA1Z"));
    EXPECT_TRUE(CellIsGlyph(hanzi, 10, 20, *HanziFont(1), 1410));
    EXPECT_TRUE(CellIsGlyph(hanzi, 26, 20, ascii, 'Z')) << "the pen moves 16 after a double-byte glyph";
}

TEST(TextOverlayLine, PairsOutsideTheFontAreBlankAndKeepTheirPlace) {
    const BitmapFont &ascii = *AsciiFont(0);
    // A1 41 (trail too low), F8 A1 (lead past the font), 80 FF: each blank, 12 wide.
    for (const char *pair : {"\xA1\x41", "\xF8\xA1", "\x80\xFF"}) {
        const Picture picture = Draw(120, 40, Line(0, 0, 0, std::string(pair) + "X"));
        EXPECT_TRUE(CellIsGlyph(picture, 12, 0, ascii, 'X')) << "pair " << std::hex << int(uint8_t(pair[0]));
        EXPECT_TRUE(picture.InkWithin(12, 0, 18, 12));
    }
    // A lead byte just before the end: the line ends there, what came before stays.
    const Picture cut = Draw(120, 40, Line(0, 0, 0, "AB\xB0"));
    EXPECT_TRUE(CellIsGlyph(cut, 6, 0, ascii, 'B'));
    EXPECT_TRUE(cut.InkWithin(0, 0, 12, 12));
}

TEST(TextOverlayLine, LinesThatDrawNothing) {
    struct Case {
        const char *what;
        uint32_t width, height;
        OverlayLine line;
    };
    const Case cases[] = {
        {"too low: 280 + 16 > 288", 352, 288, Line(0, 280, 1, "ABC")},
        {"unknown font size", 352, 288, Line(0, 0, 3, "ABC")},
        {"huge font size", 352, 288, Line(0, 0, UINT32_MAX, "ABC")},
        {"negative x", 352, 288, Line(-4, 0, 0, "ABC")},
        {"negative y", 352, 288, Line(0, -1, 0, "ABC")},
        {"far right", 352, 288, Line(INT32_MAX, 0, 0, "ABC")},
        {"far down", 352, 288, Line(0, INT32_MAX, 0, "ABC")},
        {"a picture smaller than a glyph", 4, 4, Line(0, 0, 0, "A\xB0\xA1")},
    };
    for (const Case &c : cases) EXPECT_TRUE(Draw(c.width, c.height, c.line).Untouched()) << c.what;
}

TEST(TextOverlay, SetReplacesAllLinesAndCutsLongTexts) {
    TextOverlay overlay;
    std::vector<uint8_t> kept(800 * 60, 1);
    // Sets the lines (when given) and renders them, keeping the luma plane aside.
    const auto render = [&](const KOVA_TextOsdInput *input, bool expectKept) {
        if (input) overlay.Set(*input);
        Picture picture(800, 60);
        EXPECT_EQ(overlay.Render(picture.pixels.data(), 800, 60, kept.data()), expectKept);
        return picture;
    };
    EXPECT_TRUE(render(nullptr, false).Untouched()) << "nothing before the first Set";

    KOVA_TextOsdInput input{};
    input.line[2].enabled = 7;
    std::memset(input.line[2].text, 'H', sizeof input.line[2].text);  // no terminator at all
    input.line[3].y = 30;
    std::strcpy(input.line[3].text, "disabled");
    const Picture cut = render(&input, true);
    EXPECT_TRUE(CellIsGlyph(cut, 126 * 6, 0, *AsciiFont(0), 'H'));
    EXPECT_TRUE(cut.InkWithin(0, 0, 127 * 6, 12)) << "127 glyphs, the disabled line absent";
    EXPECT_TRUE(std::all_of(kept.begin(), kept.end(), [](uint8_t p) { return p == kGrey; })) << "the luma as it was";

    KOVA_TextOsdInput moved{};
    moved.line[0].enabled = 1;
    moved.line[0].y = 40;
    std::strcpy(moved.line[0].text, "OK");
    const Picture after = render(&moved, true);
    EXPECT_TRUE(CellIsGlyph(after, 0, 40, *AsciiFont(0), 'O'));
    EXPECT_TRUE(after.InkWithin(0, 40, 12, 52)) << "the earlier lines are gone";

    const KOVA_TextOsdInput none{};
    EXPECT_TRUE(render(&none, false).Untouched());
    EXPECT_FALSE(overlay.HasLines());
}

}  // namespace
}  // namespace tessaly::video
