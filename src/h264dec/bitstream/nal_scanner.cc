#include "h264dec/bitstream/nal_scanner.h"

#include <cstring>

namespace tessaly::h264 {

void NalScannerInit(NalScanner *s, uint8_t *buffer, uint32_t capacity) {
    s->buffer = buffer;
    s->capacity = capacity;
    NalScannerReset(s);
}

void NalScannerReset(NalScanner *s) {
    s->writeIndex = 0;
    s->window = kScannerIdleWindow;
    s->droppedBytes = 0;
    s->inUnit = 0;
}

namespace {

// Called with the buffer holding a unit followed by 00 00 01. Returns true
// when the unit is worth dispatching.
bool CloseUnit(NalScanner *s, NalUnit *unit) {
    const uint32_t held = s->writeIndex;
    const uint32_t inputBytes = held + s->droppedBytes;
    s->writeIndex = 0;
    s->droppedBytes = 0;
    if (held <= 4) return false;
    uint32_t size = held - 3;
    // Trailing zero bytes (trailing_zero_8bits, cabac_zero_words, the first
    // byte of a four-byte start code) while header + one payload byte remain.
    while (size > 2 && s->buffer[size - 1] == 0) --size;
    if (size < 3) return false;  // fewer than two payload bytes
    // Zeroed padding keeps readers that look ahead past the unit deterministic.
    std::memset(s->buffer + size, 0, 8);
    unit->data = s->buffer;
    unit->size = size;
    unit->inputBytes = inputBytes;
    return true;
}

// Inside a unit, a run of non-zero bytes after anything but two zeros holds no
// start code and no emulation-prevention byte: it is copied as a block.
// Returns the bytes copied (0: take the byte-wise path).
size_t CopyRun(const uint8_t *in, size_t length, uint32_t *window, uint8_t *out, uint32_t room) {
    if ((*window & 0xFFFF) == 0) return 0;
    const void *zero = std::memchr(in, 0, length);
    const size_t run = zero ? size_t(static_cast<const uint8_t *>(zero) - in) : length;
    if (run < 3 || run > room) return 0;
    std::memcpy(out, in, run);
    *window = uint32_t(in[run - 3]) << 16 | uint32_t(in[run - 2]) << 8 | in[run - 1];
    return run;
}

}  // namespace

size_t NalScannerScan(NalScanner *s, const uint8_t *in, size_t length, NalUnit *unit) {
    unit->size = 0;
    uint32_t window = s->window;
    uint32_t w = s->writeIndex;
    uint8_t *buf = s->buffer;
    for (size_t i = 0; i < length; ++i) {
        if (s->inUnit && w < s->capacity) {
            const size_t run = CopyRun(in + i, length - i, &window, buf + w, s->capacity - w);
            w += uint32_t(run);
            i += run;
            if (i == length) break;
        }
        if (w >= s->capacity) {  // over-long unit: drop it, wait for a start code
            w = 0;
            s->inUnit = 0;
            s->droppedBytes = 0;
        }
        const uint8_t b = in[i];
        window = ((window << 8) | b) & 0xFFFFFF;
        if (s->inUnit) {
            if (window == 0x000003)
                ++s->droppedBytes;
            else
                buf[w++] = b;
        }
        if (window == 0x000001) {
            if (!s->inUnit) {
                s->inUnit = 1;
                continue;
            }
            s->writeIndex = w;
            s->window = window;
            if (CloseUnit(s, unit)) return i + 1;
            w = 0;
        }
    }
    s->window = window;
    s->writeIndex = w;
    return length;
}

}  // namespace tessaly::h264
