// Whole slices through SliceDecoderDecode on tiny pictures, where the
// conformance corpus does not go: motion vectors far outside the reference,
// skip runs past the picture, unusable geometry, and random data that must
// never make the decoder leave its buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "h264dec/dsp/kernel_set.h"
#include "h264dec/slice_params.h"
#include "h264dec/tables/tables.h"

namespace tessaly::h264 {
namespace {

class BitWriter {
public:
    void Bits(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) Bit((v >> i) & 1);
    }
    void Bit(int b) { bits_.push_back(uint8_t(b)); }
    void Ue(uint32_t v) {
        const uint64_t x = uint64_t(v) + 1;
        int len = 0;
        while ((x >> len) > 1) ++len;
        Bits(0, len);
        Bits(uint32_t(x), len + 1);
    }
    void Se(int32_t v) { Ue(v > 0 ? uint32_t(2 * v - 1) : uint32_t(-2 * int64_t(v))); }
    void AlignZero() {
        while (bits_.size() % 8) Bit(0);
    }
    void Byte(uint8_t b) { Bits(b, 8); }
    void Trailing() {
        Bit(1);
        AlignZero();
    }
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> out(bits_.size() / 8 + 16, 0);
        for (size_t i = 0; i < bits_.size(); ++i)
            if (bits_[i]) out[i / 8] |= uint8_t(0x80 >> (i % 8));
        return out;
    }
    uint32_t BitCount() const { return uint32_t(bits_.size()); }

private:
    std::vector<uint8_t> bits_;
};

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
    static void SetData(SliceParams &p, const std::vector<uint8_t> &bytes, uint32_t bits) {
        p.data = bytes.data();
        p.bitPos = 0;
        p.bitEnd = (bits + 7) / 8 * 8;
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
    const std::vector<uint8_t> bytes = w.Bytes();
    SliceParams p = Params(pic, 2, 2, SliceType::P);
    UseReference(p, ref);
    SetData(p, bytes, w.BitCount());
    const SliceResult r = Decode(p);
    EXPECT_NE(r.error, 0);
    EXPECT_EQ(r.mbsDecoded, 0);
}

// One P_L0_16x16 macroblock with the given motion vector difference (the
// prediction is zero: no neighbours) and no residual.
std::vector<uint8_t> OneInterMb(int mvdx, int mvdy, uint32_t *bits) {
    BitWriter w;
    w.Ue(0);  // mb_skip_run
    w.Ue(0);  // P_L0_16x16
    w.Se(mvdx);
    w.Se(mvdy);
    w.Ue(0);  // coded_block_pattern 0
    w.Trailing();
    *bits = w.BitCount();
    return w.Bytes();
}

TEST_F(SliceDecoderTest, MotionFarOutsideThePictureUsesTheEdgeSamples) {
    Planes ref(1, 1), pic(1, 1);
    ref.y = RandomSamples(6, ref.y.size());
    ref.u = RandomSamples(7, ref.u.size());
    ref.v = RandomSamples(8, ref.v.size());
    {
        // 64 samples to the left: every row repeats the reference's column 0.
        uint32_t bits;
        const std::vector<uint8_t> bytes = OneInterMb(-256, 0, &bits);
        SliceParams p = Params(pic, 1, 1, SliceType::P);
        UseReference(p, ref);
        SetData(p, bytes, bits);
        const SliceResult r = Decode(p);
        ASSERT_EQ(r.error, 0);
        ASSERT_EQ(r.mbsDecoded, 1);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) ASSERT_EQ(pic.y[size_t(y) * 16 + x], ref.y[size_t(y) * 16]) << y << "," << x;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                ASSERT_EQ(pic.u[size_t(y) * 8 + x], ref.u[size_t(y) * 8]);
                ASSERT_EQ(pic.v[size_t(y) * 8 + x], ref.v[size_t(y) * 8]);
            }
    }
    {
        // Far below and right, at a fractional position: the corner sample.
        uint32_t bits;
        const std::vector<uint8_t> bytes = OneInterMb(4 * 100 + 1, 4 * 90 + 3, &bits);
        SliceParams p = Params(pic, 1, 1, SliceType::P);
        UseReference(p, ref);
        SetData(p, bytes, bits);
        ASSERT_EQ(Decode(p).error, 0);
        for (size_t i = 0; i < pic.y.size(); ++i) ASSERT_EQ(pic.y[i], ref.y[255]) << i;
        for (size_t i = 0; i < pic.u.size(); ++i) ASSERT_EQ(pic.u[i], ref.u[63]) << i;
    }
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
        SliceParams p = Params(pic, 3, 2, (iter & 1) ? SliceType::P : SliceType::I);
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
    std::vector<uint8_t> bytes(16, 0xff);
    SliceParams p = Params(pic, 2, 1, SliceType::I);
    SetData(p, bytes, 64);
    p.widthMbs = 5;  // wider than the decoder was created for
    p.picSizeInMbs = 5;
    EXPECT_NE(SliceDecoderDecode(sd, p).error, 0);
    p = Params(pic, 2, 1, SliceType::I);
    SetData(p, bytes, 64);
    p.firstMb = 2;
    EXPECT_NE(SliceDecoderDecode(sd, p).error, 0);
    p = Params(pic, 2, 1, SliceType::P);
    SetData(p, bytes, 64);
    p.numRefIdxActive = 0;
    EXPECT_NE(SliceDecoderDecode(sd, p).error, 0);
}

}  // namespace
}  // namespace tessaly::h264
