#include "soak_options.h"

#include <cstdlib>
#include <cstring>

namespace tessaly::soak {

const char kSoakUsage[] =
    "usage: tessaly-soak [options] --data DIR | --stream FILE... [--record FILE...]\n"
    "Drives up to 256 ports from several host threads for a while: live ports fed\n"
    "clean and damaged streams, record files played, seeked and sped up, FT and\n"
    "raw-picture ports, sound, snapshots, windows (when $DISPLAY is set) moved and\n"
    "destroyed, ports closed and reopened, KOVA_DeInit/KOVA_Init cycles. Fails when\n"
    "a call hangs, returns what it must not, or threads, descriptors, X connections\n"
    "or memory are not back at the end. Sound goes to SDL's dummy driver unless\n"
    "SDL_AUDIODRIVER is set.\n"
    "  --ports N       ports to drive (1..256, default 256)\n"
    "  --threads N     host threads (default 8)\n"
    "  --seconds S     how long (default 60)\n"
    "  --fps F         frames per second per live port (default 25)\n"
    "  --cycle S       seconds between DeInit/Init cycles, 0 for none (default 20)\n"
    "  --seed N        for the damage and the choices (default 1)\n"
    "  --only KINDS    port kinds to use, of live,file,ft,raw (default all)\n"
    "  --no-windows    draw nowhere even when $DISPLAY is set\n"
    "  --data DIR      the project's testdata directory: its bundled streams and record file\n"
    "  --stream FILE   an H.264 stream (repeatable)\n"
    "  --record FILE   a record file (repeatable)\n"
    "  --summary FILE  write the per-port table there instead of to standard output\n";

namespace {

const char *const kDataStreams[] = {
    "h264/gen/bl_cavlc_176x144.264",         "h264/gen/bl_cavlc_352x288_gop25.264",   "sample/camera_704x576_25fps.264",
    "h264/gen/main_cabac_1280x720_ref1.264", "h264/gen/bl_cavlc_352x288_slices4.264", "player/halfheight_fieldsei.264",
};

}  // namespace

bool ParseSoakOptions(int argc, char **argv, SoakOptions *options, std::string *error) {
    for (int k = 1; k < argc; ++k) {
        const std::string option = argv[k];
        if (option == "--help" || option == "-h") {
            *error = "";
            return false;
        }
        if (option == "--no-windows") {
            options->windows = false;
            continue;
        }
        if (k + 1 >= argc) {
            *error = "missing value after " + option;
            return false;
        }
        const std::string value = argv[++k];
        if (option == "--ports") {
            options->ports = std::atoi(value.c_str());
        } else if (option == "--threads") {
            options->threads = std::atoi(value.c_str());
        } else if (option == "--seconds") {
            options->seconds = std::atof(value.c_str());
        } else if (option == "--fps") {
            options->fps = std::atof(value.c_str());
        } else if (option == "--cycle") {
            options->cycleSeconds = std::atof(value.c_str());
        } else if (option == "--seed") {
            options->seed = uint32_t(std::strtoul(value.c_str(), nullptr, 10));
        } else if (option == "--stream") {
            options->streams.push_back(value);
        } else if (option == "--record") {
            options->recordFiles.push_back(value);
        } else if (option == "--summary") {
            options->summaryPath = value;
        } else if (option == "--only") {
            const std::string kinds = "," + value + ",";
            const auto has = [&](const char *kind) {
                return kinds.find(std::string(",") + kind + ",") != std::string::npos;
            };
            options->live = has("live");
            options->files = has("file");
            options->ft = has("ft");
            options->raw = has("raw");
        } else if (option == "--data") {
            for (const char *stream : kDataStreams) options->streams.push_back(value + "/" + stream);
            options->recordFiles.push_back(value + "/sample/camera_704x576_25fps_speech.kvr");
        } else {
            *error = "unknown option " + option;
            return false;
        }
    }
    if (options->ports < 1 || options->ports > 256 || options->threads < 1 || options->threads > 64 ||
        options->seconds <= 0 || options->fps <= 0 || options->cycleSeconds < 0 ||
        !(options->live || options->files || options->ft || options->raw)) {
        *error = "a value is out of range";
        return false;
    }
    if (options->streams.empty()) {
        *error = "no streams: give --data DIR or --stream FILE";
        return false;
    }
    return true;
}

}  // namespace tessaly::soak
