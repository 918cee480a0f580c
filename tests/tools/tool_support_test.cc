// The tools' stream helpers against the committed corpus (whose .md5 files
// give one line per frame) and against hand-made and hostile byte streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "annexb_access_units.h"
#include "h264dec/bitstream/sps_summary.h"

namespace {

using tessaly::tools::ByteRange;
using tessaly::tools::NalUnit;

const std::string kData = TESSALY_TESTDATA;

std::vector<uint8_t> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

size_t LineCount(const std::string &path) {
    std::ifstream in(path);
    size_t lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    return lines;
}

struct CorpusStream {
    const char *name;  // under testdata/, without .264
    size_t pictures;   // access units: frames, or fields for field-coded streams
};

// One access unit per frame whatever the slicing: a single slice, four
// slices, size-limited slices, up to 12 slices (JVT), access unit delimiters,
// field pictures (each field is an access unit).
TEST(AccessUnits, OnePerPictureInCorpusStreams) {
    const CorpusStream streams[] = {
        {"sample/camera_704x576_25fps", 0},
        {"h264/gen/main_cabac_704x576_slices4", 0},
        {"h264/gen/bl_cavlc_704x576_slicemaxsize", 0},
        {"h264/gen/bl_cavlc_704x576_gop25", 0},
        {"h264/conf/BA1_FT_C", 0},
        {"h264/gen/jm_main_cavlc_352x288_field", 60},
    };
    for (const CorpusStream &stream : streams) {
        SCOPED_TRACE(stream.name);
        const std::vector<uint8_t> bytes = ReadFile(kData + "/" + stream.name + ".264");
        ASSERT_FALSE(bytes.empty());
        const size_t expected = stream.pictures ? stream.pictures : LineCount(kData + "/" + stream.name + ".md5");
        const std::vector<ByteRange> units = tessaly::tools::SplitAccessUnits(bytes.data(), bytes.size());
        ASSERT_EQ(units.size(), expected);
        // Back to back over the whole file; where units begin is the hand-made stream's test.
        size_t end = 0;
        for (const ByteRange &unit : units) {
            ASSERT_EQ(unit.offset, end);
            end += unit.size;
        }
        EXPECT_EQ(end, bytes.size());
    }
}

// NAL units: 4-byte SPS, 3-byte PPS, slice (firstMb 0), 3-byte slice with
// firstMb 5 (same picture), SEI (new unit), slice firstMb 0, then a slice
// firstMb 0 directly after a slice (new unit), with trailing zero bytes.
TEST(AccessUnits, BoundariesAndStartCodesKeptAsWritten) {
    const std::vector<uint8_t> s = {
        0, 0, 0, 1,    0x67, 0x42, 0x00, 0x1e,  // SPS (0..7)
        0, 0, 1, 0x68, 0xce,                    // PPS (8..12)
        0, 0, 0, 1,    0x65, 0x88, 0x80,        // IDR slice, firstMb ue '1' = 0 (13..19)
        0, 0, 1, 0x65, 0x30, 0x80,              // IDR slice, firstMb ue '00110' = 5 (20..25)
        0, 0, 0, 1,    0x06, 0x05, 0x80,        // SEI after a slice: new unit (26..32)
        0, 0, 0, 1,    0x41, 0x9a, 0x80,        // P slice firstMb 0 (33..39)
        0, 0, 1, 0x41, 0x9a, 0x80, 0,    0,     // P slice firstMb 0 after a slice: new unit (40..47)
    };
    const std::vector<ByteRange> units = tessaly::tools::SplitAccessUnits(s.data(), s.size());
    std::vector<std::pair<size_t, size_t>> got;
    for (const ByteRange &unit : units) got.emplace_back(unit.offset, unit.size);
    EXPECT_EQ(got, (std::vector<std::pair<size_t, size_t>>{{0, 26}, {26, 14}, {40, 8}}));
}

TEST(AccessUnits, NothingWithoutStartCodeAndNoReadsOutsideOnNoise) {
    const std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'h', '2', '6', '4'};
    EXPECT_TRUE(tessaly::tools::SplitAccessUnits(text.data(), text.size()).empty());
    EXPECT_EQ(tessaly::tools::FindFirstSps(text.data(), text.size()).size, 0u);
    EXPECT_TRUE(tessaly::tools::SplitAccessUnits(nullptr, 0).empty());
    // Dense start codes, empty NAL units and cut-off headers: every unit stays
    // inside the buffer and the units never overlap.
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> s(1 + random() % 200);
        for (uint8_t &b : s) b = static_cast<uint8_t>(random() % 4 == 0 ? random() : random() % 2);
        size_t end = 0;
        for (const ByteRange &unit : tessaly::tools::SplitAccessUnits(s.data(), s.size())) {
            ASSERT_GE(unit.offset, end);
            ASSERT_LE(unit.offset + unit.size, s.size());
            end = unit.offset + unit.size;
        }
    }
}

struct SpsCase {
    const char *name;
    uint32_t width, height;
    double fps;  // 0: no timing information
};

// VUI timing present and absent; cropping (1088 -> 1080) and scaling lists on
// the way to it. Field coding and the other size fields are the probe tests'.
TEST(SpsTiming, SizeAndFrameRateOfCorpusStreams) {
    const SpsCase cases[] = {
        {"sample/camera_704x576_25fps", 704, 576, 25},
        {"h264/gen/high_cabac_8x8_1920x1080", 1920, 1080, 25},
        {"h264/jm/d_scaling_sps_cabac_cif", 352, 288, 0},
    };
    for (const SpsCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = ReadFile(kData + "/" + c.name + ".264");
        const ByteRange sps = tessaly::tools::FindFirstSps(bytes.data(), bytes.size());
        ASSERT_GT(sps.size, 0u);
        tessaly::h264::SpsSummary summary;
        ASSERT_TRUE(tessaly::h264::ParseSpsSummary(bytes.data() + sps.offset, sps.size, &summary));
        EXPECT_EQ(summary.width, c.width);
        EXPECT_EQ(summary.height, c.height);
        EXPECT_EQ(summary.hasTiming, c.fps != 0);
        EXPECT_DOUBLE_EQ(summary.FrameRate(), c.fps);
    }
}

// Every prefix and every single-bit change of a real SPS (with scaling lists
// and VUI) is parsed or refused without reading outside it (the sanitizer
// builds catch any stray read).
TEST(SpsTiming, TruncatedAndCorruptedSetsAreRefusedSafely) {
    for (const char *name : {"sample/camera_704x576_25fps", "h264/jm/d_scaling_sps_cabac_cif"}) {
        const std::vector<uint8_t> bytes = ReadFile(kData + "/" + name + ".264");
        const ByteRange sps = tessaly::tools::FindFirstSps(bytes.data(), bytes.size());
        ASSERT_GT(sps.size, 4u);
        const std::vector<uint8_t> whole(bytes.begin() + sps.offset, bytes.begin() + sps.offset + sps.size);
        tessaly::h264::SpsSummary summary;
        for (size_t length = 0; length < whole.size() - 1; ++length) {
            std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);  // exact size: overreads are caught
            if (tessaly::h264::ParseSpsSummary(cut.data(), cut.size(), &summary)) {
                EXPECT_LE(summary.width, 5632u);
            }
        }
        for (size_t bit = 0; bit < whole.size() * 8; ++bit) {
            std::vector<uint8_t> flipped = whole;
            flipped[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
            if (tessaly::h264::ParseSpsSummary(flipped.data(), flipped.size(), &summary)) {
                EXPECT_GT(summary.width, 0u);
                EXPECT_GT(summary.height, 0u);
                if (summary.hasTiming) {
                    EXPECT_GT(summary.FrameRate(), 0);
                }
            }
        }
    }
}

}  // namespace
