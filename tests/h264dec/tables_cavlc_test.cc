// CAVLC code tables: every table must be a prefix-free code whose unused code
// space is exactly what the standard leaves free, with the right symbol set,
// and a few codes checked against the standard's listing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "h264dec/tables/cavlc_tables.h"

namespace tessaly::h264 {
namespace {

std::string Bits(const VlcCode &c) {
    std::string s;
    for (int i = c.len - 1; i >= 0; i--) s += ((c.code >> i) & 1) ? '1' : '0';
    return s;
}

// Checks prefix-freeness and returns the unused code space as a multiple of
// 2^-16 (the longest code is 16 bits).
int64_t UnusedSpace(const std::vector<VlcCode> &codes, const std::string &what) {
    int64_t used = 0;
    for (size_t i = 0; i < codes.size(); i++) {
        EXPECT_LE(codes[i].len, 16) << what;
        EXPECT_LT(codes[i].code, 1u << codes[i].len) << what << " code wider than its length";
        used += int64_t(1) << (16 - codes[i].len);
        for (size_t j = 0; j < codes.size(); j++) {
            if (i == j) continue;
            const std::string a = Bits(codes[i]), b = Bits(codes[j]);
            EXPECT_FALSE(b.compare(0, a.size(), a) == 0 && a.size() <= b.size())
                << what << ": " << a << " is a prefix of " << b;
        }
    }
    return (int64_t(1) << 16) - used;
}

TEST(CavlcTables, CoeffTokenCodesArePrefixFreeWithTheStandardsFreeSpace) {
    // Unused code space per class, in units of 2^-16.
    const int64_t expectFree[kCoeffTokenClasses] = {1 << 1, 1 << 3, 1 << 6, 2 << 10, 0};
    for (int cls = 0; cls < kCoeffTokenClasses; cls++) {
        std::vector<VlcCode> codes;
        for (int t1 = 0; t1 < 4; t1++)
            for (int tc = 0; tc <= 16; tc++) {
                const VlcCode &c = kCoeffToken[cls][t1][tc];
                const int maxCoeff = cls == kCoeffTokenChromaDc ? 4 : 16;
                const bool exists = t1 <= tc && tc <= maxCoeff;
                EXPECT_EQ(c.len != 0, exists) << "class " << cls << " t1 " << t1 << " tc " << tc;
                if (c.len) codes.push_back(c);
            }
        EXPECT_EQ(codes.size(), cls == kCoeffTokenChromaDc ? 14u : 62u);
        EXPECT_EQ(UnusedSpace(codes, "coeff_token class " + std::to_string(cls)), expectFree[cls]) << cls;
    }
}

TEST(CavlcTables, CoeffTokenKnownCodes) {
    EXPECT_EQ(Bits(kCoeffToken[0][0][0]), "1");
    EXPECT_EQ(Bits(kCoeffToken[0][1][1]), "01");
    EXPECT_EQ(Bits(kCoeffToken[0][2][2]), "001");
    EXPECT_EQ(Bits(kCoeffToken[0][0][1]), "000101");
    EXPECT_EQ(Bits(kCoeffToken[0][3][3]), "00011");
    EXPECT_EQ(Bits(kCoeffToken[0][1][13]), "000000000000001");
    EXPECT_EQ(Bits(kCoeffToken[1][0][0]), "11");
    EXPECT_EQ(Bits(kCoeffToken[2][0][0]), "1111");
    EXPECT_EQ(Bits(kCoeffToken[kCoeffTokenChromaDc][0][0]), "01");
    EXPECT_EQ(Bits(kCoeffToken[kCoeffTokenChromaDc][1][1]), "1");
    EXPECT_EQ(Bits(kCoeffToken[kCoeffTokenChromaDc][0][3]), "000011");
    EXPECT_EQ(Bits(kCoeffToken[kCoeffTokenChromaDc][0][4]), "000010");
    // 8 <= nC: six bits, TotalCoeff - 1 in the top four, TrailingOnes in the low two;
    // no coefficients is 000011.
    EXPECT_EQ(Bits(kCoeffToken[3][0][0]), "000011");
    for (int tc = 1; tc <= 16; tc++)
        for (int t1 = 0; t1 <= 3 && t1 <= tc; t1++) {
            EXPECT_EQ(kCoeffToken[3][t1][tc].len, 6);
            EXPECT_EQ(kCoeffToken[3][t1][tc].code, ((tc - 1) << 2) | t1);
        }
}

TEST(CavlcTables, TotalZerosAndRunBeforeCoverTheirSymbols) {
    for (int tc = 1; tc <= 15; tc++) {
        std::vector<VlcCode> codes;
        for (int tz = 0; tz < 16; tz++) {
            EXPECT_EQ(kTotalZeros4x4[tc - 1][tz].len != 0, tz <= 16 - tc) << tc << " " << tz;
            if (kTotalZeros4x4[tc - 1][tz].len) codes.push_back(kTotalZeros4x4[tc - 1][tz]);
        }
        EXPECT_EQ(UnusedSpace(codes, "total_zeros " + std::to_string(tc)), tc == 1 ? 1 << 7 : 0);
    }
    for (int tc = 1; tc <= 3; tc++) {
        std::vector<VlcCode> codes;
        for (int tz = 0; tz < 4; tz++) {
            EXPECT_EQ(kTotalZerosChromaDc[tc - 1][tz].len != 0, tz <= 4 - tc) << tc << " " << tz;
            if (kTotalZerosChromaDc[tc - 1][tz].len) codes.push_back(kTotalZerosChromaDc[tc - 1][tz]);
        }
        EXPECT_EQ(UnusedSpace(codes, "chroma DC total_zeros " + std::to_string(tc)), 0);
    }
    for (int zl = 1; zl <= 7; zl++) {
        std::vector<VlcCode> codes;
        const int maxRun = zl < 7 ? zl : 14;
        for (int run = 0; run < 15; run++) {
            EXPECT_EQ(kRunBefore[zl - 1][run].len != 0, run <= maxRun) << zl << " " << run;
            if (kRunBefore[zl - 1][run].len) codes.push_back(kRunBefore[zl - 1][run]);
        }
        EXPECT_EQ(UnusedSpace(codes, "run_before " + std::to_string(zl)), zl == 7 ? 1 << 5 : 0);
    }
    EXPECT_EQ(Bits(kTotalZeros4x4[0][0]), "1");
    EXPECT_EQ(Bits(kTotalZeros4x4[0][15]), "000000001");
    EXPECT_EQ(Bits(kTotalZeros4x4[14][1]), "1");
    EXPECT_EQ(Bits(kTotalZerosChromaDc[0][3]), "000");
    EXPECT_EQ(Bits(kRunBefore[0][1]), "0");
    EXPECT_EQ(Bits(kRunBefore[5][1]), "000");
    EXPECT_EQ(Bits(kRunBefore[6][14]), "00000000001");
}

}  // namespace
}  // namespace tessaly::h264
