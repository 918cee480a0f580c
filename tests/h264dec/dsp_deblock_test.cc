// Deblocking at the ends of the index range, where filter offsets push
// indexA and indexB past 0 and 51 and the tables must be indexed clipped.
#include <gtest/gtest.h>

#include <cstring>

#include "dsp_test_util.h"
#include "h264dec/dsp/deblock_mb.h"

namespace tessaly::h264::test {
namespace {

void FillSmooth(Plane &pl, Rng &rng, int spread) {
    const int base = rng.Uniform(40, 200);
    for (auto &v : pl.data) v = rng.Near(base, spread);
}

// A picture of 3 x 3 macroblocks; the centre one is filtered.
struct MbPicture {
    MbPicture() : luma(48, 48, 0), cb(24, 24, 0), cr(24, 24, 0) {}
    Plane luma, cb, cr;
    DeblockMb Mb() {
        DeblockMb mb;
        mb.luma = luma.At(16, 16);
        mb.cb = cb.At(8, 8);
        mb.cr = cr.At(8, 8);
        mb.lumaStride = luma.stride;
        mb.chromaStride = cb.stride;
        return mb;
    }
};

TEST(DeblockMacroblock, OffsetsClipIndexAtBothEnds) {
    Rng rng(46);
    // indexA 0 (QP 0, offset -12): nothing is filtered even at bS 4.
    MbPicture pic;
    FillSmooth(pic.luma, rng, 30);
    FillSmooth(pic.cb, rng, 30);
    FillSmooth(pic.cr, rng, 30);
    const MbPicture before = pic;
    DeblockMb mb = pic.Mb();
    std::memset(mb.bsV, 4, sizeof(mb.bsV));
    std::memset(mb.bsH, 4, sizeof(mb.bsH));
    mb.filterLeftEdge = mb.filterTopEdge = 1;
    mb.filterOffsetA = -12;
    DeblockMbFilter(CKernels(), mb);
    EXPECT_EQ(pic.luma.data, before.luma.data);
    EXPECT_EQ(pic.cb.data, before.cb.data);

    // QP 51 with offset +12 behaves as indexA 51 exactly.
    MbPicture hi = before, ref = before;
    DeblockMb over = hi.Mb(), exact = ref.Mb();
    for (DeblockMb *m : {&over, &exact}) {
        std::memset(m->bsV, 2, sizeof(m->bsV));
        std::memset(m->bsH, 2, sizeof(m->bsH));
        m->qp = m->qpLeft = m->qpTop = 51;
        m->filterLeftEdge = m->filterTopEdge = 1;
    }
    over.filterOffsetA = over.filterOffsetB = 12;
    DeblockMbFilter(CKernels(), over);
    DeblockMbFilter(CKernels(), exact);
    EXPECT_EQ(hi.luma.data, ref.luma.data);
    EXPECT_NE(hi.luma.data, before.luma.data);
}

}  // namespace
}  // namespace tessaly::h264::test
