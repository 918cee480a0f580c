// The arithmetic decoder past the end of its data, which no valid stream
// reaches: it reads zeros and says so.
#include <gtest/gtest.h>

#include <cstdint>

#include "h264dec/slice/cabac_engine.h"

namespace tessaly::h264 {
namespace {

TEST(SliceCabacEngine, TruncatedDataReadsZerosAndReportsOverrun) {
    const uint8_t data[16] = {0xff, 0xff, 0xff, 0xff};
    CabacEngine dec;
    dec.Init(data, 0, 4);
    int ones = 0;
    for (int i = 0; i < 30; ++i) ones += dec.DecodeBypass();
    EXPECT_FALSE(dec.Overrun());
    EXPECT_GT(ones, 0);
    for (int i = 0; i < 200; ++i) dec.DecodeBypass();
    EXPECT_TRUE(dec.Overrun());
}

}  // namespace
}  // namespace tessaly::h264
