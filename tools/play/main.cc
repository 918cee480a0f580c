// tessaly-play: plays H.264 files, FT byte streams, network cameras and
// container files (through FFmpeg) as live cameras and
// record files from disk through the player ports, in a video wall on the X
// display or, without one, headless with periodic snapshots, a readout of the
// record files and a per-port summary; each port optionally labelled with its
// file name and a clock.
//
//   tessaly-play [--headless] [--loop] [--fps N] [--duration S] [--osd|--no-osd]
//                [--stats] [--rtsp-udp] [--snapshot-every N] [--out DIR]
//                FILE.264|FILE.ft|FILE.kvr|FILE.mp4|FILE.mkv|FILE.ts|URL ...
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "av_source.h"
#include "camera_file.h"
#include "ft_file.h"
#include "headless_run.h"
#include "interrupt.h"
#include "options.h"
#include "playback_session.h"
#include "record_file.h"
#include "tessaly/kova.h"
#include "windowed_run.h"

using namespace tessaly::play;

int main(int argc, char **argv) {
    Options options;
    bool help = false;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &help, &error)) {
        std::fprintf(stderr, "tessaly-play: %s\n", error.c_str());
        return 1;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::vector<CameraFile> files(options.files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string &path = options.files[i];
        const bool loaded = IsAvSource(path)     ? LoadAvSource(path, options.rtspOverUdp, &files[i], &error)
                            : IsRecordFile(path) ? LoadRecordFile(path, &files[i], &error)
                            : IsFtFile(path)     ? LoadFtFile(path, options.fps, &files[i], &error)
                                                 : LoadCameraFile(path, options.fps, &files[i], &error);
        if (!loaded) {
            std::fprintf(stderr, "tessaly-play: %s\n", error.c_str());
            return 1;
        }
    }
    const char *display = std::getenv("DISPLAY");
    const bool headless = options.headless || !display || !*display;
    if (!headless || options.snapshotEvery > 0) {
        std::error_code ec;
        std::filesystem::create_directories(options.outDir, ec);
        if (!std::filesystem::is_directory(options.outDir, ec)) {
            std::fprintf(stderr, "tessaly-play: cannot create output directory %s\n", options.outDir.c_str());
            return 1;
        }
    }
    CatchInterrupts();
    KOVA_Init();
    int status;
    {
        PlaybackSession session(files, options.loop);
        status = headless ? RunHeadless(options, session) : RunWindowed(options, session);
    }
    KOVA_DeInit();
    return status;
}
