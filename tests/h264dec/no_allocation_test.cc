// Decoding must not allocate: every allocation of the process is counted
// while a stream is decoded, between creation and destruction.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "allocation_counter.h"
#include "decoder_test_util.h"

using namespace h264test;
using namespace tessaly::testsupport;

namespace {

long AllocationsWhileDecoding(H264Decoder *h, const std::vector<uint8_t> &stream, size_t piece, int *pictures) {
    *pictures = 0;
    StartCountingAllocations();
    DecodeInPieces(h, stream, piece, [&](const DecodedPicture &) { ++*pictures; });
    return StopCountingAllocations();
}

TEST(NoAllocation, CountingSeesAllocations) {
    // The counter itself works (otherwise the tests below prove nothing).
    StartCountingAllocations();
    auto *p = new std::vector<int>(100);
    const long count = StopCountingAllocations();
    delete p;
    EXPECT_GE(count, 1);
}

TEST(NoAllocation, DecodingAllocatesNothing) {
    struct Case {
        const char *file;
        uint32_t widthMbs, heightMbs, mode;
    };
    for (const Case &c : {Case{"conf/SVA_BA2_D.264", 11, 9, 0}, Case{"jm/f_mmco_cabac_cif.264", 22, 18, 0},
                          Case{"jm/c_paff_cavlc_main_d1.264", 44, 36, DEC_MODE_DISPLAY_ORDER},
                          Case{"jm/h_slices_dbk2_cabac_cif.264", 22, 18, DEC_MODE_SLICE_THREADS},
                          Case{"jm/c_paff_cavlc_main_d1.264", 44, 36, DEC_MODE_SLICE_THREADS | DEC_MODE_FIELD_MERGE}}) {
        const std::vector<uint8_t> stream = ReadStream(c.file);
        ASSERT_FALSE(stream.empty()) << c.file;
        std::unique_ptr<H264Decoder, DecoderDeleter> h(MakeDecoder(c.widthMbs, c.heightMbs, 16, c.mode));
        ASSERT_TRUE(h);
        int pictures = 0;
        EXPECT_EQ(AllocationsWhileDecoding(h.get(), stream, 4093, &pictures), 0) << c.file;
        EXPECT_GT(pictures, 0) << c.file;
    }
}

}  // namespace
