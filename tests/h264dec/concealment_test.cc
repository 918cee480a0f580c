// Concealment of what a stream lost, on a CIF stream of three GOPs with one
// access unit delimiter per picture and frame_num wrapping at 16: macroblocks
// of a cut picture come from the picture before, and lost pictures are a
// gap to fill, also across the frame_num wrap, not a reason to stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "decoder_test_util.h"

using namespace h264test;

namespace {

constexpr size_t kWidth = 352, kHeight = 288, kPictureBytes = kWidth * kHeight * 3 / 2;

struct Shown {
    uint32_t unit;  // the access unit it came from
    bool damaged;
    std::vector<uint8_t> yuv;
};

// The stream's access units: each begins at its delimiter (type 9).
std::vector<std::vector<uint8_t>> Units(const std::vector<uint8_t> &s) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 4 < s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 0 && s[i + 3] == 1 && (s[i + 4] & 0x1F) == 9) starts.push_back(i);
    starts.push_back(s.size());
    std::vector<std::vector<uint8_t>> units;
    for (size_t k = 0; k + 1 < starts.size(); ++k)
        units.emplace_back(s.begin() + ptrdiff_t(starts[k]), s.begin() + ptrdiff_t(starts[k + 1]));
    return units;
}

// Decodes unit by unit after `damage` had its way with each (an empty unit is
// lost). With flags 0, as a live port feeds it, a picture ends only when the
// next unit begins, and its `unit` is that one's.
std::vector<Shown> Decode(const std::vector<std::vector<uint8_t>> &units,
                          const std::function<void(size_t, std::vector<uint8_t> &)> &damage,
                          uint32_t flags = DEC_FLAG_END_OF_ACCESS_UNIT) {
    std::unique_ptr<H264Decoder, DecoderDeleter> h(MakeDecoder(44, 36, 4));
    std::vector<Shown> shown;
    const auto keep = [&](const DecodedPicture &p) {
        Shown s{p.userLow, p.damaged != 0, {}};
        if (p.width != kWidth || p.height != kHeight) return shown.push_back(std::move(s));  // kept as a count
        s.yuv.resize(kPictureBytes);
        std::memcpy(s.yuv.data(), p.y, kWidth * kHeight);
        std::memcpy(s.yuv.data() + kWidth * kHeight, p.u, kWidth * kHeight / 4);
        std::memcpy(s.yuv.data() + kWidth * kHeight * 5 / 4, p.v, kWidth * kHeight / 4);
        shown.push_back(std::move(s));
    };
    DecodedPicture pic;
    for (size_t n = 0; n < units.size(); ++n) {
        std::vector<uint8_t> unit = units[n];
        damage(n, unit);
        if (unit.empty()) continue;
        for (int r = H264Decoder_Decode(h.get(), unit.data(), uint32_t(unit.size()), uint32_t(n), 0, &pic, flags);
             r == DEC_OK; r = H264Decoder_Decode(h.get(), nullptr, 0, 0, 0, &pic, flags))
            keep(pic);
    }
    while (H264Decoder_Decode(h.get(), nullptr, 0, 0, 0, &pic, DEC_FLAG_END_OF_STREAM) == DEC_OK) keep(pic);
    return shown;
}

bool SameRows(const Shown &a, const Shown &b, size_t firstRow, size_t rows) {
    const size_t from = firstRow * kWidth, to = from + rows * kWidth;
    return std::equal(a.yuv.begin() + ptrdiff_t(from), a.yuv.begin() + ptrdiff_t(to), b.yuv.begin() + ptrdiff_t(from));
}

size_t LeadingSameRows(const Shown &a, const Shown &b) {
    size_t row = 0;
    while (row < kHeight && SameRows(a, b, row, 1)) ++row;
    return row;
}

class Concealment : public ::testing::Test {
protected:
    void SetUp() override {
        units_ = Units(ReadStream("gen/bl_cavlc_352x288_gop25.264"));
        ASSERT_EQ(units_.size(), 75u);
        clean_ = Decode(units_, [](size_t, std::vector<uint8_t> &) {});
        ASSERT_EQ(clean_.size(), 75u);
        for (const Shown &s : clean_) EXPECT_FALSE(s.damaged);
    }

    std::vector<std::vector<uint8_t>> units_;
    std::vector<Shown> clean_;
};

// Fed as a live port feeds it; also when the cut picture is closed by a D1
// key frame, whose parameter sets are active by then.
TEST_F(Concealment, MacroblocksACutPictureLostComeFromThePictureBefore) {
    const auto cut = [](size_t n, std::vector<uint8_t> &unit) {
        if (n == 10) unit.resize(unit.size() / 2);
    };
    const auto shown = Decode(units_, cut, 0);
    ASSERT_EQ(shown.size(), 75u);
    EXPECT_FALSE(shown[9].damaged);
    EXPECT_TRUE(shown[10].damaged);
    // The top macroblock rows decoded (bar the rows the filter of the edge
    // below may still change); the bottom one was lost and is picture 9's.
    const size_t decodedRows = LeadingSameRows(shown[10], clean_[10]);
    EXPECT_GE(decodedRows, 12u);
    EXPECT_LT(decodedRows, kHeight - 16);
    EXPECT_TRUE(SameRows(shown[10], clean_[9], kHeight - 16, 16));

    auto units = units_;
    const auto larger = Units(ReadStream("gen/bl_cavlc_704x576_gop25.264"));
    ASSERT_FALSE(larger.empty());
    units.resize(11);
    units.insert(units.end(), larger.begin(), larger.begin() + 2);
    const auto then = Decode(units, cut, 0);
    ASSERT_EQ(then.size(), units.size());
    EXPECT_TRUE(then[10].damaged);
    EXPECT_EQ(then[10].yuv, shown[10].yuv);
}

TEST_F(Concealment, LostPicturesAcrossTheFrameNumWrapAreAGapAndALostIdrWaits) {
    // Units 15 and 16 carry frame_num 15 and 0: the next one's 1 comes after
    // a gap of two, not before them. Unit 25 is the second IDR: its GOP has
    // nothing to refer to and waits for the third.
    const auto shown = Decode(units_, [](size_t n, std::vector<uint8_t> &unit) {
        if (n == 15 || n == 16 || n == 25) unit.clear();
    });
    std::vector<uint32_t> from;
    for (const Shown &s : shown) from.push_back(s.unit);
    std::vector<uint32_t> expected;
    for (uint32_t n = 0; n < 75; ++n)
        if (n != 15 && n != 16 && (n < 25 || n >= 50)) expected.push_back(n);
    ASSERT_EQ(from, expected);
    for (size_t k = 0; k < shown.size(); ++k) {
        EXPECT_FALSE(shown[k].damaged) << "a lost picture conceals no macroblock";
        if (shown[k].unit < 15 || shown[k].unit >= 50) {
            EXPECT_EQ(shown[k].yuv, clean_[shown[k].unit].yuv) << "picture " << shown[k].unit;
        }
    }
}

}  // namespace
