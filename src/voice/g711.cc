#include "voice/g711.h"

#include <array>

namespace tessaly::voice {
namespace {

// Smallest segment whose upper bound holds v; 8 when none does.
constexpr int Segment(int v, const std::array<int, 8> &bounds) {
    for (int seg = 0; seg < 8; ++seg)
        if (v <= bounds[seg]) return seg;
    return 8;
}

constexpr std::array<int, 8> kAlawBounds = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
constexpr std::array<int, 8> kUlawBounds = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};

constexpr int16_t AlawExpand(uint8_t code) {
    const int c = code ^ 0x55;
    const int segment = (c >> 4) & 7;
    int t = (c & 0x0F) << 4;
    if (segment == 0)
        t += 8;
    else if (segment == 1)
        t += 0x108;
    else
        t = (t + 0x108) << (segment - 1);
    return static_cast<int16_t>((c & 0x80) ? t : -t);
}

constexpr int16_t UlawExpand(uint8_t code) {
    const int c = ~code & 0xFF;
    const int t = (((c & 0x0F) << 3) + 0x84) << ((c >> 4) & 7);
    return static_cast<int16_t>((c & 0x80) ? 0x84 - t : t - 0x84);
}

template <int16_t (*Expand)(uint8_t)>
constexpr std::array<int16_t, 256> BuildTable() {
    std::array<int16_t, 256> table{};
    for (int code = 0; code < 256; ++code) table[code] = Expand(static_cast<uint8_t>(code));
    return table;
}

}  // namespace

uint8_t AlawEncode(int16_t sample) {
    int v = sample >> 3;  // the 13 most significant bits are coded
    int mask = 0xD5;
    if (v < 0) {
        mask = 0x55;
        v = -v - 1;  // one's complement magnitude: x and -x-1 code alike
    }
    const int seg = Segment(v, kAlawBounds);
    if (seg >= 8) return static_cast<uint8_t>(0x7F ^ mask);
    const int mantissa = (v >> (seg < 2 ? 1 : seg)) & 0x0F;
    return static_cast<uint8_t>(((seg << 4) | mantissa) ^ mask);
}

uint8_t UlawEncode(int16_t sample) {
    int v = sample >> 2;  // the 14 most significant bits are coded
    int mask = 0xFF;
    if (v < 0) {
        mask = 0x7F;
        v = -v;
    }
    v = (v < 8159 ? v : 8159) + 33;
    const int seg = Segment(v, kUlawBounds);
    if (seg >= 8) return static_cast<uint8_t>(0x7F ^ mask);
    return static_cast<uint8_t>(((seg << 4) | ((v >> (seg + 1)) & 0x0F)) ^ mask);
}

const std::array<int16_t, 256> kAlawDecode = BuildTable<AlawExpand>();
const std::array<int16_t, 256> kUlawDecode = BuildTable<UlawExpand>();

}  // namespace tessaly::voice
