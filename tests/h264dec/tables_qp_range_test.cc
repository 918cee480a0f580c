// The tops of the QP-indexed tables, where few conformance streams go (they
// catch a mistyped entry anywhere else): chroma QP and the deblocking
// thresholds up to index 51.
#include <gtest/gtest.h>

#include "h264dec/tables/tables.h"

namespace tessaly::h264 {
namespace {

TEST(QpTables, ChromaQpIsIdentityBelow30ThenRisesByAtMostOneTo39) {
    for (int q = 0; q < 30; q++) EXPECT_EQ(kChromaQp[q], q);
    for (int q = 30; q < 52; q++) {
        EXPECT_GE(kChromaQp[q], kChromaQp[q - 1]) << q;
        EXPECT_LE(kChromaQp[q], kChromaQp[q - 1] + 1) << q;
    }
    EXPECT_EQ(kChromaQp[51], 39);
}

TEST(QpTables, DeblockingThresholdsAtTheTop) {
    struct Row {
        int index, alpha, beta, tc0[3];
    };
    constexpr Row kRows[] = {{47, 182, 16, {8, 11, 16}},
                             {48, 203, 17, {9, 12, 18}},
                             {49, 226, 17, {10, 13, 20}},
                             {50, 255, 18, {11, 15, 23}},
                             {51, 255, 18, {13, 17, 25}}};
    for (const Row &r : kRows) {
        EXPECT_EQ(kDeblockAlpha[r.index], r.alpha) << r.index;
        EXPECT_EQ(kDeblockBeta[r.index], r.beta) << r.index;
        for (int b = 0; b < 3; b++) EXPECT_EQ(kDeblockTc0[r.index][b], r.tc0[b]) << r.index;
    }
}

}  // namespace
}  // namespace tessaly::h264
