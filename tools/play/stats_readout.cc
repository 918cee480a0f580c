#include "stats_readout.h"

#include "tessaly/kova_stats.h"

namespace tessaly::play {

void PrintPortStatistics(std::FILE *out, const PlaybackSession &session) {
    for (size_t i = 0; i < session.PortCount(); ++i) {
        const uint32_t port = static_cast<uint32_t>(i);
        const std::string name = BaseName(session.file(i).path);
        KOVA_PortStatistics stats{};
        stats.size = sizeof stats;
        const int32_t result = KOVA_GetPortStatistics(port, &stats);
        if (result != KOVA_OK) {
            std::fprintf(out, "stats port %u %s: error %d\n", port, name.c_str(), result);
            continue;
        }
        std::fprintf(out,
                     "stats port %u %s: received %u refused %u decoded %u shown %u damaged %u %ux%u buffer %u/%u "
                     "decode %u us fps %.2f\n",
                     port, name.c_str(), stats.framesReceived, stats.framesRefused, stats.picturesDecoded,
                     stats.picturesShown, stats.damagedPictures, stats.width, stats.height, stats.bufferFill,
                     stats.bufferCapacity, stats.decodeMicrosAverage, stats.framesPerSecond100 / 100.0);
    }
    std::fflush(out);
}

}  // namespace tessaly::play
