// tessaly-rec mux: an Annex B H.264 stream, and optionally speech, into a
// record file, one record per access unit.
#pragma once

#include <cstdint>
#include <string>

namespace tessaly::tools::rec {

struct MuxOptions {
    uint32_t fps = 0;        // 0: the SPS's VUI timing, else 25
    uint32_t maxFrames = 0;  // 0: every access unit
    std::string audioPath;   // empty: no sound
    uint32_t kbps = 32;      // 16 or 32: G.726 mode 4 or 6
    std::string inPath, outPath;
};

// The process's exit code; messages go to stderr.
int Mux(const MuxOptions &options);

}  // namespace tessaly::tools::rec
