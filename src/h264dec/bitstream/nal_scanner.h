// Annex B byte-stream scanner: finds start codes, strips emulation-prevention
// bytes and collects one NAL unit at a time into a caller-owned buffer.
//
// All state survives between calls, so start codes and units may be split
// anywhere across the input pieces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly::h264 {

// A window value that contains no start code, so a fresh or reset scanner
// never mistakes stale bytes for one.
inline constexpr uint32_t kScannerIdleWindow = 0x01010100u & 0xFFFFFFu;

struct NalScanner {
    uint8_t *buffer = nullptr;  // capacity bytes, plus readable padding
    uint32_t capacity = 0;
    uint32_t writeIndex = 0;
    uint32_t window = kScannerIdleWindow;
    uint32_t droppedBytes = 0;  // emulation-prevention bytes of the current unit
    uint8_t inUnit = 0;         // 0: before the first start code
};

// A closed unit: header byte first, emulation prevention removed, trailing
// zero bytes trimmed so the last byte holds the rbsp_stop_one_bit.
struct NalUnit {
    const uint8_t *data = nullptr;
    uint32_t size = 0;        // header + payload bytes
    uint32_t inputBytes = 0;  // input bytes from the header to the closing start code
};

void NalScannerInit(NalScanner *s, uint8_t *buffer, uint32_t capacity);
// Back to "no start code seen", dropping any partial unit.
void NalScannerReset(NalScanner *s);

// Consumes input until a unit with at least two payload bytes is closed or the
// input ends. Returns the bytes consumed; *unit is filled (size > 0) when a
// unit was closed, in which case the closing start code is the last consumed
// byte. The unit stays valid until the next call.
size_t NalScannerScan(NalScanner *s, const uint8_t *in, size_t length, NalUnit *unit);

}  // namespace tessaly::h264
