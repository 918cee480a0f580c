#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "decoder_test_util.h"
#include "h264_stream_builder.h"
#include "h264dec/decoder_context.h"
#include "h264dec/bitstream/param_sets.h"
#include "h264dec/tables/tables.h"

using namespace h264test;
using namespace tessaly::h264;

namespace {

using DecoderPtr = std::unique_ptr<H264Decoder, DecoderDeleter>;

void Feed(H264Decoder *h, const std::vector<uint8_t> &units) {
    std::vector<uint8_t> bytes = units;
    Append(bytes, {0, 0, 0, 1});  // close the last unit
    DecodedPicture pic;
    for (int r = H264Decoder_Decode(h, bytes.data(), uint32_t(bytes.size()), 0, 0, &pic, 0); r == DEC_OK;
         r = H264Decoder_Decode(h, nullptr, 0, 0, 0, &pic, 0)) {
    }
}

struct RefusedSps {
    const char *what;
    SpsOptions options;
};

TEST(ParameterSets, UnsupportedSequenceSetsAreRefusedAndTheStateStays) {
    SpsOptions profile88;
    profile88.profile = 88;
    SpsOptions chroma422;
    chroma422.profile = 100;
    chroma422.chromaFormat = 2;
    SpsOptions depth10;
    depth10.profile = 100;
    depth10.bitDepthLumaMinus8 = 2;
    SpsOptions tooManyRefs;
    tooManyRefs.numRefFrames = 3;  // decoder sized for 2
    SpsOptions tooWide;
    tooWide.widthMbs = 12;  // decoder is 11 wide
    SpsOptions tooTall;
    tooTall.heightMapUnits = 10;  // decoder is 9 tall
    SpsOptions tooNarrow;
    tooNarrow.widthMbs = 1;
    SpsOptions fieldsTooTall;
    fieldsTooTall.frameMbsOnly = false;
    fieldsTooTall.heightMapUnits = 5;  // 10 macroblock rows as a frame
    for (const RefusedSps &c : {RefusedSps{"profile 88", profile88}, RefusedSps{"4:2:2", chroma422},
                                RefusedSps{"10 bit", depth10}, RefusedSps{"num_ref_frames 3", tooManyRefs},
                                RefusedSps{"too wide", tooWide}, RefusedSps{"too tall", tooTall},
                                RefusedSps{"one column", tooNarrow}, RefusedSps{"field map units", fieldsTooTall}}) {
        DecoderPtr h(MakeDecoder(11, 9, 2));
        ASSERT_TRUE(h);
        Feed(h.get(), SpsNal(c.options));
        EXPECT_EQ(h->state, StreamState::WaitSps) << c.what;
        EXPECT_EQ(h->spsStore[0].id, uint32_t(kMaxSps)) << c.what;
    }
    // The same decoder accepts what fits exactly.
    SpsOptions fits;
    fits.widthMbs = 11;
    fits.heightMapUnits = 9;
    fits.numRefFrames = 2;
    DecoderPtr h(MakeDecoder(11, 9, 2));
    Feed(h.get(), SpsNal(fits));
    EXPECT_EQ(h->state, StreamState::WaitPps);
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
    SpsOptions sps;
    PpsOptions weighted;
    weighted.weightedBipredIdc = 2;
    std::vector<uint8_t> stream = SpsNal(sps);
    Append(stream, PpsNal(weighted));
    SliceOptions idr;
    idr.idr = true;
    Append(stream, SliceNal(sps, idr));
    EXPECT_TRUE(DecodeAll(h.get(), stream).empty());
    EXPECT_EQ(h->state, StreamState::WaitPps);
    EXPECT_EQ(h->ppsStore[0].id, uint32_t(kMaxPps));

    // A PPS naming a sequence set that was never stored is refused too.
    PpsOptions orphan;
    orphan.id = 3;
    orphan.spsId = 7;
    Feed(h.get(), PpsNal(orphan));
    EXPECT_EQ(h->ppsStore[3].id, uint32_t(kMaxPps));
    EXPECT_EQ(h->state, StreamState::WaitPps);
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

// Scaling lists in a High profile SPS and PPS, exercising both fall-back rules.
std::vector<uint8_t> ScalingRbsp(bool pps, const std::vector<int> &presence) {
    BitWriter w;
    if (!pps) {
        w.Bits(100, 8);
        w.Bits(0, 8);
        w.Bits(30, 8);
        w.Ue(0);  // sps id
        w.Ue(1);  // 4:2:0
        w.Ue(0);
        w.Ue(0);
        w.Bit(0);
        w.Bit(1);  // seq_scaling_matrix_present_flag
    } else {
        w.Ue(0);  // pps id
        w.Ue(0);  // sps id
        w.Bit(0);
        w.Bit(0);
        w.Ue(0);
        w.Ue(0);
        w.Ue(0);
        w.Bit(0);
        w.Bits(0, 2);
        w.Se(0);
        w.Se(0);
        w.Se(0);
        w.Bit(1);
        w.Bit(0);
        w.Bit(0);
        w.Bit(1);  // transform_8x8_mode_flag
        w.Bit(1);  // pic_scaling_matrix_present_flag
    }
    // presence: 0 absent, 1 explicit list (all values 20 + index), 2 "use default"
    for (size_t i = 0; i < presence.size(); ++i) {
        w.Bit(presence[i] != 0);
        if (presence[i] == 1) {
            const int size = i < 6 ? 16 : 64;
            int last = 8;
            for (int j = 0; j < size; ++j) {
                const int value = 20 + int(i) + (j == 1 ? 1 : 0);
                int delta = value - last;
                w.Se(delta);
                last = value;
            }
        } else if (presence[i] == 2) {
            w.Se(-8);  // nextScale 0 on the first delta
        }
    }
    if (!pps) {
        w.Ue(0);  // log2_max_frame_num_minus4
        w.Ue(2);  // POC type 2
        w.Ue(1);
        w.Bit(0);
        w.Ue(10);
        w.Ue(8);
        w.Bit(1);
        w.Bit(1);
        w.Bit(0);
        w.Bit(0);
    } else {
        w.Se(3);  // second_chroma_qp_index_offset
    }
    w.Trailing();
    return w.Bytes();
}

std::vector<uint8_t> Raster(const uint8_t *zigzagValues, const uint8_t *scan, int size) {
    std::vector<uint8_t> r(size_t(size), 0);
    for (int j = 0; j < size; ++j) r[scan[j]] = zigzagValues[j];
    return r;
}

std::vector<uint8_t> Explicit(int index, const uint8_t *scan, int size) {
    std::vector<uint8_t> zz(size_t(size), uint8_t(20 + index));
    zz[1] = uint8_t(21 + index);
    return Raster(zz.data(), scan, size);
}

std::vector<uint8_t> AsVector(const uint8_t *p, int size) { return std::vector<uint8_t>(p, p + size); }

TEST(ParameterSets, ScalingListFallBackRules) {
    // SPS: list 0 explicit, 1 absent (copies 0), 2 default, 3 absent (rule A:
    // default inter), 4 explicit, 5 absent (copies 4), 8x8 intra default, 8x8 inter absent.
    const std::vector<uint8_t> spsRbsp = ScalingRbsp(false, {1, 0, 2, 0, 1, 0, 2, 0});
    BitReader sr(spsRbsp.data(), uint32_t(spsRbsp.size()));
    static Sps store[kMaxSps];
    Sps &sps = store[0];
    ASSERT_EQ(ParseSps(sr, ParamSetLimits{20, 20, 4}, &sps), kStatusOk);
    const ScalingLists &s = sps.scaling;
    EXPECT_EQ(AsVector(s.list4x4[0], 16), Explicit(0, kZigzag4x4, 16));
    EXPECT_EQ(AsVector(s.list4x4[1], 16), Explicit(0, kZigzag4x4, 16));
    EXPECT_EQ(AsVector(s.list4x4[2], 16), Raster(kDefault4x4Intra, kZigzag4x4, 16));
    EXPECT_EQ(AsVector(s.list4x4[3], 16), Raster(kDefault4x4Inter, kZigzag4x4, 16));
    EXPECT_EQ(AsVector(s.list4x4[4], 16), Explicit(4, kZigzag4x4, 16));
    EXPECT_EQ(AsVector(s.list4x4[5], 16), Explicit(4, kZigzag4x4, 16));
    EXPECT_EQ(AsVector(s.list8x8[0], 64), Raster(kDefault8x8Intra, kZigzag8x8, 64));
    EXPECT_EQ(AsVector(s.list8x8[1], 64), Raster(kDefault8x8Inter, kZigzag8x8, 64));

    // PPS: rule B for lists 0, 3 and the 8x8 lists (the sequence set had lists).
    const std::vector<uint8_t> ppsRbsp = ScalingRbsp(true, {0, 1, 0, 0, 2, 0, 0, 1});
    BitReader pr(ppsRbsp.data(), uint32_t(ppsRbsp.size()));
    sps.id = 0;
    Pps pps;
    ASSERT_EQ(ParsePps(pr, store, &pps), kStatusOk);
    const ScalingLists &p = pps.scaling;
    EXPECT_EQ(AsVector(p.list4x4[0], 16), AsVector(s.list4x4[0], 16));  // from the SPS
    EXPECT_EQ(AsVector(p.list4x4[1], 16), Explicit(1, kZigzag4x4, 16));
    EXPECT_EQ(AsVector(p.list4x4[2], 16), Explicit(1, kZigzag4x4, 16));  // previous list
    EXPECT_EQ(AsVector(p.list4x4[3], 16), AsVector(s.list4x4[3], 16));  // from the SPS
    EXPECT_EQ(AsVector(p.list4x4[4], 16), Raster(kDefault4x4Inter, kZigzag4x4, 16));
    EXPECT_EQ(AsVector(p.list4x4[5], 16), Raster(kDefault4x4Inter, kZigzag4x4, 16));
    EXPECT_EQ(AsVector(p.list8x8[0], 64), AsVector(s.list8x8[0], 64));
    EXPECT_EQ(AsVector(p.list8x8[1], 64), Explicit(7, kZigzag8x8, 64));
    EXPECT_EQ(pps.transform8x8Mode, 1);
    EXPECT_EQ(pps.secondChromaQpIndexOffset, 3);

    // Without sequence lists the same PPS falls back to the defaults (rule A).
    const std::vector<uint8_t> flatSps = SpsNal(SpsOptions{});
    BitReader fr(flatSps.data() + 5, uint32_t(flatSps.size() - 5));
    ASSERT_EQ(ParseSps(fr, ParamSetLimits{20, 20, 4}, &store[0]), kStatusOk);
    BitReader pr2(ppsRbsp.data(), uint32_t(ppsRbsp.size()));
    ASSERT_EQ(ParsePps(pr2, store, &pps), kStatusOk);
    EXPECT_EQ(AsVector(pps.scaling.list4x4[0], 16), Raster(kDefault4x4Intra, kZigzag4x4, 16));
    EXPECT_EQ(AsVector(pps.scaling.list4x4[3], 16), Raster(kDefault4x4Inter, kZigzag4x4, 16));
    EXPECT_EQ(AsVector(pps.scaling.list8x8[0], 64), Raster(kDefault8x8Intra, kZigzag8x8, 64));
}

}  // namespace

namespace {

TEST(ParameterSets, NewPictureSizeTakesEffectAtTheNextActivation) {
    DecoderPtr h(MakeDecoder(4, 6, 2));
    SpsOptions small;
    SpsOptions wide;
    wide.widthMbs = 4;
    std::vector<uint8_t> stream = SpsNal(small);
    Append(stream, PpsNal());
    SliceOptions idr;
    idr.idr = true;
    Append(stream, SliceNal(small, idr));
    // The new set is stored while the first picture is still open; it must
    // not change that picture.
    Append(stream, SpsNal(wide));
    Append(stream, PpsNal());
    idr.idrPicId = 1;
    idr.luma = 60;
    Append(stream, SliceNal(wide, idr));
    const auto out = DecodeAll(h.get(), stream);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].pic.width, 32u);
    EXPECT_EQ(out[0].luma, 128);
    EXPECT_EQ(out[1].pic.width, 64u);
    EXPECT_EQ(out[1].pic.yStride, 64u);
    EXPECT_EQ(out[1].luma, 60);
}

}  // namespace
