#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "decoder_test_util.h"
#include "h264_stream_builder.h"
#include "h264dec/aligned_alloc.h"
#include "h264dec/decoder_context.h"

using namespace h264test;
using namespace tessaly::h264;

namespace {

using DecoderPtr = std::unique_ptr<H264Decoder, DecoderDeleter>;

// Access units of a 2x6-macroblock stream: SPS + PPS + IDR, then non-IDR I
// pictures whose PCM luma values are 20, 30, ...
std::vector<std::vector<uint8_t>> IntraAccessUnits(int count, const SpsOptions &sps = {}) {
    std::vector<std::vector<uint8_t>> units;
    for (int i = 0; i < count; ++i)
        units.push_back(i == 0 ? Stream(sps, {Intra(0, 10)}) : SliceNal(sps, Intra(i % 16, 10 + 10 * i)));
    return units;
}

std::vector<uint8_t> Join(const std::vector<std::vector<uint8_t>> &units) {
    std::vector<uint8_t> all;
    for (const auto &u : units) Append(all, u);
    return all;
}

TEST(AlignedAlloc, BlocksAreZeroedAlignedAndFreeable) {
    for (size_t size : {size_t(1), size_t(15), size_t(16), size_t(17), size_t(4096), size_t(100000)}) {
        auto *p = static_cast<uint8_t *>(AlignedAllocZeroed(size));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
        for (size_t i = 0; i < size; ++i) ASSERT_EQ(p[i], 0) << size;
        std::memset(p, 0xAB, size);
        AlignedFree(p);
    }
    AlignedFree(nullptr);
}

TEST(DecoderApi, CreationAppliesDefaultsAndBounds) {
    EXPECT_EQ(H264Decoder_Create(nullptr), nullptr);
    // Sizes out of range fall back to 120x68; no buffer count means 4, more than 16 means 16.
    struct Case {
        uint32_t widthMbs, heightMbs, buffers, wantWidth, wantHeight, wantBuffers;
        int wantPictures;
    };
    for (const Case &c :
         {Case{1, 300, 0, 120, 68, 4, 12}, Case{352, 256, 40, 352, 256, 16, 36}, Case{353, 5, 16, 120, 68, 16, 36}}) {
        DecoderPtr h(MakeDecoder(c.widthMbs, c.heightMbs, c.buffers));
        ASSERT_TRUE(h) << c.widthMbs;
        EXPECT_EQ(h->widthMbs, c.wantWidth);
        EXPECT_EQ(h->heightMbs, c.wantHeight);
        EXPECT_EQ(h->bufferCount, c.wantBuffers);
        EXPECT_EQ(h->dpb.numPictures, c.wantPictures);
    }

    // Picture buffers: 16-byte aligned planes, not written before their first use.
    DecoderPtr d(MakeDecoder(2, 6, 1));
    ASSERT_TRUE(d);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(d.get()) % 16, 0u);
    for (int i = 0; i < d->dpb.numPictures; ++i) {
        const Picture &p = d->dpb.pictures[i];
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p.y) % 16, 0u);
        EXPECT_EQ(p.u, p.y + 32 * 96);
        EXPECT_EQ(p.v, p.u + 16 * 48);
        EXPECT_TRUE(p.blank) << "untouched until a picture is decoded into it";
    }
}

TEST(DecoderApi, BadArgumentsAndEmptyEndOfStream) {
    DecoderPtr h(MakeDecoder(2, 6, 1));
    DecodedPicture pic;
    const uint8_t byte = 0;
    EXPECT_EQ(H264Decoder_Decode(nullptr, &byte, 1, 0, 0, &pic, 0), DEC_BAD_ARGUMENT);
    EXPECT_EQ(H264Decoder_Decode(h.get(), &byte, 1, 0, 0, nullptr, 0), DEC_BAD_ARGUMENT);
    // A fresh decoder at end of stream has nothing, every time.
    EXPECT_EQ(H264Decoder_Decode(h.get(), nullptr, 0, 0, 0, &pic, DEC_FLAG_END_OF_STREAM), DEC_NO_PICTURE);
    EXPECT_EQ(H264Decoder_Decode(h.get(), nullptr, 0, 0, 0, &pic, DEC_FLAG_END_OF_STREAM), DEC_NO_PICTURE);
    pic.y = pic.u = pic.v = reinterpret_cast<uint8_t *>(&pic);
    EXPECT_EQ(H264Decoder_Decode(h.get(), &byte, 1, 0, 0, &pic, 0), DEC_NEED_MORE_DATA);
    EXPECT_EQ(pic.y, nullptr);
    EXPECT_EQ(pic.u, nullptr);
    EXPECT_EQ(pic.v, nullptr);
    H264Decoder_Destroy(nullptr);
}

TEST(DecoderApi, OutputTimingOneAccessUnitPerCall) {
    DecoderPtr h(MakeDecoder(2, 6, 1));
    const auto units = IntraAccessUnits(4);
    // Picture n comes back during the call that delivers access unit n + 2,
    // carrying the user values of the call that completed its slice (n + 1).
    EXPECT_EQ(DecodeCall(h.get(), units[0].data(), units[0].size(), 0, 100, 200).result, DEC_NEED_MORE_DATA);
    EXPECT_EQ(DecodeCall(h.get(), units[1].data(), units[1].size(), 0, 101, 201).result, DEC_NEED_MORE_DATA);
    Out first = DecodeCall(h.get(), units[2].data(), units[2].size(), 0, 102, 202);
    ASSERT_EQ(first.result, DEC_OK);
    EXPECT_EQ(first.luma, 10);
    EXPECT_EQ(first.pic.userLow, 101u);
    EXPECT_EQ(first.pic.userHigh, 201u);
    EXPECT_EQ(first.pic.isIdr, 1u);
    EXPECT_EQ(first.pic.damaged, 0u);
    EXPECT_EQ(first.pic.width, 32u);
    EXPECT_EQ(first.pic.height, 96u);
    EXPECT_EQ(first.pic.yStride, 32u);
    EXPECT_EQ(first.pic.uvStride, 16u);
    EXPECT_LT(first.pic.bufferIndex, 6u);
    ASSERT_NE(first.pic.stats, nullptr);
    // Word 0: the slice unit from its header byte to the end of the start
    // code that closed it (the next access unit's four bytes).
    const size_t idrSliceBytes = units[0].size() - (SpsNal({}).size() + PpsNal().size()) - 4;
    EXPECT_EQ(first.pic.stats[0], idrSliceBytes + 4);
    EXPECT_EQ(DecodeCall(h.get(), nullptr, 0).result, DEC_NEED_MORE_DATA);

    Out second = DecodeCall(h.get(), units[3].data(), units[3].size(), 0, 103, 203);
    ASSERT_EQ(second.result, DEC_OK);
    EXPECT_EQ(second.luma, 20);
    EXPECT_EQ(second.pic.isIdr, 0u);
    EXPECT_EQ(second.pic.userLow, 102u);
    EXPECT_EQ(DecodeCall(h.get(), nullptr, 0).result, DEC_NEED_MORE_DATA);

    // End of stream: the remaining pictures one per call, then -2 for good.
    Out third = DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM, 104, 204);
    ASSERT_EQ(third.result, DEC_OK);
    EXPECT_EQ(third.luma, 30);
    Out fourth = DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM);
    ASSERT_EQ(fourth.result, DEC_OK);
    EXPECT_EQ(fourth.luma, 40);
    EXPECT_EQ(fourth.pic.userLow, 104u);  // its slice was closed by the end-of-stream call
    EXPECT_EQ(DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM).result, DEC_NO_PICTURE);
    EXPECT_EQ(DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM).result, DEC_NO_PICTURE);

    // New data starts a new segment with the stored parameter sets.
    const std::vector<uint8_t> more = SliceNal({}, Intra(0, 90));
    EXPECT_EQ(DecodeCall(h.get(), more.data(), more.size()).result, DEC_NEED_MORE_DATA);
    Out again = DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM);
    ASSERT_EQ(again.result, DEC_OK);
    EXPECT_EQ(again.luma, 90);
    EXPECT_EQ(DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM).result, DEC_NO_PICTURE);
}

TEST(DecoderApi, NewDataInsteadOfCallingAgainDropsTheUnreadInput) {
    DecoderPtr h(MakeDecoder(2, 6, 1));
    const std::vector<uint8_t> stream = Join(IntraAccessUnits(5));
    Out o = DecodeCall(h.get(), stream.data(), stream.size());
    ASSERT_EQ(o.result, DEC_OK);
    EXPECT_EQ(o.luma, 10);
    // Pictures 30, 40, 50 were still unread when new data arrived.
    const std::vector<uint8_t> next = SliceNal({}, Intra(5, 60));
    std::vector<int> got;
    for (o = DecodeCall(h.get(), next.data(), next.size()); o.result == DEC_OK; o = DecodeCall(h.get(), nullptr, 0))
        got.push_back(o.luma);
    for (o = DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM); o.result == DEC_OK;
         o = DecodeCall(h.get(), nullptr, 0, DEC_FLAG_END_OF_STREAM))
        got.push_back(o.luma);
    EXPECT_EQ(got, (std::vector<int>{20, 60}));
}

TEST(DecoderApi, NothingBeforeTheFirstIntraPicture) {
    DecoderPtr h(MakeDecoder(2, 6, 1));
    const auto out = DecodeAll(h.get(), Stream({}, {Skip(1), Skip(2), Intra(3, 70), Skip(4)}));
    EXPECT_EQ(Lumas(out), (std::vector<int>{70, 70}));  // the P picture copies the I picture
}

TEST(DecoderApi, PictureRecordReportsCroppingAndDamage) {
    SpsOptions sps;
    sps.cropRight = 3;   // 6 luma columns
    sps.cropBottom = 5;  // 10 luma rows
    SliceOptions half = Intra(1, 50);
    half.numMbs = 6;  // of 12
    DecoderPtr h(MakeDecoder(2, 6, 1));
    const auto out = DecodeAll(h.get(), Stream(sps, {Intra(0, 128), half}));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].pic.cropRight, 6u);
    EXPECT_EQ(out[0].pic.cropBottom, 10u);
    EXPECT_EQ(out[0].pic.cropLeft, 0u);
    EXPECT_EQ(out[0].pic.cropTop, 0u);
    EXPECT_EQ(out[0].pic.damaged, 0u);
    EXPECT_EQ(out[1].pic.damaged, 1u);
    EXPECT_EQ(out[1].luma, 50);
}

}  // namespace
