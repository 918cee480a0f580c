// Motion vector prediction on hand-filled neighbour caches: the median and
// its single-match and only-left exceptions, the directional 16x8 / 8x16
// rules, the above-right fallback, and P_Skip.
#include <gtest/gtest.h>

#include "h264dec/slice/mv_prediction.h"

namespace tessaly::h264 {
namespace {

class SliceMvPrediction : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < kCacheSize; ++i) {
            c.ref[i] = kRefUnavailable;
            c.mv[i][0] = c.mv[i][1] = 0;
        }
    }
    void Set(int x, int y, int ref, int mvx, int mvy) {
        const int i = Cache(x, y);
        c.ref[i] = int8_t(ref);
        c.mv[i][0] = int16_t(mvx);
        c.mv[i][1] = int16_t(mvy);
    }
    void Expect(int x, int y, int w, int ref, int shape, int mvx, int mvy) {
        int16_t mvp[2];
        PredictMv(c, x, y, w, ref, shape, mvp);
        EXPECT_EQ(mvp[0], mvx);
        EXPECT_EQ(mvp[1], mvy);
    }
    NeighbourCache c{};
};

TEST_F(SliceMvPrediction, MedianOfThreeNeighboursPerComponent) {
    Set(-1, 0, 0, 4, -8);  // A
    Set(0, -1, 0, 10, 2);  // B
    Set(4, -1, 0, -6, 7);  // C
    Expect(0, 0, 4, 0, 0, 4, 2);
}

TEST_F(SliceMvPrediction, SingleMatchingReferenceWins) {
    Set(-1, 0, 1, 4, -8);
    Set(0, -1, 0, 10, 2);
    Set(4, -1, 2, -6, 7);
    Expect(0, 0, 4, 0, 0, 10, 2);
    // Intra neighbours (ref -1) never match.
    Set(0, -1, kRefIntra, 0, 0);
    Expect(0, 0, 4, 2, 0, -6, 7);
}

TEST_F(SliceMvPrediction, OnlyLeftAvailableIsCopiedWhateverItsReference) {
    Set(-1, 0, 3, 12, -5);
    Expect(0, 0, 4, 0, 0, 12, -5);
    // An intra B counts as available: median of (A, 0, 0).
    Set(0, -1, kRefIntra, 0, 0);
    Expect(0, 0, 4, 0, 0, 0, 0);
}

TEST_F(SliceMvPrediction, AboveRightFallsBackToAboveLeft) {
    Set(-1, 0, 0, 1, 1);
    Set(0, -1, 0, 2, 2);
    Set(-1, -1, 0, 9, 9);  // D
    // C (4, -1) unavailable: D replaces it in the median.
    Expect(0, 0, 4, 0, 0, 2, 2);
    Set(-1, -1, 0, 0, 0);
    Expect(0, 0, 4, 0, 0, 1, 1);
}

TEST_F(SliceMvPrediction, DirectionalRulesFor16x8And8x16) {
    Set(-1, 0, 0, 1, 1);
    Set(-1, 2, 1, 5, 5);
    Set(0, -1, 1, 2, 2);
    Set(4, -1, 1, 3, 3);
    // 16x8 upper partition takes B when B uses its reference.
    Expect(0, 0, 4, 1, 1, 2, 2);
    // 16x8 lower partition takes A (the block left of its top row).
    Expect(0, 2, 4, 1, 1, 5, 5);
    // 8x16 left partition: A only with the same reference, else median.
    Expect(0, 0, 2, 0, 2, 1, 1);
    // 8x16 right partition takes C (above-right of the macroblock).
    Expect(2, 0, 2, 1, 2, 3, 3);
}

TEST_F(SliceMvPrediction, AboveRightInsideTheMacroblockMustAlreadyBeDecoded) {
    // 4x4 block 3 (1, 1): its above-right (2, 0) belongs to 8x8 block 1,
    // decoded later, so D (0, 0) is used even though a value sits there.
    Set(0, 1, 0, 1, 0);   // A
    Set(1, 0, 0, 2, 0);   // B
    Set(2, 0, 0, 50, 0);  // not decoded yet
    Set(0, 0, 0, 3, 0);   // D
    Expect(1, 1, 1, 0, 0, 2, 0);
    // 8x8 block 2 (0, 2): above-right (2, 1) is block 1, already decoded.
    Set(-1, 2, 0, 7, 0);
    Set(0, 1, 0, 8, 0);
    Set(2, 1, 0, 9, 0);
    Expect(0, 2, 2, 0, 0, 8, 0);
}

TEST_F(SliceMvPrediction, SkipIsZeroAtEdgesAndBesideStillNeighbours) {
    int16_t mv[2];
    Set(-1, 0, 0, 6, 6);
    Set(0, -1, 0, 8, 8);
    Set(4, -1, 0, 7, 7);
    PredictSkipMv(c, false, true, mv);
    EXPECT_EQ(mv[0], 0);
    EXPECT_EQ(mv[1], 0);
    PredictSkipMv(c, true, true, mv);
    EXPECT_EQ(mv[0], 7);
    EXPECT_EQ(mv[1], 7);
    // A uses reference 0 with a zero vector: skip stays still.
    Set(-1, 0, 0, 0, 0);
    PredictSkipMv(c, true, true, mv);
    EXPECT_EQ(mv[0], 0);
    EXPECT_EQ(mv[1], 0);
    // Same zero vector on another reference does not count: median of
    // (0, 8, 7) since B and C both use reference 0.
    Set(-1, 0, 1, 0, 0);
    PredictSkipMv(c, true, true, mv);
    EXPECT_EQ(mv[0], 7);
    EXPECT_EQ(mv[1], 7);
}

}  // namespace
}  // namespace tessaly::h264
