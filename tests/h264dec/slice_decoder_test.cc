// Whole slices through SliceDecoderDecode on tiny pictures, where the
// conformance corpus does not go: motion vectors far outside the reference,
// skip runs past the picture, unusable geometry, and random data that must
// never make the decoder leave its buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "h264_stream_builder.h"
#include "h264dec/dsp/kernel_set.h"
#include "h264dec/slice_params.h"
#include "h264dec/tables/tables.h"

namespace tessaly::h264 {
namespace {

using h264test::BitWriter;

// The written bytes and room for the reader's look-ahead.
std::vector<uint8_t> Padded(const BitWriter &w) {
    std::vector<uint8_t> bytes = w.Bytes();
    bytes.resize(bytes.size() + 16, 0);
    return bytes;
}

struct Planes {
    Planes(int widthMbs, int heightMbs)
        : w(widthMbs * 16), h(heightMbs * 16), y(size_t(w) * h, 0), u(size_t(w) * h / 4, 0), v(size_t(w) * h / 4, 0) {}
    int w, h;
    std::vector<uint8_t> y, u, v;
};

class SliceDecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ks = KernelSetGet(CpuLevelProbe());
        ASSERT_NE(ks, nullptr);
        for (int list = 0; list < 6; ++list)
            for (int q = 0; q < 6; ++q)
                for (int i = 0; i < 16; ++i)
                    dequant.scale4x4[list][q][i] = uint16_t(16 * kNormAdjust4x4[q][kNormAdjust4x4Class[i]]);
        for (int list = 0; list < 2; ++list)
            for (int q = 0; q < 6; ++q)
                for (int i = 0; i < 64; ++i)
                    dequant.scale8x8[list][q][i] = uint16_t(16 * kNormAdjust8x8[q][kNormAdjust8x8Class[i]]);
        sd = SliceDecoderCreate(4, 4, ks);
        ASSERT_NE(sd, nullptr);
    }
    void TearDown() override { SliceDecoderDestroy(sd); }

    SliceParams Params(Planes &pic, int widthMbs, int heightMbs, SliceType type) {
        SliceParams p;
        p.widthMbs = widthMbs;
        p.heightMbs = heightMbs;
        p.picSizeInMbs = widthMbs * heightMbs;
        p.y = pic.y.data();
        p.u = pic.u.data();
        p.v = pic.v.data();
        p.lumaStride = pic.w;
        p.chromaStride = pic.w / 2;
        p.dequant = &dequant;
        p.type = type;
        p.disableDeblock = 1;
        return p;
    }
    static void SetData(SliceParams &p, const std::vector<uint8_t> &padded) {
        p.data = padded.data();
        p.bitPos = 0;
        p.bitEnd = uint32_t(padded.size() - 16) * 8;
    }
    void UseReference(SliceParams &p, Planes &ref) {
        p.numRefIdxActive = 1;
        for (RefPicture &r : p.refList) {
            r.y = ref.y.data();
            r.u = ref.u.data();
            r.v = ref.v.data();
            r.lumaStride = ref.w;
            r.chromaStride = ref.w / 2;
            r.id = 7;
        }
    }
    SliceResult Decode(const SliceParams &p) {
        SliceDecoderStartPicture(sd, p);
        return SliceDecoderDecode(sd, p);
    }
    // One P_L0_16x16 macroblock with the given motion vector difference (the
    // prediction is zero: no neighbours) and no residual.
    SliceResult DecodeInterMb(Planes &pic, Planes &ref, int mvdx, int mvdy) {
        BitWriter w;
        w.Ue(0);  // mb_skip_run
        w.Ue(0);  // P_L0_16x16
        w.Se(mvdx);
        w.Se(mvdy);
        w.Ue(0);  // coded_block_pattern 0
        w.Trailing();
        const std::vector<uint8_t> bytes = Padded(w);
        SliceParams p = Params(pic, 1, 1, SliceType::kP);
        UseReference(p, ref);
        SetData(p, bytes);
        return Decode(p);
    }

    const KernelSet *ks = nullptr;
    DequantTables dequant{};
    SliceDecoder *sd = nullptr;
};

std::vector<uint8_t> RandomSamples(uint32_t seed, size_t n) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> s(n);
    for (uint8_t &b : s) b = uint8_t(rng());
    return s;
}

TEST_F(SliceDecoderTest, SkipRunPastThePictureIsAnError) {
    Planes ref(2, 2), pic(2, 2);
    BitWriter w;
    w.Ue(5);
    w.Trailing();
    const std::vector<uint8_t> bytes = Padded(w);
    SliceParams p = Params(pic, 2, 2, SliceType::kP);
    UseReference(p, ref);
    SetData(p, bytes);
    const SliceResult r = Decode(p);
    EXPECT_NE(r.error, 0);
    EXPECT_EQ(r.mbsDecoded, 0);
}

TEST_F(SliceDecoderTest, MotionFarOutsideThePictureUsesTheEdgeSamples) {
    Planes ref(1, 1), pic(1, 1);
    ref.y = RandomSamples(6, ref.y.size());
    ref.u = RandomSamples(7, ref.u.size());
    ref.v = RandomSamples(8, ref.v.size());
    // 64 samples to the left: every row repeats the reference's column 0.
    SliceResult r = DecodeInterMb(pic, ref, -256, 0);
    ASSERT_EQ(r.error, 0);
    ASSERT_EQ(r.mbsDecoded, 1);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(pic.y[size_t(y) * 16 + x], ref.y[size_t(y) * 16]) << y << "," << x;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            ASSERT_EQ(pic.u[size_t(y) * 8 + x], ref.u[size_t(y) * 8]);
            ASSERT_EQ(pic.v[size_t(y) * 8 + x], ref.v[size_t(y) * 8]);
        }
    // Far below and right, at a fractional position: the corner sample.
    ASSERT_EQ(DecodeInterMb(pic, ref, 4 * 100 + 1, 4 * 90 + 3).error, 0);
    for (size_t i = 0; i < pic.y.size(); ++i) ASSERT_EQ(pic.y[i], ref.y[255]) << i;
    for (size_t i = 0; i < pic.u.size(); ++i) ASSERT_EQ(pic.u[i], ref.u[63]) << i;
}

TEST_F(SliceDecoderTest, RandomSliceDataStaysInsideThePicture) {
    // Garbage of every kind must end each slice cleanly. Run under the
    // address sanitizer this also proves every access stays in bounds.
    Planes ref(3, 2), pic(3, 2);
    ref.y = RandomSamples(9, ref.y.size());
    std::mt19937 rng(10);
    for (int iter = 0; iter < 400; ++iter) {
        const size_t size = 1 + rng() % 300;
        std::vector<uint8_t> bytes(size + 16, 0);
        for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(rng());
        // Biased towards zeros too, which drive long codes and escapes.
        if (iter % 3 == 0)
            for (size_t i = 0; i < size; ++i) bytes[i] &= uint8_t(rng());
        bytes[size - 1] |= 1;
        SliceParams p = Params(pic, 3, 2, (iter & 1) ? SliceType::kP : SliceType::kI);
        p.cabac = uint8_t((iter >> 1) & 1);
        p.transform8x8Mode = uint8_t((iter >> 2) & 1);
        p.constrainedIntraPred = uint8_t((iter >> 3) & 1);
        p.fieldPic = uint8_t((iter >> 4) & 1);
        p.disableDeblock = uint8_t(iter % 3);
        p.sliceQp = int(rng() % 52);
        p.cabacInitIdc = uint8_t(rng() % 3);
        p.firstMb = int(rng() % 6);
        UseReference(p, ref);
        p.numRefIdxActive = 1 + int(rng() % 4);
        p.data = bytes.data();
        p.bitPos = uint32_t(rng() % 16);
        p.bitEnd = uint32_t(size) * 8;
        const SliceResult r = SliceDecoderDecode(sd, p);
        ASSERT_GE(r.mbsDecoded, 0);
        ASSERT_LE(r.mbsDecoded, 6 - p.firstMb);
    }
}

TEST_F(SliceDecoderTest, UnusableGeometryIsRefused) {
    Planes pic(2, 1);
    std::vector<uint8_t> bytes(24, 0xff);
    SliceParams p = Params(pic, 2, 1, SliceType::kI);
    SetData(p, bytes);
    p.widthMbs = 5;  // wider than the decoder was created for
    p.picSizeInMbs = 5;
    EXPECT_NE(SliceDecoderDecode(sd, p).error, 0);
    p = Params(pic, 2, 1, SliceType::kI);
    SetData(p, bytes);
    p.firstMb = 2;
    EXPECT_NE(SliceDecoderDecode(sd, p).error, 0);
    p = Params(pic, 2, 1, SliceType::kP);
    SetData(p, bytes);
    p.numRefIdxActive = 0;
    EXPECT_NE(SliceDecoderDecode(sd, p).error, 0);
}

}  // namespace
}  // namespace tessaly::h264
