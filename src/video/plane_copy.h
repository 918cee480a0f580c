// Copies a picture plane into a packed buffer (rows `width` bytes apart) for a
// reader that comes later, maybe on another thread: the host's callback, a
// snapshot. A whole picture would push the decoder's reference pictures out
// of the cache, so the rows bypass it (streaming stores).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly::video {

void CopyPlanePacked(uint8_t *dst, const uint8_t *src, size_t srcStride, uint32_t width, uint32_t rows);

}  // namespace tessaly::video
