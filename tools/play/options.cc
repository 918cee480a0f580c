#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tessaly/kova.h"

namespace tessaly::play {

const char kUsage[] =
    "usage: tessaly-play [options] FILE.264|FILE.ft|FILE.kvr|FILE.mp4|FILE.mkv|FILE.ts|URL ...\n"
    "Plays H.264 elementary streams and FT byte streams (.ft, or any file starting with\n"
    "the packet marker; FT or Raw packets, told by the first one; decoded through FFmpeg)\n"
    "as live cameras and record files (.kvr, or any file starting with KVRF) from disk,\n"
    "one player port per file; a record file's sound plays when it has any. An FT byte\n"
    "stream has no timing: it goes one packet per frame period (--fps), in 4096-byte\n"
    "chunks. In a window a record file plays at its frame rate; headless, its port\n"
    "stays paused and is stepped one record per frame period, so it still runs in real\n"
    "time, and a line a second gives its position (thousandths), time, speed and state.\n"
    "Network cameras (rtsp://, rtp://, udp://, tcp://, http://) and .mp4, .mkv and .ts files\n"
    "are read through FFmpeg, their H.264 track sent like a camera's frames: a network\n"
    "stream as it arrives, a file at its own pace. A camera that drops is opened again\n"
    "after 1, 2, 4... s (at most 10); its state is printed and shown in its labels.\n"
    "  --headless            no window even when $DISPLAY is set\n"
    "  --loop                start each stream and record file again at its end\n"
    "  --fps N               frame rate of streams without timing information (default 25)\n"
    "  --duration S          stop after S seconds\n"
    "  --osd, --no-osd       label each port's pictures top right with its file name and a\n"
    "                        clock, updated every second: the time of day for cameras,\n"
    "                        the time into the file for record files (default: on in a\n"
    "                        window, off headless; snapshots carry it on FT ports only)\n"
    "  --stats               a line a second per port: the library's port statistics\n"
    "  --rtsp-udp            RTSP media over UDP (default: inside the TCP connection)\n"
    "  --snapshot-every N    headless: snapshot every port every N seconds (default 5, 0 = never)\n"
    "  --out DIR             where snapshots go (default .)\n"
    "Keys: q quits, s snapshots the picture under the pointer, f toggles full screen.\n"
    "Record files (all of them; live cameras go on): space plays or pauses, . steps one\n"
    "record when paused, + and - play faster or slower (quarter to fourfold speed),\n"
    "Right seeks a twentieth on, Left a twentieth back (further when that finds no earlier\n"
    "key frame); a seek lands on a key frame. Each key prints the files' new state.\n";

namespace {

bool ParseNumber(const char *text, double min, double max, double *value) {
    errno = 0;
    char *end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(parsed) || parsed < min || parsed > max)
        return false;
    *value = parsed;
    return true;
}

}  // namespace

bool ParseOptions(int argc, char **argv, Options *options, bool *help, std::string *error) {
    *help = false;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyFiles || arg.empty() || arg[0] != '-' || arg == "-") {
            options->files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
        } else if (arg == "-h" || arg == "--help") {
            *help = true;
            return true;
        } else if (arg == "--headless") {
            options->headless = true;
        } else if (arg == "--loop") {
            options->loop = true;
        } else if (arg == "--stats") {
            options->stats = true;
        } else if (arg == "--rtsp-udp") {
            options->rtspOverUdp = true;
        } else if (arg == "--osd" || arg == "--no-osd") {
            options->osd = arg == "--osd" ? 1 : 0;
        } else if (arg == "--fps" || arg == "--duration" || arg == "--snapshot-every" || arg == "--out") {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            const char *value = argv[++i];
            bool ok = true;
            if (arg == "--fps") ok = ParseNumber(value, 0.5, 240, &options->fps);
            if (arg == "--duration") ok = ParseNumber(value, 0.001, 1e7, &options->duration);
            if (arg == "--snapshot-every") ok = ParseNumber(value, 0, 1e7, &options->snapshotEvery);
            if (arg == "--out") {
                options->outDir = value;
                ok = !options->outDir.empty();
            }
            if (!ok) {
                *error = "bad value for " + arg + ": '" + value + "'";
                return false;
            }
        } else {
            *error = "unknown option " + arg + " (see --help)";
            return false;
        }
    }
    if (options->files.empty()) {
        *error = "no input file (see --help)";
        return false;
    }
    if (options->files.size() > KOVA_MAX_PORTS) {
        *error = std::to_string(options->files.size()) + " files but only " + std::to_string(KOVA_MAX_PORTS) +
                 " player ports";
        return false;
    }
    return true;
}

}  // namespace tessaly::play
