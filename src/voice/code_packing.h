// Packing of fixed-width codes (2 to 5 bits) into payload bytes, least
// significant bits first (the codec's native order) or most significant bits
// first, and the in-place conversion between the two orders.
#pragma once

#include <cstdint>

namespace tessaly::voice {

// Sequential writer, least significant bits first: code k lands at stream bits
// k*b .. k*b+b-1, bit 0 being the lowest bit of byte 0. The buffer must start
// zeroed; bytes past the last code are not touched.
class LsbCodeWriter {
public:
    LsbCodeWriter(uint8_t *out, int bits) : out_(out), bits_(bits) {}
    void Put(uint32_t code);

private:
    uint8_t *out_;
    int bits_;
    int bitPos_ = 0;
};

// Code k of a least-significant-first stream.
inline uint32_t LsbCodeAt(const uint8_t *in, int k, int bits) {
    const int bit = k * bits;
    const uint32_t pair = in[bit >> 3] | ((bit & 7) + bits > 8 ? uint32_t{in[(bit >> 3) + 1]} << 8 : 0u);
    return (pair >> (bit & 7)) & ((1u << bits) - 1);
}

// Rewrite a payload of `bytes` bytes between the two orders, in place. Nothing
// happens when the payload is not a whole number of codes.
void RepackLsbToMsb(uint8_t *payload, int bytes, int bits);
void RepackMsbToLsb(uint8_t *payload, int bytes, int bits);

}  // namespace tessaly::voice
