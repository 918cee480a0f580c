// The key-frame probe on hand-built sequence parameter sets and on a real
// field-coded stream.
#include <algorithm>
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
std::vector<uint8_t> Frame(const SpsOptions &o, bool fourByteStartCode = true) {
    std::vector<uint8_t> out = SpsNal(o);
    if (!fourByteStartCode) out.erase(out.begin());
    if (out.size() < 16) out.resize(16);
    return out;
}

bool Probe(const std::vector<uint8_t> &frame, SpsSummary &sps) {
    return ProbeKeyFrameSps(frame.data(), static_cast<uint32_t>(frame.size()), sps);
}

}  // namespace

TEST(SpsProbe, FieldCodingDoublesTheMapUnits) {
    SpsSummary s;
    ASSERT_TRUE(Probe(Frame({.widthMbs = 120, .heightMapUnits = 34, .frameMbsOnly = false, .cropBottom = 2}), s));
    EXPECT_FALSE(s.frameMbsOnly);
    EXPECT_EQ(s.frameHeightMbs, 68u);
    EXPECT_EQ(s.codedHeight, 1088u);
    EXPECT_EQ(s.cropBottom, 8u) << "field crop units are four rows";
    EXPECT_EQ(s.height, 1080u);
    EXPECT_EQ(s.width, 1920u);
    EXPECT_FALSE(Probe(Frame({.widthMbs = 120, .heightMapUnits = 129, .frameMbsOnly = false}), s)) << "258 rows";
}

TEST(SpsProbe, SizesAboveTheOldCut) {
    SpsSummary s;
    ASSERT_TRUE(Probe(Frame({.level = 51, .widthMbs = 240, .heightMapUnits = 135}), s));
    EXPECT_EQ(s.codedWidth, 3840u);
    EXPECT_EQ(s.codedHeight, 2160u);
    EXPECT_EQ(s.height, 2160u);
    EXPECT_EQ(s.levelIdc, 51);
    ASSERT_TRUE(Probe(Frame({.profile = 77, .widthMbs = 162, .heightMapUnits = 122, .cropBottom = 4}), s));
    EXPECT_EQ(s.profileIdc, 77);
    EXPECT_EQ(s.codedWidth, 2592u);
    EXPECT_EQ(s.codedHeight, 1952u);
    EXPECT_EQ(s.width, 2592u);
    EXPECT_EQ(s.height, 1944u);
}

TEST(SpsProbe, CroppingOnEverySide) {
    SpsSummary s;
    const SpsOptions cropped{
        .widthMbs = 80, .heightMapUnits = 45, .cropLeft = 1, .cropRight = 2, .cropTop = 3, .cropBottom = 4};
    ASSERT_TRUE(Probe(Frame(cropped), s));
    EXPECT_EQ(s.cropLeft, 2u);
    EXPECT_EQ(s.cropRight, 4u);
    EXPECT_EQ(s.cropTop, 6u);
    EXPECT_EQ(s.cropBottom, 8u);
    EXPECT_EQ(s.width, 1274u);
    EXPECT_EQ(s.height, 706u);
    EXPECT_FALSE(Probe(Frame({.widthMbs = 80, .heightMapUnits = 45, .cropLeft = 320, .cropRight = 320}), s))
        << "nothing left";
}

TEST(SpsProbe, FieldsAfterEscapesAndScalingLists) {
    SpsSummary s;
    // Codes with 30 leading zeros: the set needs emulation-prevention bytes.
    const std::vector<uint8_t> escaped =
        Frame({.widthMbs = 44, .heightMapUnits = 36, .numRefFrames = 5, .pocType = 1, .pocOffset = 1 << 29});
    const uint8_t escape[3] = {0, 0, 3};
    ASSERT_NE(std::search(escaped.begin() + 4, escaped.end(), escape, escape + 3), escaped.end());
    ASSERT_TRUE(Probe(escaped, s));
    EXPECT_EQ(s.numRefFrames, 5u);
    EXPECT_EQ(s.width, 704u);
    EXPECT_EQ(s.height, 576u);
    ASSERT_TRUE(Probe(Frame({.profile = 100, .widthMbs = 80, .heightMapUnits = 45, .scalingMatrix = true}), s));
    EXPECT_EQ(s.profileIdc, 100);
    EXPECT_EQ(s.width, 1280u);
    EXPECT_EQ(s.height, 720u);
}

TEST(SpsProbe, RefusesWhatDoesNotQualify) {
    SpsSummary s;
    EXPECT_FALSE(Probe(Frame({}, false), s)) << "three-byte start code";
    std::vector<uint8_t> pps = Frame({});
    pps[4] = 0x68;
    EXPECT_FALSE(Probe(pps, s));
    std::vector<uint8_t> shortFrame = Frame({});
    ASSERT_TRUE(Probe(shortFrame, s));
    shortFrame.resize(15);
    EXPECT_FALSE(Probe(shortFrame, s)) << "under 16 bytes";
    EXPECT_FALSE(Probe(Frame({.widthMbs = 353}), s));
    // Cut where the size codes end (byte 12) and followed by another unit:
    // read on as zeros, the flags that remain would pass for a field-coded set.
    std::vector<uint8_t> cut = Frame({.widthMbs = 120, .heightMapUnits = 12, .pocType = 0});
    cut.resize(12);
    const std::vector<uint8_t> next = {0, 0, 1, 0x68, 0xCE, 0x38, 0x80, 0xFF, 0xFF, 0xFF};
    cut.insert(cut.end(), next.begin(), next.end());
    EXPECT_FALSE(Probe(cut, s));
}

TEST(SpsProbe, FirstAccessUnitOfAFieldStream) {
    const std::string path = std::string(TESSALY_TESTDATA) + "/h264/gen/jm_main_cavlc_352x288_field.264";
    const auto units = AccessUnits(ReadFile(path));
    ASSERT_FALSE(units.empty());
    SpsSummary s;
    ASSERT_TRUE(Probe(units[0], s));
    EXPECT_EQ(s.width, 352u);
    EXPECT_EQ(s.height, 288u);
    EXPECT_FALSE(s.frameMbsOnly);
    EXPECT_EQ(s.numRefFrames, 2u);
}
