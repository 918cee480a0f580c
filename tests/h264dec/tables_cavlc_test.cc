// CAVLC code tables: every table must be a prefix-free code whose unused code
// space is exactly what the standard leaves free, with the right symbol set:
// a mistyped rare code that no conformance stream uses still breaks these.
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

// Free code space of a row whose symbols 0..maxSymbol, and only those, have codes.
int64_t RowFreeSpace(const VlcCode *row, int count, int maxSymbol, const std::string &what) {
    std::vector<VlcCode> codes;
    for (int symbol = 0; symbol < count; symbol++) {
        EXPECT_EQ(row[symbol].len != 0, symbol <= maxSymbol) << what << " symbol " << symbol;
        if (row[symbol].len) codes.push_back(row[symbol]);
    }
    return UnusedSpace(codes, what);
}

TEST(CavlcTables, TotalZerosAndRunBeforeCoverTheirSymbols) {
    for (int tc = 1; tc <= 15; tc++)
        EXPECT_EQ(RowFreeSpace(kTotalZeros4x4[tc - 1], 16, 16 - tc, "total_zeros " + std::to_string(tc)),
                  tc == 1 ? 1 << 7 : 0);
    for (int tc = 1; tc <= 3; tc++)
        EXPECT_EQ(RowFreeSpace(kTotalZerosChromaDc[tc - 1], 4, 4 - tc, "chroma DC total_zeros " + std::to_string(tc)),
                  0);
    for (int zl = 1; zl <= 7; zl++)
        EXPECT_EQ(RowFreeSpace(kRunBefore[zl - 1], 15, zl < 7 ? zl : 14, "run_before " + std::to_string(zl)),
                  zl == 7 ? 1 << 5 : 0);
}

}  // namespace
}  // namespace tessaly::h264
