// A made-up video frame for tests of the stream input: a four-byte start code,
// the NAL header byte given, and filler bytes to the length asked for
// (at least 5).
#pragma once

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> NalFrame(uint32_t length, uint8_t nalHeader) {
    std::vector<uint8_t> f(length, 0x5A);
    f[0] = f[1] = f[2] = 0;
    f[3] = 1;
    f[4] = nalHeader;
    return f;
}
