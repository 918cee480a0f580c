// The tools' stream helpers against the committed corpus and against
// hand-made and hostile byte streams.
#include <gtest/gtest.h>

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

// A committed stream, named under testdata/ without .264.
std::vector<uint8_t> ReadStream(const std::string &name) {
    std::ifstream in(std::string(TESSALY_TESTDATA) + "/" + name + ".264", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// One access unit per frame whatever the slicing: a single slice, four
// slices, size-limited slices, up to 12 slices (JVT), access unit delimiters,
// field pictures (each field is an access unit). The counts are the lines of
// each stream's .md5 file.
TEST(AccessUnits, OnePerPictureInCorpusStreams) {
    const std::pair<const char *, size_t> streams[] = {
        {"sample/camera_704x576_25fps", 375},
        {"h264/gen/main_cabac_704x576_slices4", 50},
        {"h264/gen/bl_cavlc_704x576_slicemaxsize", 25},
        {"h264/gen/bl_cavlc_704x576_gop25", 75},
        {"h264/conf/BA1_FT_C", 299},
        {"h264/gen/jm_main_cavlc_352x288_field", 60},
    };
    for (const auto &[name, pictures] : streams) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = ReadStream(name);
        ASSERT_FALSE(bytes.empty());
        const std::vector<ByteRange> units = tessaly::tools::SplitAccessUnits(bytes.data(), bytes.size());
        ASSERT_EQ(units.size(), pictures);
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
    std::vector<std::pair<size_t, size_t>> got;
    for (const ByteRange &unit : tessaly::tools::SplitAccessUnits(s.data(), s.size()))
        got.emplace_back(unit.offset, unit.size);
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

// Timing present and absent (the second set also carries scaling lists);
// every prefix and every single-bit change of each set is parsed or refused
// without reading outside it (the sanitizer builds catch any stray read).
// The size fields are the probe tests'.
TEST(SpsSummary, TimingAndDamagedSetsRefusedSafely) {
    for (const auto &[name, fps] :
         {std::pair{"sample/camera_704x576_25fps", 25.0}, {"h264/jm/d_scaling_sps_cabac_cif", 0.0}}) {
        const std::vector<uint8_t> bytes = ReadStream(name);
        const ByteRange sps = tessaly::tools::FindFirstSps(bytes.data(), bytes.size());
        ASSERT_GT(sps.size, 4u);
        const std::vector<uint8_t> whole(bytes.begin() + sps.offset, bytes.begin() + sps.offset + sps.size);
        tessaly::h264::SpsSummary summary;
        ASSERT_TRUE(tessaly::h264::ParseSpsSummary(whole.data(), whole.size(), &summary));
        EXPECT_EQ(summary.hasTiming, fps != 0) << name;
        EXPECT_DOUBLE_EQ(summary.FrameRate(), fps) << name;
        for (size_t length = 0; length < whole.size() - 1; ++length) {
            std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);  // exact size: overreads are caught
            EXPECT_TRUE(!tessaly::h264::ParseSpsSummary(cut.data(), cut.size(), &summary) || summary.width <= 5632);
        }
        for (size_t bit = 0; bit < whole.size() * 8; ++bit) {
            std::vector<uint8_t> flipped = whole;
            flipped[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
            if (!tessaly::h264::ParseSpsSummary(flipped.data(), flipped.size(), &summary)) continue;
            EXPECT_TRUE(summary.width > 0 && summary.height > 0) << "bit " << bit;
            EXPECT_TRUE(!summary.hasTiming || summary.FrameRate() > 0) << "bit " << bit;
        }
    }
}

}  // namespace
