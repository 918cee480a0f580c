// tessaly-soak's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly::soak {

struct SoakOptions {
    int ports = 256;
    int threads = 8;
    double seconds = 60;
    double fps = 25;           // frames per second sent to each live port
    double cycleSeconds = 20;  // between KOVA_DeInit/KOVA_Init cycles; 0: none
    uint32_t seed = 1;
    bool live = true, files = true, ft = true, raw = true, windows = true;  // what the ports may be
    std::vector<std::string> streams;                                       // Annex B H.264 files
    std::vector<std::string> recordFiles;                                   // record files for file ports
    std::string summaryPath;                                                // the per-port table; stdout when empty
};

// Parses argv; on a usage error returns false with the message in *error.
bool ParseSoakOptions(int argc, char **argv, SoakOptions *options, std::string *error);
extern const char kSoakUsage[];

}  // namespace tessaly::soak
