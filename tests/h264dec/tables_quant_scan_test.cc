// Scans, default scaling lists, dequantisation, chroma QP and deblocking
// threshold tables: the structural properties that a mistyped entry breaks.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "h264dec/tables/tables.h"

namespace tessaly::h264 {
namespace {

template <size_t N>
bool IsPermutation(const uint8_t (&scan)[N]) {
    uint8_t sorted[N];
    std::copy(scan, scan + N, sorted);
    std::sort(sorted, sorted + N);
    for (size_t i = 0; i < N; i++)
        if (sorted[i] != i) return false;
    return true;
}

TEST(ScanTables, AreRasterPermutations) {
    EXPECT_TRUE(IsPermutation(kZigzag4x4));
    EXPECT_TRUE(IsPermutation(kField4x4));
    EXPECT_TRUE(IsPermutation(kZigzag8x8));
    EXPECT_TRUE(IsPermutation(kField8x8));
}

// The zig-zag walks anti-diagonals in turn, alternating direction; moving
// between neighbours one step at a time.
template <int N>
void CheckZigzag(const uint8_t *scan) {
    for (int k = 1; k < N * N; k++) {
        const int x0 = scan[k - 1] % N, y0 = scan[k - 1] / N, x1 = scan[k] % N, y1 = scan[k] / N;
        EXPECT_GE(x1 + y1, x0 + y0) << k;
        EXPECT_LE(std::max(std::abs(x1 - x0), std::abs(y1 - y0)), 1) << k;
        if (x1 + y1 == x0 + y0) {
            // Within a diagonal: odd diagonals go down-left, even ones up-right.
            EXPECT_EQ(x1 - x0, ((x0 + y0) & 1) ? -1 : 1) << k;
        }
    }
}

TEST(ScanTables, ZigzagWalksAntiDiagonals) {
    CheckZigzag<4>(kZigzag4x4);
    CheckZigzag<8>(kZigzag8x8);
}

// Field scans favour the vertical direction: every coefficient is reached
// no later than its transpose's position in the frame zig-zag would suggest,
// and the first column is complete before column 2 starts.
TEST(ScanTables, FieldScansRunDownColumnsFirst) {
    EXPECT_EQ(kField4x4[1], 4);
    EXPECT_EQ(kField4x4[2], 1);
    EXPECT_EQ(kField4x4[3], 8);
    EXPECT_EQ(kField4x4[15], 15);
    EXPECT_EQ(kField8x8[1], 8);
    EXPECT_EQ(kField8x8[2], 16);
    EXPECT_EQ(kField8x8[63], 63);
    int pos4[16], pos8[64];
    for (int k = 0; k < 16; k++) pos4[kField4x4[k]] = k;
    for (int k = 0; k < 64; k++) pos8[kField8x8[k]] = k;
    for (int y = 1; y < 4; y++) EXPECT_GT(pos4[4 * y], pos4[4 * (y - 1)]);
    for (int y = 1; y < 8; y++) EXPECT_GT(pos8[8 * y], pos8[8 * (y - 1)]);
    // Column 0 finishes before column 2 begins.
    EXPECT_LT(pos4[12], pos4[2]);
    EXPECT_LT(pos8[56], pos8[2 * 8 + 3]);
}

// Default lists are symmetric weights growing with frequency: in raster form
// they must equal their own transpose and never decrease along a row.
template <int N>
void CheckDefaultList(const uint8_t *zigzagList, const uint8_t *scan, int first, int last) {
    int raster[N * N];
    for (int k = 0; k < N * N; k++) raster[scan[k]] = zigzagList[k];
    for (int y = 0; y < N; y++)
        for (int x = 0; x < N; x++) {
            EXPECT_EQ(raster[y * N + x], raster[x * N + y]) << x << "," << y;
            if (x) {
                EXPECT_GE(raster[y * N + x], raster[y * N + x - 1]);
            }
        }
    EXPECT_EQ(zigzagList[0], first);
    EXPECT_EQ(zigzagList[N * N - 1], last);
    for (int k = 1; k < N * N; k++) EXPECT_GE(zigzagList[k] + 2, zigzagList[k - 1]) << k;
}

TEST(DefaultScalingLists, AreSymmetricAndRising) {
    CheckDefaultList<4>(kDefault4x4Intra, kZigzag4x4, 6, 42);
    CheckDefaultList<4>(kDefault4x4Inter, kZigzag4x4, 10, 34);
    CheckDefaultList<8>(kDefault8x8Intra, kZigzag8x8, 6, 42);
    CheckDefaultList<8>(kDefault8x8Inter, kZigzag8x8, 9, 35);
}

TEST(NormAdjust, TablesGrowByTwoEverySixSteps) {
    // The rows follow 2^(q/6) (the step size doubles every six QPs), so
    // they rise and row 5 is about 2^(5/6) times row 0.
    for (int c = 0; c < 3; c++) {
        for (int q = 1; q < 6; q++) EXPECT_GT(kNormAdjust4x4[q][c], kNormAdjust4x4[q - 1][c]);
        const double ratio = double(kNormAdjust4x4[5][c]) / kNormAdjust4x4[0][c];
        EXPECT_NEAR(ratio, 1.78, 0.08);
    }
    for (int c = 0; c < 6; c++) {
        for (int q = 1; q < 6; q++) EXPECT_GT(kNormAdjust8x8[q][c], kNormAdjust8x8[q - 1][c]);
        const double ratio = double(kNormAdjust8x8[5][c]) / kNormAdjust8x8[0][c];
        EXPECT_NEAR(ratio, 1.78, 0.08);
    }
    EXPECT_EQ(kNormAdjust4x4[0][0], 10);
    EXPECT_EQ(kNormAdjust4x4[0][1], 16);
    EXPECT_EQ(kNormAdjust4x4[0][2], 13);
    EXPECT_EQ(kNormAdjust8x8[0][0], 20);
    EXPECT_EQ(kNormAdjust8x8[0][2], 32);
}

TEST(NormAdjust, ClassMapsFollowTheCoordinateRules) {
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) {
            const int expect = (i % 2 == 0 && j % 2 == 0) ? 0 : (i % 2 == 1 && j % 2 == 1) ? 1 : 2;
            EXPECT_EQ(kNormAdjust4x4Class[4 * i + j], expect);
        }
    int counts[6] = {};
    for (int i = 0; i < 8; i++)
        for (int j = 0; j < 8; j++) {
            const int c = kNormAdjust8x8Class[8 * i + j];
            counts[c]++;
            EXPECT_EQ(kNormAdjust8x8Class[8 * j + i], c) << "symmetric";
            if (i % 4 == 0 && j % 4 == 0) {
                EXPECT_EQ(c, 0);
            }
            if (i % 2 == 1 && j % 2 == 1) {
                EXPECT_EQ(c, 1);
            }
            if (i % 4 == 2 && j % 4 == 2) {
                EXPECT_EQ(c, 2);
            }
        }
    EXPECT_EQ(counts[0], 4);
    EXPECT_EQ(counts[1], 16);
    EXPECT_EQ(counts[2], 4);
    EXPECT_EQ(counts[3], 16);
    EXPECT_EQ(counts[4], 8);
    EXPECT_EQ(counts[5], 16);
}

TEST(ChromaQp, IdentityBelow30ThenCompressedTo39) {
    for (int q = 0; q < 30; q++) EXPECT_EQ(kChromaQp[q], q);
    for (int q = 30; q < 52; q++) {
        EXPECT_GE(kChromaQp[q], kChromaQp[q - 1]);
        EXPECT_LE(kChromaQp[q], kChromaQp[q - 1] + 1);
    }
    EXPECT_EQ(kChromaQp[30], 29);
    EXPECT_EQ(kChromaQp[34], 32);
    EXPECT_EQ(kChromaQp[40], 36);
    EXPECT_EQ(kChromaQp[51], 39);
}

TEST(DeblockTables, ThresholdsRiseWithIndex) {
    for (int i = 0; i < 16; i++) {
        EXPECT_EQ(kDeblockAlpha[i], 0);
        EXPECT_EQ(kDeblockBeta[i], 0);
    }
    EXPECT_EQ(kDeblockAlpha[16], 4);
    EXPECT_EQ(kDeblockBeta[16], 2);
    EXPECT_EQ(kDeblockAlpha[51], 255);
    EXPECT_EQ(kDeblockBeta[51], 18);
    EXPECT_EQ(kDeblockTc0[17][2], 1);
    // Spot values across the range (indexA: alpha, beta, tC0 for bS 1..3).
    struct Row {
        int index, alpha, beta, tc0[3];
    };
    constexpr Row kRows[] = {{23, 10, 4, {1, 1, 1}}, {30, 25, 8, {1, 1, 2}}, {36, 50, 11, {2, 3, 4}},
                             {42, 101, 14, {4, 6, 9}}, {47, 182, 16, {8, 11, 16}}, {49, 226, 17, {10, 13, 20}}};
    for (const Row &r : kRows) {
        EXPECT_EQ(kDeblockAlpha[r.index], r.alpha) << r.index;
        EXPECT_EQ(kDeblockBeta[r.index], r.beta) << r.index;
        for (int b = 0; b < 3; b++) EXPECT_EQ(kDeblockTc0[r.index][b], r.tc0[b]) << r.index;
    }
    EXPECT_EQ(kDeblockTc0[51][0], 13);
    EXPECT_EQ(kDeblockTc0[51][1], 17);
    EXPECT_EQ(kDeblockTc0[51][2], 25);
    for (int i = 1; i < 52; i++) {
        EXPECT_GE(kDeblockAlpha[i], kDeblockAlpha[i - 1]);
        EXPECT_GE(kDeblockBeta[i], kDeblockBeta[i - 1]);
        for (int b = 0; b < 3; b++) EXPECT_GE(kDeblockTc0[i][b], kDeblockTc0[i - 1][b]);
    }
    for (int i = 0; i < 52; i++) {
        EXPECT_LE(kDeblockTc0[i][0], kDeblockTc0[i][1]);
        EXPECT_LE(kDeblockTc0[i][1], kDeblockTc0[i][2]);
        // alpha roughly doubles every 6 steps in the active range.
        if (i >= 22 && i + 6 < 50) {
            EXPECT_NEAR(double(kDeblockAlpha[i + 6]) / kDeblockAlpha[i], 2.0, 0.35) << i;
        }
    }
}

}  // namespace
}  // namespace tessaly::h264
