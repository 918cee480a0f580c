// Reference marking, reference lists, output order and field pairing, seen
// through the content of the output pictures (see h264_stream_builder.h).
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "decoder_test_util.h"
#include "h264_stream_builder.h"
#include "h264dec/decoder_context.h"

using namespace h264test;

namespace {

using DecoderPtr = std::unique_ptr<H264Decoder, DecoderDeleter>;

TEST(Dpb, TwoIdenticalNonReferencePicturesAreTwoPictures) {
    DecoderPtr h(MakeDecoder(2, 6, 1));
    const auto stream = Stream({}, {Intra(0, 10), Intra(1, 20, 0), Intra(1, 30, 0)});
    EXPECT_EQ(Lumas(DecodeAll(h.get(), stream)), (std::vector<int>{10, 20, 30}));
}

TEST(Dpb, ReferenceListModificationPicksTheNamedFrame) {
    SpsOptions sps;
    sps.numRefFrames = 3;
    SliceOptions back2 = Skip(4);
    back2.listOps = {{0, 2}};  // PicNum 4 - 3 = 1: frame 1
    SliceOptions forward = Skip(5);
    forward.listOps = {{0, 4}};  // PicNum 5 - 5 = 0: frame 0
    // Frame 3 uses the default list: frame 2 first.
    DecoderPtr h(MakeDecoder(2, 6, 4));
    const auto out =
        DecodeAll(h.get(), Stream(sps, {Intra(0, 10), Intra(1, 20), Intra(2, 30), Skip(3), back2, forward}));
    // Frame 0 left the sliding window when frame 3 arrived: the third P slice
    // names a missing picture and is dropped, leaving its picture damaged.
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[3].luma, 30);
    EXPECT_EQ(out[4].luma, 20);
    EXPECT_EQ(out[5].pic.damaged, 1u);
}

TEST(Dpb, LongTermReferencesSurviveTheSlidingWindow) {
    SpsOptions sps;
    sps.numRefFrames = 2;
    SliceOptions idr = Intra(0, 10);
    idr.longTermIdr = true;  // LongTermFrameIdx 0
    SliceOptions useLong = Skip(4);
    useLong.listOps = {{2, 0}};  // long_term_pic_num 0
    // Frame 5 takes the short-term frame 4 first, a copy of 10.
    DecoderPtr h(MakeDecoder(2, 6, 2));
    const auto stream = Stream(sps, {idr, Intra(1, 20), Intra(2, 30), Intra(3, 40), useLong, Skip(5)});
    EXPECT_EQ(Lumas(DecodeAll(h.get(), stream)), (std::vector<int>{10, 20, 30, 40, 10, 10}));
}

TEST(Dpb, AdaptiveMarkingConvertsAndReleases) {
    SpsOptions sps;
    sps.numRefFrames = 3;
    SliceOptions convert = Intra(2, 30);
    convert.marking = {{4, 6}, {3, 0, 5}};  // indices up to 5; frame 1 (PicNum 2 - 1) becomes index 5 ...
    SliceOptions release = Intra(3, 40);
    release.marking = {{1, 0}};  // ... and frame 2 (PicNum 3 - 1) is released
    SliceOptions fromLong = Skip(4);
    fromLong.listOps = {{2, 5}};
    SliceOptions missing = Skip(5);
    missing.listOps = {{0, 2}};  // PicNum 2: frame 2, released above
    SliceOptions dropLong = Intra(6, 70);
    dropLong.marking = {{2, 5}};  // long_term_pic_num 5 unused
    SliceOptions gone = Skip(7);
    gone.listOps = {{2, 5}};
    DecoderPtr h(MakeDecoder(2, 6, 4));
    const auto out = DecodeAll(
        h.get(), Stream(sps, {Intra(0, 10), Intra(1, 20), convert, release, fromLong, missing, dropLong, gone}));
    ASSERT_EQ(out.size(), 8u);
    EXPECT_EQ(out[4].luma, 20);
    EXPECT_EQ(out[5].pic.damaged, 1u);
    EXPECT_EQ(out[6].luma, 70);
    EXPECT_EQ(out[7].pic.damaged, 1u);
}

// Operation 4 keeps long-term frames up to its maximum index, drops those above.
TEST(Dpb, MaxLongTermIndexKeepsItsOwnIndexAndDropsTheOneAbove) {
    SpsOptions sps;
    sps.numRefFrames = 3;
    SliceOptions idr = Intra(0, 10);
    idr.longTermIdr = true;  // LongTermFrameIdx 0
    SliceOptions second = Intra(1, 20);
    second.marking = {{4, 2}, {6, 1}};  // indices up to 1; this frame takes 1
    SliceOptions third = Intra(2, 30);
    third.marking = {{4, 1}};  // indices up to 0
    SliceOptions useIndex0 = Skip(3);
    useIndex0.listOps = {{2, 0}};
    SliceOptions useIndex1 = Skip(4);
    useIndex1.listOps = {{2, 1}};
    DecoderPtr h(MakeDecoder(2, 6, 4));
    const auto out = DecodeAll(h.get(), Stream(sps, {idr, second, third, useIndex0, useIndex1}));
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[3].luma, 10);
    EXPECT_EQ(out[3].pic.damaged, 0u) << "index 0 was within the maximum";
    EXPECT_EQ(out[4].pic.damaged, 1u) << "index 1 was above it";
}

// Redundant slices repeat a picture's primary slices; they are not decoded.
TEST(Dpb, RedundantSlicesAreDropped) {
    std::vector<SliceOptions> slices;
    for (int frame = 0; frame < 3; ++frame) {
        SliceOptions primary = Intra(frame, 10 + 10 * frame);
        primary.redundantPicCnt = 0;
        SliceOptions redundant = primary;
        redundant.redundantPicCnt = 1;
        redundant.luma = 99;
        slices.push_back(primary);
        slices.push_back(redundant);
    }
    PpsOptions pps;
    pps.redundantPicCnt = true;
    DecoderPtr h(MakeDecoder(2, 6, 1));
    EXPECT_EQ(Lumas(DecodeAll(h.get(), Stream({}, slices, pps))), (std::vector<int>{10, 20, 30}));
}

TEST(Dpb, FrameNumGapsMakeFramesThatAreNeverOutput) {
    SpsOptions sps;
    sps.numRefFrames = 2;
    sps.gapsAllowed = true;
    SliceOptions p = Skip(6);
    p.listOps = {{0, 0}};  // PicNum 5: frame 5
    SliceOptions old = Skip(7);
    old.listOps = {{0, 5}};  // PicNum 1: pushed out by the non-existing frames 2, 3 and 4
    DecoderPtr h(MakeDecoder(2, 6, 2));
    const auto out = DecodeAll(h.get(), Stream(sps, {Intra(0, 10), Intra(1, 20), Intra(5, 30), p, old}));
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[2].luma, 30);
    EXPECT_EQ(out[3].luma, 30);
    EXPECT_EQ(out[4].pic.damaged, 1u);
}

TEST(Dpb, BackwardFrameNumWithoutGapsWaitsForIntra) {
    // A forward gap is accepted; frame 2 goes backwards and is refused, and
    // what follows is dropped until an intra slice.
    const auto stream = Stream({}, {Intra(0, 10), Intra(1, 20), Intra(3, 30), Skip(2), Skip(3), Intra(4, 60), Skip(5)});
    DecoderPtr h(MakeDecoder(2, 6, 1));
    EXPECT_EQ(Lumas(DecodeAll(h.get(), stream)), (std::vector<int>{10, 20, 30, 60, 60}));
}

SpsOptions FieldSps() {
    SpsOptions sps;
    sps.frameMbsOnly = false;
    sps.heightMapUnits = 3;  // 6 macroblock rows per frame, 3 per field
    sps.numRefFrames = 2;
    return sps;
}

SliceOptions Field(int frameNum, int parity, int luma, bool idr = false) {
    SliceOptions s;
    s.idr = idr;
    s.frameNum = frameNum;
    s.field = parity;
    s.luma = uint8_t(luma);
    return s;
}

TEST(Dpb, LoneFieldBeforeAFrameQueuesTwoPictures) {
    const auto bytes = Stream(FieldSps(), {Field(0, 1, 10, true), Intra(1, 20), Intra(2, 30), Intra(3, 40)});
    DecoderPtr h(MakeDecoder(2, 6, 2));
    Out o = DecodeCall(h.get(), bytes.data(), bytes.size());
    ASSERT_EQ(o.result, DEC_OK);
    EXPECT_EQ(o.luma, 10);
    EXPECT_EQ(o.bottomLuma, 0);  // never written: black from creation
    // The frame is queued too, but comes only after the next processed unit.
    EXPECT_EQ(DecodeCall(h.get(), nullptr, 0).result, DEC_NEED_MORE_DATA);
    for (int luma : {20, 30, 40}) {
        o = DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM);
        ASSERT_EQ(o.result, DEC_OK);
        EXPECT_EQ(o.luma, luma);
    }
    EXPECT_EQ(DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM).result, DEC_NO_PICTURE);
}

TEST(Dpb, FieldMergeHandsOutInterlacedPicturesFromTheOutputBuffer) {
    SliceOptions top = Field(0, 1, 10, true);
    top.chroma = 100;
    SliceOptions bottom = Field(0, 2, 50);
    bottom.chroma = 200;
    DecoderPtr h(MakeDecoder(2, 6, 2, DEC_MODE_FIELD_MERGE));
    const auto out = DecodeAll(h.get(), Stream(FieldSps(), {top, bottom}));
    ASSERT_EQ(out.size(), 1u);
    const DecodedPicture &p = out[0].pic;
    EXPECT_EQ(p.y, h->outputBuffer);
    EXPECT_EQ(out[0].luma, 10);
    EXPECT_EQ(out[0].bottomLuma, 50);
    EXPECT_EQ(p.u[0], 100);
    EXPECT_EQ(p.u[p.uvStride], 100);  // chroma lines of the first field doubled
    EXPECT_EQ(p.v[3 * p.uvStride], 100);
    EXPECT_EQ(h->historyPlane[0], 1);

    // Progressive sequences are handed out from their own buffers.
    DecoderPtr g(MakeDecoder(2, 6, 2, DEC_MODE_FIELD_MERGE));
    const auto progressive = DecodeAll(g.get(), Stream({}, {Intra(0, 10)}));
    ASSERT_EQ(progressive.size(), 1u);
    EXPECT_NE(progressive[0].pic.y, g->outputBuffer);
}

}  // namespace
