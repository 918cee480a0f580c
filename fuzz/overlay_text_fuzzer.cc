// The text overlay walks host text byte by byte over glyph tables and into the
// picture: random lines on small pictures must never read past the text or a
// table, nor write outside the picture's luma plane, and must leave chroma as
// it was.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tessaly/kova.h"
#include "video/text_overlay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Two bytes of picture size, then the lines as the host passes them.
    if (size < 2) return 0;
    const uint32_t width = 2 + data[0] % 96, height = 2 + data[1] % 64;
    data += 2;
    size -= 2;
    KOVA_TextOsdInput input{};
    std::memcpy(&input, data, std::min(size, sizeof input));
    // Coordinates near the picture, so that the edges are reached often.
    for (KOVA_TextOsdLine &line : input.line) {
        line.x = int32_t(uint32_t(line.x) % 128) - 16;
        line.y = int32_t(uint32_t(line.y) % 96) - 16;
        line.fontSize %= 4;
    }
    const size_t area = size_t{width} * height;
    // Exactly the picture, so that any write past it is caught.
    std::vector<uint8_t> picture(area + 2 * ((width / 2) * (height / 2)), 0x55);
    tessaly::video::TextOverlay overlay;
    overlay.Set(input);
    overlay.Render(picture.data(), width, height);
    for (size_t i = area; i < picture.size(); ++i)
        if (picture[i] != 0x55) __builtin_trap();
    return 0;
}
