#include "h264dec/picture/field_merge.h"

#include <cstring>

namespace tessaly::h264 {

void FieldMerge(const Picture &p, const MergeTarget &t) {
    const size_t lumaBytes = size_t(p.width) * p.height;
    std::memcpy(t.y, p.y, lumaBytes);
    for (size_t i = 0; i < lumaBytes; ++i)
        if (t.history[i] < 3) ++t.history[i];
    const uint32_t cw = p.width / 2, ch = p.height / 2;
    // Field pairs: each chroma line of the top field is written twice, so
    // colour never mixes the two instants of a field pair.
    const bool doubleLines = p.interlace == 2;
    for (uint32_t row = 0; row < ch; ++row) {
        const uint32_t src = doubleLines ? (row & ~1u) : row;
        std::memcpy(t.u + size_t(row) * cw, p.u + size_t(src) * cw, cw);
        std::memcpy(t.v + size_t(row) * cw, p.v + size_t(src) * cw, cw);
    }
}

}  // namespace tessaly::h264
