#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "decoder_test_util.h"
#include "h264_stream_builder.h"
#include "h264dec/bitstream/param_sets.h"
#include "h264dec/decoder_context.h"

using namespace h264test;
using namespace tessaly::h264;

namespace {

using DecoderPtr = std::unique_ptr<H264Decoder, DecoderDeleter>;

void Feed(H264Decoder *h, const std::vector<uint8_t> &units) {
    std::vector<uint8_t> bytes = units;
    Append(bytes, {0, 0, 0, 1});  // close the last unit
    DecodedPicture pic;
    for (int r = H264Decoder_Decode(h, bytes.data(), uint32_t(bytes.size()), 0, 0, &pic, 0); r == DEC_OK;
         r = H264Decoder_Decode(h, nullptr, 0, 0, 0, &pic, 0)) {}
}

struct RefusedSps {
    const char *what;
    SpsOptions options;
};

TEST(ParameterSets, UnsupportedSequenceSetsAreRefusedAndTheStateStays) {
    // The decoder is sized for 11x9 macroblocks and two reference frames.
    for (const RefusedSps &c :
         {RefusedSps{"profile 88", {.profile = 88}}, RefusedSps{"4:2:2", {.profile = 100, .chromaFormat = 2}},
          RefusedSps{"10 bit", {.profile = 100, .bitDepthLumaMinus8 = 2}},
          RefusedSps{"num_ref_frames 3", {.numRefFrames = 3}}, RefusedSps{"too wide", {.widthMbs = 12}},
          RefusedSps{"too tall", {.heightMapUnits = 10}}, RefusedSps{"one column", {.widthMbs = 1}},
          // 10 macroblock rows as a frame
          RefusedSps{"field map units", {.heightMapUnits = 5, .frameMbsOnly = false}}}) {
        DecoderPtr h(MakeDecoder(11, 9, 2));
        ASSERT_TRUE(h);
        Feed(h.get(), SpsNal(c.options));
        EXPECT_EQ(h->state, StreamState::kWaitSps) << c.what;
        EXPECT_EQ(h->spsStore[0].id, uint32_t(kMaxSps)) << c.what;
    }
    // The same decoder accepts what fits exactly.
    DecoderPtr h(MakeDecoder(11, 9, 2));
    Feed(h.get(), SpsNal({.widthMbs = 11, .heightMapUnits = 9, .numRefFrames = 2}));
    EXPECT_EQ(h->state, StreamState::kWaitPps);
    EXPECT_EQ(h->spsStore[0].widthMbs, 11u);
}

TEST(ParameterSets, RefusedSequenceSetLeavesTheStoredOneInPlace) {
    DecoderPtr h(MakeDecoder(11, 9, 2));
    SpsOptions good;
    good.widthMbs = 4;
    Feed(h.get(), SpsNal(good));
    SpsOptions bad = good;
    bad.widthMbs = 6;
    bad.numRefFrames = 5;
    Feed(h.get(), SpsNal(bad));
    EXPECT_EQ(h->spsStore[0].widthMbs, 4u);
    // A new, valid size replaces it.
    bad.numRefFrames = 1;
    Feed(h.get(), SpsNal(bad));
    EXPECT_EQ(h->spsStore[0].widthMbs, 6u);
}

TEST(ParameterSets, WeightedBipredictionDropsThePictureSetAndItsSlices) {
    DecoderPtr h(MakeDecoder(2, 6, 2));
    PpsOptions weighted;
    weighted.weightedBipredIdc = 2;
    EXPECT_TRUE(DecodeAll(h.get(), Stream({}, {Intra(0, 10)}, weighted)).empty());
    EXPECT_EQ(h->state, StreamState::kWaitPps);
    EXPECT_EQ(h->ppsStore[0].id, uint32_t(kMaxPps));

    // A PPS naming a sequence set that was never stored is refused too.
    PpsOptions orphan;
    orphan.id = 3;
    orphan.spsId = 7;
    Feed(h.get(), PpsNal(orphan));
    EXPECT_EQ(h->ppsStore[3].id, uint32_t(kMaxPps));
    EXPECT_EQ(h->state, StreamState::kWaitPps);
}

TEST(ParameterSets, DpbSizeFollowsLevelAndBufferCount) {
    Sps sps;
    sps.widthMbs = 11;
    sps.frameHeightMbs = 9;
    sps.levelIdc = 30;  // 3110400 bytes: 81 QCIF frames, capped at 16
    sps.numRefFrames = 1;
    EXPECT_EQ(DpbSizeFor(sps, 2), 4u);
    EXPECT_EQ(DpbSizeFor(sps, 16), 16u);
    sps.levelIdc = 10;  // 152064 bytes: 4 QCIF frames
    EXPECT_EQ(DpbSizeFor(sps, 16), 4u);
    sps.numRefFrames = 6;  // never below num_ref_frames
    EXPECT_EQ(DpbSizeFor(sps, 16), 6u);
    sps.levelIdc = 99;  // unknown level: 16
    sps.numRefFrames = 1;
    EXPECT_EQ(DpbSizeFor(sps, 16), 16u);
    sps.widthMbs = 120;
    sps.frameHeightMbs = 68;
    sps.levelIdc = 40;  // 12582912 / (384 * 8160) = 4
    EXPECT_EQ(DpbSizeFor(sps, 16), 4u);
}

}  // namespace
