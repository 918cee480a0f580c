#include <gtest/gtest.h>

#include "h264dec/picture/poc.h"

using namespace tessaly::h264;

namespace {

struct Step {
    uint32_t frameNum;
    uint8_t refIdc;
    uint32_t pocLsb;
    int32_t top, bottom;
    bool idr = false;
    bool mmco5 = false;
};

void CheckSequence(const Sps &sps, const std::vector<Step> &steps, int32_t deltaBottom = 0) {
    PocState state;
    int i = 0;
    for (const Step &s : steps) {
        SliceHeader sh;
        sh.idr = s.idr;
        sh.nalRefIdc = s.refIdc;
        sh.frameNum = s.frameNum;
        sh.pocLsb = s.pocLsb;
        sh.deltaPocBottom = deltaBottom;
        const PocResult r = ComputePoc(sps, sh, s.mmco5, &state);
        EXPECT_EQ(r.top, s.top) << "step " << i;
        EXPECT_EQ(r.bottom, s.bottom) << "step " << i;
        ++i;
    }
}

TEST(PictureOrderCount, Type0FollowsLsbWrapAndIgnoresNonReferencePictures) {
    Sps sps;
    sps.pocType = 0;
    sps.log2MaxPocLsb = 4;  // lsb wraps at 16
    CheckSequence(sps, {{0, 1, 0, 0, 0, true},
                        {1, 1, 6, 6, 6},
                        {2, 1, 12, 12, 12},
                        {3, 1, 2, 18, 18},     // wrapped forwards
                        {4, 0, 8, 24, 24},     // non-reference: does not move the reference point
                        {4, 1, 4, 20, 20},     // still relative to lsb 2 / msb 16
                        {5, 1, 14, 14, 14}});  // backwards by more than half: msb drops back
    CheckSequence(sps, {{0, 1, 0, 0, -1, true}, {1, 1, 4, 4, 3}}, -1);  // delta_pic_order_cnt_bottom
}

TEST(PictureOrderCount, Type1ExpectedCountsOverTheCycle) {
    Sps sps;
    sps.pocType = 1;
    sps.maxFrameNum = 16;
    sps.numRefFramesInPocCycle = 2;
    sps.offsetForRefFrame[0] = 4;
    sps.offsetForRefFrame[1] = 2;
    sps.expectedDeltaPerPocCycle = 6;
    sps.offsetForNonRefPic = -3;
    sps.offsetForTopToBottomField = 1;
    CheckSequence(sps, {{0, 1, 0, 0, 1, true},
                        {1, 1, 0, 4, 5},
                        {2, 0, 0, 1, 2},  // non-reference: one frame back plus offset_for_non_ref_pic
                        {2, 1, 0, 6, 7},
                        {3, 1, 0, 10, 11},  // second cycle
                        {15, 1, 0, 46, 47},
                        {0, 1, 0, 48, 49}});  // frame_num wrapped: FrameNumOffset 16
}

TEST(PictureOrderCount, Type2AndOperation5) {
    Sps sps;
    sps.pocType = 2;
    sps.maxFrameNum = 16;
    CheckSequence(sps, {{0, 1, 0, 0, 0, true},
                        {1, 1, 0, 2, 2},
                        {2, 0, 0, 3, 3},
                        {2, 1, 0, 4, 4},
                        {15, 1, 0, 30, 30},
                        {0, 1, 0, 32, 32},
                        {5, 1, 0, 42, 42, false, true},  // carries operation 5 ...
                        {1, 1, 0, 2, 2}});               // ... so the next picture restarts from frame_num 0
}

TEST(PictureOrderCount, GapFramesOfType0ReuseTheLastCount) {
    Sps sps;
    sps.pocType = 0;
    sps.log2MaxPocLsb = 8;
    PocState state;
    SliceHeader sh;
    sh.nalRefIdc = 1;
    sh.pocLsb = 10;
    ComputePoc(sps, sh, false, &state);
    EXPECT_EQ(ComputeGapPoc(sps, 3, &state).top, 10);
    sps.pocType = 2;  // counted from frame_num instead
    PocState fresh;
    EXPECT_EQ(ComputeGapPoc(sps, 3, &fresh).top, 6);
}

}  // namespace
