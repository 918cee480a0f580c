#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "h264_stream_builder.h"
#include "h264dec/bitstream/bitreader.h"

using tessaly::h264::BitReader;

namespace {

TEST(BitReader, ExpGolombRoundTripsOverTheWholeRange) {
    const std::vector<uint32_t> ue = {0, 1, 2, 3, 6, 7, 254, 255, 256, 65535, 1u << 20, 0x7FFFFFFEu, 0xFFFFFFFEu};
    const std::vector<int32_t> se = {0, 1, -1, 2, -2, 127, -128, 1 << 20, -(1 << 20), INT32_MAX, -INT32_MAX};
    h264test::BitWriter w;
    for (uint32_t v : ue) w.Ue(v);
    for (int32_t v : se) w.Se(v);
    w.Trailing();
    BitReader br(w.Bytes().data(), uint32_t(w.Bytes().size()));
    for (uint32_t v : ue) EXPECT_EQ(br.ReadUe(), v);
    for (int32_t v : se) EXPECT_EQ(br.ReadSe(), v);
    EXPECT_FALSE(br.Overrun());
    EXPECT_FALSE(br.MoreRbspData());
}

// The data is copied into an exactly sized heap block so that a read past the
// end would be a real out-of-bounds access (visible under the sanitizers).
TEST(BitReader, ReadsAtTheEndOfTheBufferGiveZerosAndReportOverrun) {
    for (size_t size = 1; size <= 9; ++size) {
        std::vector<uint8_t> data(size, 0xFF);
        BitReader br(data.data(), uint32_t(size));
        br.SetPosition(size * 8 - 3);
        EXPECT_EQ(br.ReadBits(8), 0xE0u) << size;  // 3 real one bits, then zeros
        EXPECT_TRUE(br.Overrun());
        EXPECT_EQ(br.ReadBits(32), 0u);
    }
}

TEST(BitReader, ExpGolombAtTheBufferEnd) {
    // ue(v) = 2 ("011") in the last three bits of a byte.
    const std::vector<uint8_t> last = {0x03};
    BitReader br(last.data(), 1);
    br.SetPosition(5);
    EXPECT_EQ(br.ReadUe(), 2u);
    EXPECT_FALSE(br.Overrun());

    // A prefix that runs off the end: the missing bits read as zeros, so no
    // terminating one is found within 32 bits and the sentinel comes back.
    const std::vector<uint8_t> zeros = {0x00, 0x00};
    BitReader z(zeros.data(), 2);
    EXPECT_EQ(z.ReadUe(), UINT32_MAX);
    EXPECT_TRUE(z.Overrun());
    BitReader s(zeros.data(), 2);
    EXPECT_EQ(s.ReadSe(), INT32_MIN);

    // A code whose suffix is cut by the end of the data.
    const std::vector<uint8_t> cut = {0x00, 0x01};  // 15 zeros, a one, no suffix bits
    BitReader c(cut.data(), 2);
    EXPECT_EQ(c.ReadUe(), 0x7FFFu);  // suffix read as zeros
    EXPECT_TRUE(c.Overrun());
}

TEST(BitReader, MoreRbspDataFindsTheStopBit) {
    struct Case {
        std::vector<uint8_t> bytes;
        uint32_t read;
        bool more;
    };
    for (const Case &c : {Case{{0xB8}, 0, true},  // data 1011, then the stop bit
                          Case{{0xB8}, 4, false},
                          // The stop bit alone in its own byte (the scanner strips trailing zero bytes).
                          Case{{0xFF, 0x80}, 7, true}, Case{{0xFF, 0x80}, 8, false},
                          // A data bit in the last byte before the stop bit: ...0110 0000.
                          Case{{0x00, 0x60}, 9, true}, Case{{0x00, 0x60}, 10, false}}) {
        BitReader br(c.bytes.data(), uint32_t(c.bytes.size()));
        if (c.read) br.ReadBits(int(c.read));
        EXPECT_EQ(br.MoreRbspData(), c.more) << int(c.bytes[0]) << " after " << c.read;
    }
}

}  // namespace
