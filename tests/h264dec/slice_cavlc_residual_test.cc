// CAVLC residual blocks from hand-built bit strings: the coefficient order,
// level escapes and suffix-length adaptation, and the malformed codes that
// must be refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "h264dec/slice/cavlc_residual.h"
#include "h264dec/tables/cavlc_tables.h"

namespace tessaly::h264 {
namespace {

class Bits {
public:
    Bits &Put(const std::string &s) {
        for (char c : s) bits_.push_back(c == '1');
        return *this;
    }
    Bits &Put(const VlcCode &code) {
        for (int i = code.len - 1; i >= 0; --i) bits_.push_back((code.code >> i) & 1);
        return *this;
    }
    Bits &PutValue(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bits_.push_back((v >> i) & 1);
        return *this;
    }
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> out((bits_.size() + 7) / 8 + 8, 0);
        for (size_t i = 0; i < bits_.size(); ++i)
            if (bits_[i]) out[i / 8] |= uint8_t(0x80 >> (i % 8));
        return out;
    }
    size_t size() const { return bits_.size(); }

private:
    std::vector<bool> bits_;
};

constexpr uint8_t kIdentity[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

struct Decoded {
    int total;
    int16_t coeffs[16];
    uint64_t bitsUsed;
};

Decoded Decode(const Bits &b, int nC, int maxCoeffs) {
    const std::vector<uint8_t> bytes = b.Bytes();
    BitReader br(bytes.data(), uint32_t(bytes.size()));
    Decoded d{};
    const CavlcBlockTarget t{d.coeffs, kIdentity, nullptr, 0, 4, 1};
    d.total = ReadCavlcBlock(br, nC, maxCoeffs, t);
    d.bitsUsed = br.Position();
    return d;
}

TEST(SliceCavlcResidual, MalformedBlocksAreRefused) {
    {
        // 16 coefficients where only 15 fit (Intra16x16 AC / chroma AC).
        Bits b;
        b.Put(kCoeffToken[0][0][16]);
        for (int i = 0; i < 64; ++i) b.Put("1");
        EXPECT_EQ(Decode(b, 0, 15).total, -1);
    }
    {
        // A run longer than the zeros left: total_zeros 7, run_before 10.
        Bits b;
        b.Put(kCoeffToken[0][2][2]).Put("00");
        b.Put(kTotalZeros4x4[1][7]);
        b.Put(kRunBefore[6][10]);
        EXPECT_EQ(Decode(b, 0, 16).total, -1);
    }
    {
        // An all-zero string is no coeff_token at all.
        Bits b;
        b.Put("0000000000000000000000000000000000000000");
        EXPECT_EQ(Decode(b, 0, 16).total, -1);
    }
}

}  // namespace
}  // namespace tessaly::h264
