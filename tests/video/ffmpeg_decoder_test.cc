// The FFmpeg decoder's contract around its codec: what it refuses, damaged
// and stray data, reopening, and a load that stays. Pictures against
// reference MD5s are checked through tessaly-ft (tests/tools).
#include <vector>

#include <gtest/gtest.h>

#include "stream_file.h"
#include "video/ffmpeg_library.h"

using tessaly::video::FfmpegCandidate;
using tessaly::video::FfmpegDecoder;
using tessaly::video::kFfmpegH264;
using tessaly::video::kFfmpegMjpeg;

namespace {

TEST(FfmpegDecoder, RefusalsDamageAndReopening) {
    ASSERT_TRUE(tessaly::video::LoadFfmpeg());
    // Loaded once and kept: a later load with nothing to find still succeeds.
    const FfmpegCandidate missing[] = {{"/nonexistent/libavutil.so.57", "/nonexistent/libavcodec.so.59"}};
    EXPECT_TRUE(tessaly::video::LoadFfmpeg(missing));

    const auto units = AccessUnits(ReadFile(TESSALY_TESTDATA "/h264/conf/BA_MW_D.264"));
    ASSERT_GE(units.size(), 3u);
    const std::vector<uint8_t> &key = units[0];
    FfmpegDecoder decoder;
    EXPECT_FALSE(decoder.Decode(key.data(), uint32_t(key.size())));  // not open
    EXPECT_FALSE(decoder.Drain());
    EXPECT_FALSE(decoder.Open(0));
    EXPECT_FALSE(decoder.Open(3));
    EXPECT_FALSE(decoder.IsOpen());

    ASSERT_TRUE(decoder.Open(kFfmpegH264));
    const std::vector<uint8_t> noise(5000, 0xA7);
    EXPECT_FALSE(decoder.Decode(noise.data(), uint32_t(noise.size())));
    EXPECT_FALSE(decoder.Decode(nullptr, 10));
    EXPECT_FALSE(decoder.Decode(key.data(), 0));
    for (int pass = 0; pass < 2; ++pass) {
        // The first picture, then the end of the stream, then the stream again.
        const auto picture = decoder.Decode(key.data(), uint32_t(key.size()));
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->width, 176);
        EXPECT_EQ(picture->height, 144);
        EXPECT_GE(picture->yStride, 176);
        EXPECT_GE(picture->uvStride, 88);
        while (decoder.Drain()) {}
    }

    // H.264 is not a JPEG: nothing, and the decoder stays usable.
    ASSERT_TRUE(decoder.Open(kFfmpegMjpeg));
    EXPECT_FALSE(decoder.Decode(key.data(), uint32_t(key.size())));
    decoder.Close();
    decoder.Close();
    EXPECT_FALSE(decoder.Decode(key.data(), uint32_t(key.size())));
}

}  // namespace
