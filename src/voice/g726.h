// ITU-T G.726 ADPCM coder with a 16-bit linear PCM interface, in the
// Recommendation's fixed-point arithmetic and word widths.
#pragma once

#include <cstdint>

namespace tessaly::voice {

// The coder state, 26 words in this order. Every variable keeps the
// Recommendation's representation: a1, a2, b1..b6 16-bit two's complement,
// dq0..dq5 and sr0, sr1 in its 11-bit floating format, yl 19 bits, yu 13 bits,
// ap 10 bits, dms 12 bits, dml 14 bits, pk0/pk1/td single bits.
struct G726State {
    uint32_t law;   // 2 = 16-bit linear PCM, the only interface
    uint32_t bits;  // code size, 2..5 (16, 24, 32, 40 kbit/s)
    uint32_t a2, a1, ap;
    uint32_t b[6];
    uint32_t dml, dms;
    uint32_t dq[6];
    uint32_t pk0, pk1;
    uint32_t sr0, sr1;
    uint32_t td, yl, yu;
};
static_assert(sizeof(G726State) == 26 * 4, "the state layout is part of the interface");

void G726Reset(G726State &st, int bits);

// Codes one sample; returns the code (st.bits wide).
int G726Encode(G726State &st, int16_t sample);

// Decodes one code (masked to st.bits); returns the 16-bit output sample,
// always a multiple of 4 in -32768..32764.
int16_t G726Decode(G726State &st, int code);

}  // namespace tessaly::voice
