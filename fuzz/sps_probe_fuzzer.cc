// The picture-size probe reads sequence parameter sets straight from frames
// the host submits: arbitrary bytes must never be read past.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "video/sps_probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Half the inputs get the key-frame prefix, so the parser itself is reached.
    uint8_t *frame = new uint8_t[size + 5];
    size_t length = size;
    const uint8_t *bytes = frame;
    if (size > 0 && (data[0] & 1)) {
        const uint8_t prefix[5] = {0, 0, 0, 1, 0x67};
        std::memcpy(frame, prefix, 5);
        std::memcpy(frame + 5, data + 1, size - 1);
        length = size + 4;
    } else {
        std::memcpy(frame, data, size);
    }
    tessaly::video::ProbedSize probed;
    if (tessaly::video::ProbeSpsSize(bytes, static_cast<uint32_t>(length), probed)) {
        if (probed.width < 16 || probed.width > 2560 || probed.height < 16 || probed.height > 2560) __builtin_trap();
    }
    delete[] frame;
    return 0;
}
