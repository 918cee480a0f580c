// Slice-thread mode: the same pictures as one thread whenever no slice asks
// for filtering across slice edges, in every feeding pattern; clean teardown
// while workers are busy (damaged input: robustness_test.cc). Run under
// ThreadSanitizer too.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "decoder_test_util.h"
#include "h264_stream_builder.h"
#include "h264dec/bitstream/private_sei.h"

using namespace h264test;
using tessaly::h264::UserDataRecord;

namespace {

using DecoderPtr = std::unique_ptr<H264Decoder, DecoderDeleter>;

// Whole planes of every output picture, in output order.
std::vector<std::vector<uint8_t>> DecodePlanes(const std::vector<uint8_t> &stream, uint32_t widthMbs,
                                               uint32_t heightMbs, uint32_t mode, size_t piece) {
    std::vector<std::vector<uint8_t>> pictures;
    DecoderPtr h(MakeDecoder(widthMbs, heightMbs, 4, mode));
    EXPECT_TRUE(h);
    if (!h) return pictures;
    DecodeInPieces(h.get(), stream, piece, [&](const DecodedPicture &p) {
        std::vector<uint8_t> planes(p.y, p.y + size_t(p.yStride) * p.height);
        planes.insert(planes.end(), p.u, p.u + size_t(p.uvStride) * p.height / 2);
        planes.insert(planes.end(), p.v, p.v + size_t(p.uvStride) * p.height / 2);
        pictures.push_back(std::move(planes));
    });
    return pictures;
}

// jm/h_slices_dbk2_cabac_cif: several slices per picture, all with
// disable_deblocking_filter_idc 2, P pictures referencing the threaded output.
TEST(SliceThreads, PicturesMatchOneThreadWhenSliceEdgesAreNotFiltered) {
    const std::vector<uint8_t> stream = ReadStream("jm/h_slices_dbk2_cabac_cif.264");
    ASSERT_FALSE(stream.empty());
    const auto single = DecodePlanes(stream, 22, 18, 0, stream.size());
    ASSERT_GT(single.size(), 5u);
    for (size_t piece : {stream.size(), size_t(1), size_t(4093)}) {
        SCOPED_TRACE("piece " + std::to_string(piece));
        const auto threaded = DecodePlanes(stream, 22, 18, DEC_MODE_SLICE_THREADS, piece);
        ASSERT_EQ(threaded.size(), single.size());
        for (size_t i = 0; i < single.size(); ++i) EXPECT_TRUE(threaded[i] == single[i]) << "picture " << i;
    }
}

// Slices with idc 0 are filtered as idc 2 by the workers: the pictures differ
// from one thread only near slice edges, never in number or geometry, and the
// pictures never come back damaged (that check is off with threads).
TEST(SliceThreads, FilteredSlicesDecodeEveryPicture) {
    const std::vector<uint8_t> stream = ReadStream("gen/bl_cavlc_352x288_slices4.264");
    ASSERT_FALSE(stream.empty());
    const auto single = DecodePlanes(stream, 22, 18, 0, stream.size());
    const auto threaded = DecodePlanes(stream, 22, 18, DEC_MODE_SLICE_THREADS, 65536);
    ASSERT_EQ(threaded.size(), single.size());
    ASSERT_FALSE(single.empty());
    // First picture: intra, so only the filtered rows around the three slice
    // edges may differ; the top and bottom of the picture are far from them.
    const size_t width = 352, rows = 8;
    EXPECT_EQ(std::memcmp(single[0].data(), threaded[0].data(), width * rows), 0);
}

// Destroying the decoder while workers still decode: no use-after-free (the
// sanitizer builds see it) and no hang.
TEST(SliceThreads, DestroyWhileWorkersAreBusy) {
    const std::vector<uint8_t> stream = ReadStream("gen/bl_cavlc_352x288_slices4.264");
    ASSERT_FALSE(stream.empty());
    std::mt19937 rng(7);
    for (int round = 0; round < 6; ++round) {
        DecoderPtr h(MakeDecoder(22, 18, 4, DEC_MODE_SLICE_THREADS));
        ASSERT_TRUE(h);
        const size_t cut = 1000 + rng() % (stream.size() / 3);
        DecodedPicture pic;
        for (int r = H264Decoder_Decode(h.get(), stream.data(), uint32_t(cut), 0, 0, &pic, 0); r == DEC_OK;
             r = H264Decoder_Decode(h.get(), nullptr, 0, 0, 0, &pic, 0)) {}
    }
}

// The user-data record keeps at most 100 payload bytes, whatever the message
// says, and the decoder goes on as before.
TEST(PrivateSei, LongUserDataIsCutAtTheRecordsEnd) {
    DecoderPtr h(MakeDecoder(2, 6, 1));
    SpsOptions sps;
    std::vector<uint8_t> stream = Stream(sps, {});
    std::vector<uint8_t> payload{0xF0, 0xFE};
    for (int i = 0; i < 0xFE; ++i) payload.push_back(uint8_t(1 + i % 250));
    payload.push_back(0x80);
    Append(stream, Nal(0, 6, payload));
    Append(stream, SliceNal(sps, Intra(0, 10)));
    Append(stream, SliceNal(sps, Intra(1, 20)));
    const auto out = DecodeAll(h.get(), stream);
    ASSERT_EQ(out.size(), 2u);
    for (const Out &o : out) {
        const auto *record = static_cast<const UserDataRecord *>(o.pic.userData);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->length, 0xFEu);
        EXPECT_EQ(record->words[0], 1u);
        EXPECT_EQ(record->words[99], 100u);
        EXPECT_EQ(record->data, record->words);
    }
}

// A refused picture parameter set takes its id's slices with it: they are
// not decoded with the set stored earlier under that id. A valid set with the
// id brings them back. Both modes, since the threads wait at parameter sets.
TEST(RefusedUnits, RefusedPpsDropsTheSlicesThatNameIt) {
    for (uint32_t mode : {0u, uint32_t(DEC_MODE_SLICE_THREADS)}) {
        DecoderPtr h(MakeDecoder(2, 6, 1, mode));
        PpsOptions weighted;
        weighted.weightedBipredIdc = 2;
        SliceOptions idr = Intra(0, 30);
        idr.idrPicId = 1;
        std::vector<uint8_t> stream = Stream({}, {Intra(0, 10)});
        Append(stream, PpsNal(weighted));
        Append(stream, SliceNal({}, Intra(1, 20)));  // names the refused set
        Append(stream, PpsNal());
        Append(stream, SliceNal({}, idr));
        EXPECT_EQ(Lumas(DecodeAll(h.get(), stream)), (std::vector<int>{10, 30})) << "mode " << mode;
    }
}

// A new sequence set with another picture size takes effect at an IDR only:
// P slices that would switch to it are dropped, the IDR decodes at the new size.
TEST(RefusedUnits, SizeChangeWaitsForAnIdr) {
    for (uint32_t mode : {0u, uint32_t(DEC_MODE_SLICE_THREADS)}) {
        DecoderPtr h(MakeDecoder(4, 6, 1, mode));
        SpsOptions wide;
        wide.widthMbs = 4;
        SliceOptions idr = Intra(0, 30);
        idr.idrPicId = 1;
        // The new set arrives while the first picture is still open.
        std::vector<uint8_t> stream = Stream({}, {Intra(0, 10)});
        Append(stream, SpsNal(wide));
        Append(stream, SliceNal(wide, Intra(1, 20)));
        Append(stream, SliceNal(wide, idr));
        const auto out = DecodeAll(h.get(), stream);
        ASSERT_EQ(Lumas(out), (std::vector<int>{10, 30})) << "mode " << mode;
        EXPECT_EQ(out[0].pic.width, 32u);
        EXPECT_EQ(out[1].pic.width, 64u);
        EXPECT_EQ(out[1].pic.yStride, 64u);
    }
}

}  // namespace
