// The key-frame probe on hand-built sequence parameter sets and on a real
// field-coded stream.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "h264_stream_builder.h"
#include "stream_file.h"
#include "video/sps_probe.h"

using h264test::SpsNal;
using h264test::SpsOptions;
using tessaly::h264::SpsSummary;
using tessaly::video::ProbeKeyFrameSps;

namespace {

// A key frame's leading bytes: the set, padded to the probe's minimum length.
std::vector<uint8_t> Frame(const SpsOptions &o) {
    std::vector<uint8_t> out = SpsNal(o);
    if (out.size() < 16) out.resize(16);
    return out;
}

bool Probe(const std::vector<uint8_t> &frame, SpsSummary &sps) {
    return ProbeKeyFrameSps(frame.data(), static_cast<uint32_t>(frame.size()), sps);
}

}  // namespace

TEST(SpsProbe, SizesCropsAndTheFieldsAfterThem) {
    using Four = std::array<uint32_t, 4>;
    struct Case {
        SpsOptions o;
        uint32_t codedWidth, codedHeight, width, height;
        Four crop;  // left, right, top, bottom in luma rows
    };
    // Field coding doubles the map units and the vertical crop unit; sizes
    // above the old 2560 cut; codes with 30 leading zeros that need
    // emulation-prevention bytes; scaling lists before the sizes.
    // clang-format off
    const Case cases[] = {
        {{.widthMbs = 120, .heightMapUnits = 34, .frameMbsOnly = false, .cropBottom = 2}, 1920, 1088, 1920, 1080, {0, 0, 0, 8}},
        {{.level = 51, .widthMbs = 240, .heightMapUnits = 135}, 3840, 2160, 3840, 2160, {}},
        {{.profile = 77, .widthMbs = 162, .heightMapUnits = 122, .cropBottom = 4}, 2592, 1952, 2592, 1944, {0, 0, 0, 8}},
        {{.widthMbs = 80, .heightMapUnits = 45, .cropLeft = 1, .cropRight = 2, .cropTop = 3, .cropBottom = 4}, 1280, 720, 1274, 706, {2, 4, 6, 8}},
        {{.widthMbs = 44, .heightMapUnits = 36, .numRefFrames = 5, .pocType = 1, .pocOffset = 1 << 29}, 704, 576, 704, 576, {}},
        {{.profile = 100, .widthMbs = 80, .heightMapUnits = 45, .scalingMatrix = true}, 1280, 720, 1280, 720, {}},
    };
    // clang-format on
    const std::vector<uint8_t> escaped = Frame(cases[4].o), escape = {0, 0, 3};
    ASSERT_NE(std::search(escaped.begin() + 4, escaped.end(), escape.begin(), escape.end()), escaped.end());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.width);
        SpsSummary s;
        ASSERT_TRUE(Probe(Frame(c.o), s));
        EXPECT_EQ((Four{s.codedWidth, s.codedHeight, s.width, s.height}),
                  (Four{c.codedWidth, c.codedHeight, c.width, c.height}));
        EXPECT_EQ((Four{s.cropLeft, s.cropRight, s.cropTop, s.cropBottom}), c.crop);
        EXPECT_EQ(s.frameHeightMbs, c.codedHeight / 16);
        EXPECT_EQ(s.frameMbsOnly, c.o.frameMbsOnly);
        EXPECT_EQ(s.numRefFrames, uint32_t(c.o.numRefFrames));
        EXPECT_EQ(s.profileIdc, c.o.profile);
        EXPECT_EQ(s.levelIdc, c.o.level);
    }
}

TEST(SpsProbe, RefusesWhatDoesNotQualify) {
    SpsSummary s;
    std::vector<uint8_t> frame = Frame({});
    ASSERT_TRUE(Probe(frame, s));
    EXPECT_FALSE(Probe(std::vector<uint8_t>(frame.begin() + 1, frame.end()), s)) << "three-byte start code";
    frame.resize(15);
    EXPECT_FALSE(Probe(frame, s)) << "under 16 bytes";
    frame = Frame({});
    frame[4] = 0x68;
    EXPECT_FALSE(Probe(frame, s)) << "a picture set";
    EXPECT_FALSE(Probe(Frame({.widthMbs = 353}), s));
    EXPECT_FALSE(Probe(Frame({.widthMbs = 120, .heightMapUnits = 129, .frameMbsOnly = false}), s)) << "258 rows";
    EXPECT_FALSE(Probe(Frame({.widthMbs = 80, .heightMapUnits = 45, .cropLeft = 320, .cropRight = 320}), s))
        << "nothing left";
    // Cut where the size codes end (byte 12) and followed by another unit:
    // read on as zeros, the flags that remain would pass for a field-coded set.
    std::vector<uint8_t> cut = Frame({.widthMbs = 120, .heightMapUnits = 12, .pocType = 0});
    cut.resize(12);
    cut.insert(cut.end(), {0, 0, 1, 0x68, 0xCE, 0x38, 0x80, 0xFF, 0xFF, 0xFF});
    EXPECT_FALSE(Probe(cut, s));
}

TEST(SpsProbe, FirstAccessUnitOfAFieldStream) {
    const auto units =
        AccessUnits(ReadFile(std::string(TESSALY_TESTDATA) + "/h264/gen/jm_main_cavlc_352x288_field.264"));
    ASSERT_FALSE(units.empty());
    SpsSummary s;
    ASSERT_TRUE(Probe(units[0], s));
    EXPECT_EQ(s.width, 352u);
    EXPECT_EQ(s.height, 288u);
    EXPECT_FALSE(s.frameMbsOnly);
    EXPECT_EQ(s.numRefFrames, 2u);
}
