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

class StreamBuilder {
public:
    explicit StreamBuilder(const SpsOptions &sps) : sps_(sps) {
        bytes_ = SpsNal(sps);
        Append(bytes_, PpsNal());
    }
    StreamBuilder &Add(const SliceOptions &s) {
        Append(bytes_, SliceNal(sps_, s));
        return *this;
    }
    const std::vector<uint8_t> &Bytes() const { return bytes_; }

private:
    SpsOptions sps_;
    std::vector<uint8_t> bytes_;
};

SliceOptions Intra(int frameNum, int luma, int refIdc = 1) {
    SliceOptions s;
    s.idr = frameNum == 0 && refIdc && luma == 10;
    s.frameNum = frameNum;
    s.luma = uint8_t(luma);
    s.refIdc = refIdc;
    return s;
}

SliceOptions Skip(int frameNum, int refIdc = 1) {
    SliceOptions s;
    s.intra = false;
    s.frameNum = frameNum;
    s.refIdc = refIdc;
    return s;
}

TEST(Dpb, TwoIdenticalNonReferencePicturesAreTwoPictures) {
    SpsOptions sps;
    StreamBuilder b(sps);
    b.Add(Intra(0, 10)).Add(Intra(1, 20, 0)).Add(Intra(1, 30, 0));
    DecoderPtr h(MakeDecoder(2, 6, 1));
    EXPECT_EQ(Lumas(DecodeAll(h.get(), b.Bytes())), (std::vector<int>{10, 20, 30}));
}

TEST(Dpb, ReferenceListModificationPicksTheNamedFrame) {
    SpsOptions sps;
    sps.numRefFrames = 3;
    StreamBuilder b(sps);
    b.Add(Intra(0, 10)).Add(Intra(1, 20)).Add(Intra(2, 30));
    SliceOptions plain = Skip(3);
    b.Add(plain);  // default list: frame 2 first
    SliceOptions back2 = Skip(4);
    back2.listOps = {{0, 2}};  // PicNum 4 - 3 = 1: frame 1
    b.Add(back2);
    SliceOptions forward = Skip(5);
    forward.listOps = {{0, 4}};  // PicNum 5 - 5 = 0: frame 0
    b.Add(forward);
    DecoderPtr h(MakeDecoder(2, 6, 4));
    const auto out = DecodeAll(h.get(), b.Bytes());
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
    StreamBuilder b(sps);
    SliceOptions idr = Intra(0, 10);
    idr.longTermIdr = true;  // LongTermFrameIdx 0
    b.Add(idr).Add(Intra(1, 20)).Add(Intra(2, 30)).Add(Intra(3, 40));
    SliceOptions useLong = Skip(4);
    useLong.listOps = {{2, 0}};  // long_term_pic_num 0
    b.Add(useLong);
    SliceOptions plain = Skip(5);  // short-term first: frame 4, a copy of 10
    b.Add(plain);
    DecoderPtr h(MakeDecoder(2, 6, 2));
    EXPECT_EQ(Lumas(DecodeAll(h.get(), b.Bytes())), (std::vector<int>{10, 20, 30, 40, 10, 10}));
}

TEST(Dpb, AdaptiveMarkingConvertsAndReleases) {
    SpsOptions sps;
    sps.numRefFrames = 3;
    StreamBuilder b(sps);
    b.Add(Intra(0, 10)).Add(Intra(1, 20));
    SliceOptions convert = Intra(2, 30);
    convert.marking = {{4, 6}, {3, 0, 5}};  // indices up to 5; frame 1 (PicNum 2 - 1) becomes index 5 ...
    b.Add(convert);
    SliceOptions release = Intra(3, 40);
    release.marking = {{1, 0}};  // ... and frame 2 (PicNum 3 - 1) is released
    b.Add(release);
    SliceOptions fromLong = Skip(4);
    fromLong.listOps = {{2, 5}};
    b.Add(fromLong);
    SliceOptions missing = Skip(5);
    missing.listOps = {{0, 2}};  // PicNum 2: frame 2, released above
    b.Add(missing);
    SliceOptions dropLong = Intra(6, 70);
    dropLong.marking = {{2, 5}};  // long_term_pic_num 5 unused
    b.Add(dropLong);
    SliceOptions gone = Skip(7);
    gone.listOps = {{2, 5}};
    b.Add(gone);
    DecoderPtr h(MakeDecoder(2, 6, 4));
    const auto out = DecodeAll(h.get(), b.Bytes());
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
    StreamBuilder b(sps);
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
    b.Add(idr).Add(second).Add(third).Add(useIndex0).Add(useIndex1);
    DecoderPtr h(MakeDecoder(2, 6, 4));
    const auto out = DecodeAll(h.get(), b.Bytes());
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[3].luma, 10);
    EXPECT_EQ(out[3].pic.damaged, 0u) << "index 0 was within the maximum";
    EXPECT_EQ(out[4].pic.damaged, 1u) << "index 1 was above it";
}

// Redundant slices repeat a picture's primary slices; they are not decoded.
TEST(Dpb, RedundantSlicesAreDropped) {
    SpsOptions sps;
    std::vector<uint8_t> bytes = SpsNal(sps);
    PpsOptions pps;
    pps.redundantPicCnt = true;
    Append(bytes, PpsNal(pps));
    for (int frame = 0; frame < 3; ++frame) {
        SliceOptions primary = Intra(frame, 10 + 10 * frame);
        primary.redundantPicCnt = 0;
        SliceOptions redundant = primary;
        redundant.redundantPicCnt = 1;
        redundant.luma = 99;
        Append(bytes, SliceNal(sps, primary));
        Append(bytes, SliceNal(sps, redundant));
    }
    DecoderPtr h(MakeDecoder(2, 6, 1));
    EXPECT_EQ(Lumas(DecodeAll(h.get(), bytes)), (std::vector<int>{10, 20, 30}));
}

TEST(Dpb, FrameNumGapsMakeFramesThatAreNeverOutput) {
    SpsOptions sps;
    sps.numRefFrames = 2;
    sps.gapsAllowed = true;
    StreamBuilder b(sps);
    b.Add(Intra(0, 10)).Add(Intra(1, 20)).Add(Intra(5, 30));  // 2, 3, 4 missing
    SliceOptions p = Skip(6);
    p.listOps = {{0, 0}};  // PicNum 5: frame 5
    b.Add(p);
    SliceOptions old = Skip(7);
    old.listOps = {{0, 5}};  // PicNum 1: pushed out by the non-existing frames
    b.Add(old);
    DecoderPtr h(MakeDecoder(2, 6, 2));
    const auto out = DecodeAll(h.get(), b.Bytes());
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[2].luma, 30);
    EXPECT_EQ(out[3].luma, 30);
    EXPECT_EQ(out[4].pic.damaged, 1u);
}

TEST(Dpb, BackwardFrameNumWithoutGapsWaitsForIntra) {
    SpsOptions sps;
    StreamBuilder b(sps);
    b.Add(Intra(0, 10)).Add(Intra(1, 20)).Add(Intra(3, 30));  // forward gap: accepted
    b.Add(Skip(2));                                           // backwards: refused
    b.Add(Skip(3));                                           // dropped until an intra slice
    b.Add(Intra(4, 60)).Add(Skip(5));
    DecoderPtr h(MakeDecoder(2, 6, 1));
    EXPECT_EQ(Lumas(DecodeAll(h.get(), b.Bytes())), (std::vector<int>{10, 20, 30, 60, 60}));
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
    StreamBuilder b(FieldSps());
    b.Add(Field(0, 1, 10, true));
    b.Add(Intra(1, 20)).Add(Intra(2, 30)).Add(Intra(3, 40));
    DecoderPtr h(MakeDecoder(2, 6, 2));
    const std::vector<uint8_t> &bytes = b.Bytes();
    Out o = DecodeCall(h.get(), bytes.data(), bytes.size());
    ASSERT_EQ(o.result, DEC_OK);
    EXPECT_EQ(o.luma, 10);
    EXPECT_EQ(o.bottomLuma, 0);  // never written: black from creation
    // The frame is queued too, but comes only after the next processed unit.
    EXPECT_EQ(DecodeCall(h.get(), nullptr, 0).result, DEC_NEED_MORE_DATA);
    o = DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM);
    ASSERT_EQ(o.result, DEC_OK);
    EXPECT_EQ(o.luma, 20);
    o = DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM);
    ASSERT_EQ(o.result, DEC_OK);
    EXPECT_EQ(o.luma, 30);
    o = DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM);
    ASSERT_EQ(o.result, DEC_OK);
    EXPECT_EQ(o.luma, 40);
    EXPECT_EQ(DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM).result, DEC_NO_PICTURE);
}

}  // namespace

namespace {

TEST(Dpb, FieldMergeHandsOutInterlacedPicturesFromTheOutputBuffer) {
    StreamBuilder b(FieldSps());
    SliceOptions top = Field(0, 1, 10, true);
    top.chroma = 100;
    SliceOptions bottom = Field(0, 2, 50);
    bottom.chroma = 200;
    b.Add(top).Add(bottom);
    DecoderPtr h(MakeDecoder(2, 6, 2, DEC_MODE_FIELD_MERGE));
    const auto out = DecodeAll(h.get(), b.Bytes());
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
    SpsOptions frames;
    StreamBuilder f(frames);
    f.Add(Intra(0, 10));
    DecoderPtr g(MakeDecoder(2, 6, 2, DEC_MODE_FIELD_MERGE));
    const auto progressive = DecodeAll(g.get(), f.Bytes());
    ASSERT_EQ(progressive.size(), 1u);
    EXPECT_NE(progressive[0].pic.y, g->outputBuffer);
}

}  // namespace
