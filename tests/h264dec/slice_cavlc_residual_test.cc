// CAVLC residual blocks from hand-built bit strings: the coefficient order,
// level escapes and suffix-length adaptation, and the malformed codes that
// must be refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "h264_stream_builder.h"
#include "h264dec/slice/cavlc_residual.h"
#include "h264dec/tables/cavlc_tables.h"

namespace tessaly::h264 {
namespace {

using h264test::BitWriter;

void Put(BitWriter &w, const VlcCode &code) { w.Bits(code.code, code.len); }

constexpr uint8_t kIdentity[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// The block's coefficient count, -1 when it is refused (nC 0).
int CoefficientCount(const BitWriter &w, int maxCoeffs) {
    std::vector<uint8_t> bytes = w.Bytes();
    bytes.resize(bytes.size() + 8, 0);
    BitReader br(bytes.data(), uint32_t(bytes.size()));
    int16_t coeffs[16] = {};
    return ReadCavlcBlock(br, 0, maxCoeffs, CavlcBlockTarget{coeffs, kIdentity, nullptr, 0, 4, 1});
}

TEST(SliceCavlcResidual, MalformedBlocksAreRefused) {
    // 16 coefficients where only 15 fit (Intra16x16 AC / chroma AC).
    BitWriter tooMany;
    Put(tooMany, kCoeffToken[0][0][16]);
    tooMany.Bits(0xFFFFFFFF, 32);
    tooMany.Bits(0xFFFFFFFF, 32);
    EXPECT_EQ(CoefficientCount(tooMany, 15), -1);
    // A run longer than the zeros left: total_zeros 7, run_before 10.
    BitWriter longRun;
    Put(longRun, kCoeffToken[0][2][2]);
    longRun.Bits(0, 2);
    Put(longRun, kTotalZeros4x4[1][7]);
    Put(longRun, kRunBefore[6][10]);
    EXPECT_EQ(CoefficientCount(longRun, 16), -1);
    // An all-zero string is no coeff_token at all.
    BitWriter zeros;
    zeros.Bits(0, 32);
    zeros.Bits(0, 8);
    EXPECT_EQ(CoefficientCount(zeros, 16), -1);
}

}  // namespace
}  // namespace tessaly::h264
