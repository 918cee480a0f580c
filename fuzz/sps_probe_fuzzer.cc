// The key-frame probe reads sequence parameter sets straight from frames the
// host submits: arbitrary bytes must never be read past, and whatever it
// accepts must fit the decoder's bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "video/sps_probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Half the inputs get the key-frame prefix, so the parser itself is reached.
    uint8_t *frame = new uint8_t[size + 5];
    size_t length = size;
    if (size > 0 && (data[0] & 1)) {
        const uint8_t prefix[5] = {0, 0, 0, 1, 0x67};
        std::memcpy(frame, prefix, 5);
        std::memcpy(frame + 5, data + 1, size - 1);
        length = size + 4;
    } else {
        std::memcpy(frame, data, size);
    }
    tessaly::h264::SpsSummary sps;
    if (tessaly::video::ProbeKeyFrameSps(frame, static_cast<uint32_t>(length), sps)) {
        const bool coded = sps.codedWidth == 16 * sps.widthMbs && sps.codedHeight == 16 * sps.frameHeightMbs &&
                           sps.codedWidth <= 5632 && sps.codedHeight <= 4096;
        const bool cropped = sps.width > 0 && sps.height > 0 &&
                             sps.width + sps.cropLeft + sps.cropRight == sps.codedWidth &&
                             sps.height + sps.cropTop + sps.cropBottom == sps.codedHeight;
        if (!coded || !cropped || sps.numRefFrames > 16 || (!sps.frameMbsOnly && sps.frameHeightMbs % 2))
            __builtin_trap();
    }
    delete[] frame;
    return 0;
}
