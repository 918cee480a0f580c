#include "voice/code_packing.h"

#include <cstring>

namespace tessaly::voice {
namespace {

constexpr int kMaxPayloadBytes = 512;

// Code k of a most-significant-first stream: the b bits below the top
// (k*b mod 8) bits of the byte pair at hand.
uint32_t MsbCodeAt(const uint8_t *in, int k, int bits) {
    const int bit = k * bits;
    const uint32_t pair = (uint32_t{in[bit >> 3]} << 8) | ((bit & 7) + bits > 8 ? in[(bit >> 3) + 1] : 0u);
    return (pair >> (16 - (bit & 7) - bits)) & ((1u << bits) - 1);
}

}  // namespace

void LsbCodeWriter::Put(uint32_t code) {
    uint8_t *byte = out_ + (bitPos_ >> 3);
    const int shift = bitPos_ & 7;
    const uint32_t placed = code << shift;
    const uint32_t mask = ((1u << bits_) - 1) << shift;
    byte[0] = static_cast<uint8_t>((byte[0] & ~mask) | (placed & 0xFF));
    if (shift + bits_ > 8) byte[1] = static_cast<uint8_t>(placed >> 8);
    bitPos_ += bits_;
}

void RepackLsbToMsb(uint8_t *payload, int bytes, int bits) {
    if (bytes <= 0 || bytes > kMaxPayloadBytes || (8 * bytes) % bits != 0) return;
    uint8_t source[kMaxPayloadBytes + 1];
    std::memcpy(source, payload, static_cast<size_t>(bytes));
    source[bytes] = 0;
    uint32_t accumulator = 0;
    int gathered = 0;
    int written = 0;
    for (int k = 0, count = 8 * bytes / bits; k < count; ++k) {
        accumulator = (accumulator << bits) | LsbCodeAt(source, k, bits);
        gathered += bits;
        if (gathered >= 8) {
            gathered -= 8;
            payload[written++] = static_cast<uint8_t>(accumulator >> gathered);
        }
    }
}

void RepackMsbToLsb(uint8_t *payload, int bytes, int bits) {
    if (bytes <= 0 || bytes > kMaxPayloadBytes || (8 * bytes) % bits != 0) return;
    uint8_t source[kMaxPayloadBytes + 1];
    std::memcpy(source, payload, static_cast<size_t>(bytes));
    source[bytes] = 0;
    std::memset(payload, 0, static_cast<size_t>(bytes));
    LsbCodeWriter writer(payload, bits);
    for (int k = 0, count = 8 * bytes / bits; k < count; ++k) writer.Put(MsbCodeAt(source, k, bits));
}

}  // namespace tessaly::voice
