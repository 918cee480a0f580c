// tessaly-rec: writes, checks and exports record files.
//
//   tessaly-rec mux [--fps N] [--frames N] [--audio SPEECH.wav [--rate 16|32]] IN.264 OUT.kvr
//   tessaly-rec info FILE.kvr
//   tessaly-rec export FILE.kvr OUT.mp4|OUT.mkv
//
// mux stores one record per access unit, time stamps 0, 1, 2, ... frame
// periods, the frame rate from --fps, the stream's VUI timing or 25; with
// --audio, 8 kHz mono 16-bit speech as G.726 voice frames spread over the
// records so that sound and picture keep time. info prints the header, the
// key frames, the sound and every damaged range. export remuxes the video
// without re-encoding, the sound as PCM (Matroska) or AAC (MP4).
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "export_file.h"
#include "info.h"
#include "messages.h"
#include "mux.h"

namespace {

using namespace tessaly::tools::rec;

int Usage() {
    return Fail(
        "usage: tessaly-rec mux [--fps N] [--frames N] [--audio SPEECH.wav [--rate 16|32]] IN.264 OUT.kvr | "
        "info FILE.kvr | export FILE.kvr OUT.mp4|OUT.mkv");
}

bool ParseNumber(const std::string &text, uint32_t low, uint32_t high, uint32_t &value) {
    char *end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0' || v < low || v > high) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

int MuxCommand(const std::vector<std::string> &args) {
    MuxOptions options;
    bool rateGiven = false;
    size_t k = 1;
    for (; k + 1 < args.size() && args[k].starts_with("--"); k += 2) {
        const std::string &name = args[k], &value = args[k + 1];
        if (name == "--fps") {
            if (!ParseNumber(value, 1, 30, options.fps)) return Fail("--fps takes 1 to 30, not '" + value + "'");
        } else if (name == "--frames") {
            if (!ParseNumber(value, 1, UINT32_MAX, options.maxFrames))
                return Fail("--frames takes a count above 0, not '" + value + "'");
        } else if (name == "--audio") {
            options.audioPath = value;
        } else if (name == "--rate") {
            if (value != "16" && value != "32") return Fail("--rate takes 16 or 32, not '" + value + "'");
            options.kbps = value == "16" ? 16 : 32;
            rateGiven = true;
        } else {
            return Usage();
        }
    }
    if (args.size() - k != 2) return Usage();
    if (rateGiven && options.audioPath.empty()) return Fail("--rate goes with --audio");
    options.inPath = args[k];
    options.outPath = args[k + 1];
    return Mux(options);
}

}  // namespace

int main(int argc, char **argv) {
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        if (args.empty()) return Usage();
        if (args[0] == "mux") return MuxCommand(args);
        if (args[0] == "info" && args.size() == 2) return Info(args[1]);
        if (args[0] == "export" && args.size() == 3) return Export(args[1], args[2]);
        return Usage();
    } catch (const std::exception &e) {  // out of memory on a huge input
        return Fail(e.what());
    }
}
