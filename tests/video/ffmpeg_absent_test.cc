// The FFmpeg path on a host without libavcodec. This program hides it by
// answering dlopen itself (the executable's definition comes before libc's),
// refusing any libavcodec and passing the rest on; it is a program of its own
// so that the other video tests keep FFmpeg.
#include <dlfcn.h>

#include <cstring>

#include <gtest/gtest.h>

#include "video/ffmpeg_library.h"

extern "C" void *dlopen(const char *file, int mode) {
    using Open = void *(*)(const char *, int);
    static const Open next = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "dlopen"));
    if (file != nullptr && std::strstr(file, "libavcodec") != nullptr) return nullptr;
    return next(file, mode);
}

namespace {

using tessaly::video::FfmpegDecoder;

TEST(FfmpegAbsent, LoadFailsAndDecoderCallsAreHarmless) {
    // Only libavcodec is hidden.
    void *avutil = dlopen("libavutil.so.57", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(avutil, nullptr);
    dlclose(avutil);
    ASSERT_EQ(dlopen("libavcodec.so.59", RTLD_NOW), nullptr);

    const tessaly::video::FfmpegCandidate missing[] = {{"libavutil.so.57", "/nonexistent/libavcodec.so.59"}};
    EXPECT_FALSE(tessaly::video::LoadFfmpeg(missing));
    EXPECT_FALSE(tessaly::video::LoadFfmpeg());
    EXPECT_FALSE(tessaly::video::LoadFfmpeg());  // tried again, still nothing
    EXPECT_FALSE(tessaly::video::FfmpegAvailable());

    const uint8_t unit[] = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x0A, 0xDA, 0x0B, 0x0F, 0xC8};
    for (int codec : {tessaly::video::kFfmpegH264, tessaly::video::kFfmpegMjpeg}) {
        FfmpegDecoder decoder;
        EXPECT_FALSE(decoder.Open(codec));
        EXPECT_FALSE(decoder.IsOpen());
        EXPECT_FALSE(decoder.Decode(unit, sizeof unit));
        EXPECT_FALSE(decoder.Drain());
        decoder.Close();
    }
}

}  // namespace
