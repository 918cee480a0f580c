// Boundary strengths of the macroblock edges and inner edges from hand-made
// macroblock records: intra (4, and 3 across field rows), coefficients (2),
// different reference pictures or large motion differences (1, with the
// field vertical limit), slice boundaries under idc 2 and the 16x16 fast
// paths against the general per-block rule.
#include <gtest/gtest.h>

#include <cstring>

#include "h264dec/slice/deblock_strength.h"

namespace tessaly::h264 {
namespace {

class SliceDeblockStrength : public ::testing::Test {
protected:
    void SetUp() override {
        p.widthMbs = 2;
        p.heightMbs = 2;
        p.picSizeInMbs = 4;
        sd.mbs = mbs;
        sd.p = &p;
        sd.sliceSerial = 5;
        sd.pictureFirstSlice = 4;
        for (int a = 0; a < 4; ++a) {
            mbs[a].addr = a;
            Inter(mbs[a], 16, 0, 0);
        }
        // Current macroblock: bottom-right, left = 2, top = 1.
        sd.mbAddr = 3;
        sd.mbIndex = 3;
        sd.mbX = 1;
        sd.mbY = 1;
    }
    static void Inter(MbRecord &r, int refId, int mvx, int mvy, uint8_t cls = kMbP16x16) {
        const int32_t addr = r.addr;
        r = MbRecord{};
        r.addr = addr;
        r.slice = 5;
        r.cls = cls;
        for (int k = 0; k < 4; ++k) {
            r.ref[k] = 0;
            r.refId[k] = refId;
        }
        for (auto &mv : r.mv) {
            mv[0] = int16_t(mvx);
            mv[1] = int16_t(mvy);
        }
    }
    DeblockMb Compute() {
        DeblockMb d;
        ComputeDeblockParams(sd, d);
        return d;
    }

    MbRecord mbs[4];
    SliceParams p;
    SliceDecoder sd;
};

TEST_F(SliceDeblockStrength, IntraEdgesAreStrongestExceptAcrossFieldRows) {
    mbs[3].cls = kMbINxN;
    DeblockMb d = Compute();
    ASSERT_TRUE(d.filterLeftEdge && d.filterTopEdge);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(d.bsV[0][k], 4);
        EXPECT_EQ(d.bsH[0][k], 4);
        for (int e = 1; e < 4; ++e) {
            EXPECT_EQ(d.bsV[e][k], 3);
            EXPECT_EQ(d.bsH[e][k], 3);
        }
    }
    p.fieldPic = 1;
    d = Compute();
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(d.bsV[0][k], 4);
        EXPECT_EQ(d.bsH[0][k], 3);
    }
}

TEST_F(SliceDeblockStrength, CoefficientsGiveTwoOnBothSidesOfTheirBlock) {
    mbs[2].nonzero = 1u << 7;   // left neighbour, right column, row 1
    mbs[3].nonzero = 1u << 5;   // current, block (1, 1)
    const DeblockMb d = Compute();
    const uint8_t left[4] = {0, 2, 0, 0};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(d.bsV[0][k], left[k]) << k;
    EXPECT_EQ(d.bsV[1][1], 2);  // between (0, 1) and (1, 1)
    EXPECT_EQ(d.bsV[2][1], 2);  // between (1, 1) and (2, 1)
    EXPECT_EQ(d.bsV[3][1], 0);
    EXPECT_EQ(d.bsH[1][1], 2);
    EXPECT_EQ(d.bsH[2][1], 2);
    EXPECT_EQ(d.bsH[1][0], 0);
}

TEST_F(SliceDeblockStrength, ReferencePicturesAndMotionLimits) {
    // Same list position, different pictures (ids) across the left edge.
    Inter(mbs[2], 17, 0, 0);
    DeblockMb d = Compute();
    for (int k = 0; k < 4; ++k) EXPECT_EQ(d.bsV[0][k], 1);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(d.bsH[0][k], 0);
    // Vertical difference of 3 quarter samples: below the frame limit, at
    // or above the field limit of 2.
    Inter(mbs[2], 16, 0, 0);
    Inter(mbs[1], 16, 3, 3);
    d = Compute();
    for (int k = 0; k < 4; ++k) EXPECT_EQ(d.bsH[0][k], 0);
    p.fieldPic = 1;
    d = Compute();
    for (int k = 0; k < 4; ++k) EXPECT_EQ(d.bsH[0][k], 1);
    // Horizontal limit is 4 in both.
    Inter(mbs[1], 16, 4, 0);
    p.fieldPic = 0;
    d = Compute();
    for (int k = 0; k < 4; ++k) EXPECT_EQ(d.bsH[0][k], 1);
}

TEST_F(SliceDeblockStrength, PartitionedMacroblocksUseTheirOwnVectors) {
    // 8x16 current macroblock: the right half moves; the fast path for one
    // vector must not be taken.
    Inter(mbs[3], 16, 0, 0, kMbP8x16);
    for (int y = 0; y < 4; ++y)
        for (int x = 2; x < 4; ++x) mbs[3].mv[4 * y + x][0] = 8;
    mbs[3].nonzero = 1u << 12;  // block (0, 3)
    const DeblockMb d = Compute();
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(d.bsV[1][k], k == 3 ? 2 : 0) << k;  // coefficients of (0, 3)
        EXPECT_EQ(d.bsV[2][k], 1);
        EXPECT_EQ(d.bsV[3][k], 0);
    }
    EXPECT_EQ(d.bsH[3][0], 2);
    EXPECT_EQ(d.bsH[3][1], 0);
}

TEST_F(SliceDeblockStrength, InnerEdgeMotionLimitsHoldForBothSigns) {
    // 8x8 partitions: the right half moves by (dx, dy) against the left half,
    // so only the middle vertical edge can see motion.
    struct Case {
        int dx, dy, field, expected;
    };
    const Case cases[] = {{3, 0, 0, 0},  {-3, 0, 0, 0},  {4, 0, 0, 1},  {-4, 0, 0, 1},  {0, 3, 0, 0},
                          {0, -3, 0, 0}, {0, 4, 0, 1},   {0, -4, 0, 1}, {0, 1, 1, 0},   {0, -1, 1, 0},
                          {0, 2, 1, 1},  {0, -2, 1, 1},  {-3, 3, 0, 0}, {-4, -1, 1, 1}, {0, 0, 1, 0}};
    for (const Case &c : cases) {
        Inter(mbs[3], 16, 0, 0, kMbP8x8);
        for (int y = 0; y < 4; ++y)
            for (int x = 2; x < 4; ++x) {
                mbs[3].mv[4 * y + x][0] = int16_t(c.dx);
                mbs[3].mv[4 * y + x][1] = int16_t(c.dy);
            }
        p.fieldPic = c.field;
        const DeblockMb d = Compute();
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(d.bsV[2][k], c.expected) << c.dx << "," << c.dy << " field " << c.field;
            EXPECT_EQ(d.bsV[1][k], 0);
            EXPECT_EQ(d.bsH[2][k], 0);
        }
    }
    // A different picture in the bottom-left 8x8 only: the middle horizontal
    // edge under it and the middle vertical edge beside it.
    Inter(mbs[3], 16, 0, 0, kMbP8x8);
    mbs[3].refId[2] = 18;
    p.fieldPic = 0;
    const DeblockMb d = Compute();
    const uint8_t horizontal[4] = {1, 1, 0, 0}, vertical[4] = {0, 0, 1, 1};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(d.bsH[2][k], horizontal[k]) << k;
        EXPECT_EQ(d.bsV[2][k], vertical[k]) << k;
        EXPECT_EQ(d.bsH[1][k], 0);
        EXPECT_EQ(d.bsH[3][k], 0);
    }
}

TEST_F(SliceDeblockStrength, SliceAndPictureBoundaries) {
    mbs[2].slice = 4;  // earlier slice of the same picture
    mbs[1].slice = 3;  // not decoded in this picture
    DeblockMb d = Compute();
    EXPECT_TRUE(d.filterLeftEdge);
    EXPECT_FALSE(d.filterTopEdge);
    // A record of this picture left in the place of a macroblock that was
    // never decoded (its row's records are reused two rows later).
    mbs[1].slice = 4;
    mbs[1].addr = 1 - 2 * p.widthMbs;
    EXPECT_FALSE(Compute().filterTopEdge);
    p.disableDeblock = 2;
    d = Compute();
    EXPECT_FALSE(d.filterLeftEdge);
    // Picture border.
    sd.mbAddr = 0;
    sd.mbX = sd.mbY = 0;
    p.disableDeblock = 0;
    d = Compute();
    EXPECT_FALSE(d.filterLeftEdge);
    EXPECT_FALSE(d.filterTopEdge);
}

TEST_F(SliceDeblockStrength, NeighbourQpsComeFromTheirRecords) {
    mbs[2].qpDeblock = 20;
    mbs[2].qpcDeblock[0] = 19;
    mbs[1].qpDeblock = 0;  // I_PCM above
    mbs[3].qpDeblock = 30;
    mbs[3].qpcDeblock[1] = 29;
    const DeblockMb d = Compute();
    EXPECT_EQ(d.qp, 30);
    EXPECT_EQ(d.qpLeft, 20);
    EXPECT_EQ(d.qpTop, 0);
    EXPECT_EQ(d.chromaQpLeft[0], 19);
    EXPECT_EQ(d.chromaQp[1], 29);
}

}  // namespace
}  // namespace tessaly::h264
