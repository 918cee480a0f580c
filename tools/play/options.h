// Command line of tessaly-play.
#pragma once

#include <string>
#include <vector>

namespace tessaly::play {

struct Options {
    std::vector<std::string> files;
    bool headless = false;
    bool loop = false;
    double fps = 25;           // used when a stream carries no timing information
    double snapshotEvery = 5;  // seconds, headless only; 0 = never
    double duration = 0;       // seconds; 0 = until the streams end (or q)
    bool stats = false;        // a line of KOVA_GetPortStatistics per port a second
    bool rtspOverUdp = false;  // RTSP's packets over UDP instead of the TCP connection
    int osd = -1;              // port labels: 1 on, 0 off, -1 on in a window only
    std::string outDir = ".";
};

// Fills `options` from argv; on a bad option returns false with a one-line
// message in `error`. Sets `help` for -h/--help.
bool ParseOptions(int argc, char **argv, Options *options, bool *help, std::string *error);

extern const char kUsage[];

}  // namespace tessaly::play
