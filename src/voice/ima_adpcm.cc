#include "voice/ima_adpcm.h"

namespace tessaly::voice {
namespace {

constexpr int16_t kStepSize[kImaMaxIndex + 1] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int8_t kIndexAdjust[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

inline int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

inline void Advance(ImaState &st, int code, int vpdiff) {
    const int predicted = (code & 8) ? st.predicted - vpdiff : st.predicted + vpdiff;
    st.predicted = static_cast<int16_t>(Clamp(predicted, -32768, 32767));
    st.index = static_cast<uint8_t>(Clamp(st.index + kIndexAdjust[code], 0, kImaMaxIndex));
}

}  // namespace

int ImaEncode(ImaState &st, int16_t sample) {
    const int step = kStepSize[st.index];
    int diff = sample - st.predicted;
    int code = 0;
    if (diff < 0) {
        code = 8;
        diff = -diff;
    }
    int vpdiff = step >> 3;
    if (diff >= step) {
        code |= 4;
        diff -= step;
        vpdiff += step;
    }
    if (diff >= step >> 1) {
        code |= 2;
        diff -= step >> 1;
        vpdiff += step >> 1;
    }
    if (diff >= step >> 2) {
        code |= 1;
        vpdiff += step >> 2;
    }
    Advance(st, code, vpdiff);
    return code;
}

int16_t ImaDecode(ImaState &st, int code) {
    const int step = kStepSize[st.index];
    int vpdiff = step >> 3;
    if (code & 4) vpdiff += step;
    if (code & 2) vpdiff += step >> 1;
    if (code & 1) vpdiff += step >> 2;
    Advance(st, code, vpdiff);
    return st.predicted;
}

}  // namespace tessaly::voice
