#include "video/sps_probe.h"

namespace tessaly::video {

bool ProbeKeyFrameSps(const uint8_t *frame, uint32_t length, h264::SpsSummary &sps) {
    if (length < 16 || frame[0] != 0 || frame[1] != 0 || frame[2] != 0 || frame[3] != 1 || (frame[4] & 0x1F) != 7)
        return false;
    return h264::ParseSpsSummary(frame + 4, length - 4, &sps);
}

}  // namespace tessaly::video
