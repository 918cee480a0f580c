// Deblocking: edge kernels against a per-sample transcription of the
// standard's filters, the per-macroblock step against a reference that walks
// the picture sample by sample, and the invariants the decoder relies on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "h264dec/dsp/deblock_mb.h"
#include "dsp_test_util.h"
#include "h264dec/tables/tables.h"

namespace tessaly::h264::test {
namespace {

int Clip3(int lo, int hi, int v) { return v < lo ? lo : v > hi ? hi : v; }

// Filters one line of samples across an edge: s[0..3] = p0..p3 and
// t[0..3] = q0..q3 are updated in place.
void RefFilterLine(int *p, int *q, int bS, int indexA, int indexB, bool chroma) {
    const int alpha = kDeblockAlpha[indexA], beta = kDeblockBeta[indexB];
    if (bS == 0 || !(std::abs(p[0] - q[0]) < alpha && std::abs(p[1] - p[0]) < beta && std::abs(q[1] - q[0]) < beta))
        return;
    const int ap = std::abs(p[2] - p[0]), aq = std::abs(q[2] - q[0]);
    const int P0 = p[0], P1 = p[1], P2 = p[2], P3 = p[3], Q0 = q[0], Q1 = q[1], Q2 = q[2], Q3 = q[3];
    if (bS < 4) {
        const int tc0 = kDeblockTc0[indexA][bS - 1];
        const int tc = chroma ? tc0 + 1 : tc0 + (ap < beta) + (aq < beta);
        const int delta = Clip3(-tc, tc, ((((Q0 - P0) << 2) + (P1 - Q1) + 4) >> 3));
        p[0] = Clip3(0, 255, P0 + delta);
        q[0] = Clip3(0, 255, Q0 - delta);
        if (!chroma && ap < beta) p[1] = P1 + Clip3(-tc0, tc0, (P2 + ((P0 + Q0 + 1) >> 1) - (P1 << 1)) >> 1);
        if (!chroma && aq < beta) q[1] = Q1 + Clip3(-tc0, tc0, (Q2 + ((P0 + Q0 + 1) >> 1) - (Q1 << 1)) >> 1);
        return;
    }
    const bool strong = std::abs(P0 - Q0) < ((alpha >> 2) + 2);
    if (!chroma && ap < beta && strong) {
        p[0] = (P2 + 2 * P1 + 2 * P0 + 2 * Q0 + Q1 + 4) >> 3;
        p[1] = (P2 + P1 + P0 + Q0 + 2) >> 2;
        p[2] = (2 * P3 + 3 * P2 + P1 + P0 + Q0 + 4) >> 3;
    } else {
        p[0] = (2 * P1 + P0 + Q1 + 2) >> 2;
    }
    if (!chroma && aq < beta && strong) {
        q[0] = (P1 + 2 * P0 + 2 * Q0 + 2 * Q1 + Q2 + 4) >> 3;
        q[1] = (P0 + Q0 + Q1 + Q2 + 2) >> 2;
        q[2] = (2 * Q3 + 3 * Q2 + Q1 + Q0 + P0 + 4) >> 3;
    } else {
        q[0] = (2 * Q1 + Q0 + P1 + 2) >> 2;
    }
}

// Filters the edge of `len` lines at (x, y) of a plane: vertical edges lie
// between columns x-1 and x, horizontal ones between rows y-1 and y.
void RefFilterEdge(Plane &pl, int x, int y, bool vertical, int len, const uint8_t bs[4], int indexA, int indexB,
                   bool chroma) {
    for (int i = 0; i < len; i++) {
        int p[4], q[4];
        auto at = [&](int k) { return vertical ? pl.At(x + k, y + i) : pl.At(x + i, y + k); };
        for (int k = 0; k < 4; k++) p[k] = *at(-1 - k), q[k] = *at(k);
        RefFilterLine(p, q, bs[chroma ? i / 2 : i / 4], indexA, indexB, chroma);
        for (int k = 0; k < 4; k++) *at(-1 - k) = static_cast<uint8_t>(p[k]), *at(k) = static_cast<uint8_t>(q[k]);
    }
}

void FillSmooth(Plane &pl, Rng &rng, int spread) {
    const int base = rng.Uniform(40, 200);
    for (auto &v : pl.data) v = rng.Near(base, spread);
}

TEST(DeblockEdges, KernelsMatchStandardFilters) {
    const KernelSet &ks = CKernels();
    Rng rng(10);
    int changed = 0;
    for (int trial = 0; trial < 3000; trial++) {
        const bool chroma = trial & 1, vertical = trial & 2;
        const int indexA = rng.Uniform(15, 51), indexB = rng.Uniform(15, 51);
        const bool strong = rng.Uniform(0, 3) == 0;
        uint8_t bs[4];
        for (auto &b : bs) b = static_cast<uint8_t>(strong ? 4 : rng.Uniform(0, 3));
        Plane a(16, 16, 4);
        FillSmooth(a, rng, rng.Uniform(1, 24));
        Plane b = a;
        const Plane before = a;
        const int len = chroma ? 8 : 16;
        RefFilterEdge(a, vertical ? 4 : 0, vertical ? 0 : 4, vertical, len, bs, indexA, indexB, chroma);
        uint8_t *pix = vertical ? b.At(4, 0) : b.At(0, 4);
        const int alpha = kDeblockAlpha[indexA], beta = kDeblockBeta[indexB];
        if (strong) {
            auto fn = chroma ? (vertical ? ks.chromaEdgeVStrong : ks.chromaEdgeHStrong)
                             : (vertical ? ks.lumaEdgeVStrong : ks.lumaEdgeHStrong);
            fn(pix, b.stride, alpha, beta);
        } else {
            int8_t tc0[4];
            for (int s = 0; s < 4; s++) tc0[s] = bs[s] ? static_cast<int8_t>(kDeblockTc0[indexA][bs[s] - 1]) : -1;
            auto fn = chroma ? (vertical ? ks.chromaEdgeV : ks.chromaEdgeH) : (vertical ? ks.lumaEdgeV : ks.lumaEdgeH);
            fn(pix, b.stride, alpha, beta, tc0);
        }
        ASSERT_EQ(a.data, b.data) << "trial " << trial << " chroma " << chroma << " vertical " << vertical;
        changed += a.data != before.data;
    }
    EXPECT_GT(changed, 1500);  // the random edges really exercise the filters
}

TEST(DeblockEdges, FlatAreasAndSegmentsWithoutStrengthStayUnchanged) {
    const KernelSet &ks = CKernels();
    Plane flat(16, 16, 4);
    std::memset(flat.data.data(), 90, flat.data.size());
    const Plane before = flat;
    const int8_t tc0[4] = {25, 25, 25, 25};
    ks.lumaEdgeV(flat.At(4, 0), flat.stride, 255, 18, tc0);
    ks.lumaEdgeHStrong(flat.At(0, 4), flat.stride, 255, 18);
    ks.chromaEdgeVStrong(flat.At(4, 0), flat.stride, 255, 18);
    EXPECT_EQ(flat.data, before.data);

    Rng rng(3);
    Plane step(16, 16, 4);
    FillSmooth(step, rng, 3);
    for (int y = -4; y < 20; y++)
        for (int x = -4; x < 4; x++) *step.At(x, y) = static_cast<uint8_t>(*step.At(x, y) / 2);
    const Plane stepBefore = step;
    const int8_t none[4] = {-1, -1, -1, -1};
    ks.lumaEdgeV(step.At(4, 0), step.stride, 255, 18, none);
    ks.chromaEdgeV(step.At(4, 0), step.stride, 255, 18, none);
    EXPECT_EQ(step.data, stepBefore.data);
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

void RefFilterMb(MbPicture &pic, const DeblockMb &mb) {
    auto index = [](int qp, int offset) { return Clip3(0, 51, qp + offset); };
    for (int dir = 0; dir < 2; dir++) {
        const bool vertical = dir == 0;
        for (int e = 0; e < 4; e++) {
            if (e == 0 && !(vertical ? mb.filterLeftEdge : mb.filterTopEdge)) continue;
            if (mb.transform8x8 && (e & 1)) continue;
            const uint8_t *bs = vertical ? mb.bsV[e] : mb.bsH[e];
            const int qpAv = e ? mb.qp : (mb.qp + (vertical ? mb.qpLeft : mb.qpTop) + 1) >> 1;
            RefFilterEdge(pic.luma, 16 + (vertical ? 4 * e : 0), 16 + (vertical ? 0 : 4 * e), vertical, 16, bs,
                          index(qpAv, mb.filterOffsetA), index(qpAv, mb.filterOffsetB), false);
        }
    }
    for (int c = 0; c < 2; c++) {
        Plane &pl = c ? pic.cr : pic.cb;
        for (int dir = 0; dir < 2; dir++) {
            const bool vertical = dir == 0;
            for (int e = 0; e < 4; e += 2) {
                if (e == 0 && !(vertical ? mb.filterLeftEdge : mb.filterTopEdge)) continue;
                const uint8_t *bs = vertical ? mb.bsV[e] : mb.bsH[e];
                const int qpAv =
                    e ? mb.chromaQp[c] : (mb.chromaQp[c] + (vertical ? mb.chromaQpLeft[c] : mb.chromaQpTop[c]) + 1) >> 1;
                RefFilterEdge(pl, 8 + (vertical ? 2 * e : 0), 8 + (vertical ? 0 : 2 * e), vertical, 8, bs,
                              index(qpAv, mb.filterOffsetA), index(qpAv, mb.filterOffsetB), true);
            }
        }
    }
}

DeblockMb RandomParams(Rng &rng, MbPicture &pic) {
    DeblockMb mb = pic.Mb();
    const bool intra = rng.Uniform(0, 2) == 0;
    for (int e = 0; e < 4; e++)
        for (int s = 0; s < 4; s++) {
            mb.bsV[e][s] = static_cast<uint8_t>(intra ? (e == 0 ? 4 : 3) : rng.Uniform(0, 2));
            mb.bsH[e][s] = static_cast<uint8_t>(intra ? (e == 0 ? 4 : 3) : rng.Uniform(0, 2));
        }
    mb.qp = static_cast<uint8_t>(rng.Uniform(0, 51));
    mb.qpLeft = static_cast<uint8_t>(rng.Uniform(0, 51));
    mb.qpTop = static_cast<uint8_t>(rng.Uniform(0, 51));
    for (int c = 0; c < 2; c++) {
        mb.chromaQp[c] = static_cast<uint8_t>(rng.Uniform(0, 39));
        mb.chromaQpLeft[c] = static_cast<uint8_t>(rng.Uniform(0, 39));
        mb.chromaQpTop[c] = static_cast<uint8_t>(rng.Uniform(0, 39));
    }
    mb.filterOffsetA = static_cast<int8_t>(2 * rng.Uniform(-6, 6));
    mb.filterOffsetB = static_cast<int8_t>(2 * rng.Uniform(-6, 6));
    mb.filterLeftEdge = static_cast<uint8_t>(rng.Uniform(0, 3) != 0);
    mb.filterTopEdge = static_cast<uint8_t>(rng.Uniform(0, 3) != 0);
    mb.transform8x8 = static_cast<uint8_t>(rng.Uniform(0, 1));
    return mb;
}

TEST(DeblockMacroblock, MatchesSampleBySampleReference) {
    Rng rng(44);
    for (int trial = 0; trial < 1500; trial++) {
        MbPicture a;
        const int spread = rng.Uniform(1, 30);
        FillSmooth(a.luma, rng, spread);
        FillSmooth(a.cb, rng, spread);
        FillSmooth(a.cr, rng, spread);
        MbPicture b = a;
        const DeblockMb params = RandomParams(rng, a);
        DeblockMb forB = params;
        forB.luma = b.luma.At(16, 16), forB.cb = b.cb.At(8, 8), forB.cr = b.cr.At(8, 8);
        RefFilterMb(a, params);
        DeblockMbFilter(CKernels(), forB);
        ASSERT_EQ(a.luma.data, b.luma.data) << "trial " << trial;
        ASSERT_EQ(a.cb.data, b.cb.data) << "trial " << trial;
        ASSERT_EQ(a.cr.data, b.cr.data) << "trial " << trial;
    }
}

// Only samples within three (luma) / one (chroma) of a filtered edge change,
// and nothing left of / above the macroblock when those edges are off.
TEST(DeblockMacroblock, ChangesStayNearFilteredEdges) {
    Rng rng(45);
    for (int trial = 0; trial < 500; trial++) {
        MbPicture pic;
        FillSmooth(pic.luma, rng, 12);
        FillSmooth(pic.cb, rng, 12);
        FillSmooth(pic.cr, rng, 12);
        const MbPicture before = pic;
        const DeblockMb mb = RandomParams(rng, pic);
        DeblockMbFilter(CKernels(), mb);
        for (int y = 0; y < 48; y++)
            for (int x = 0; x < 48; x++) {
                if (pic.luma.Get(x, y) == before.luma.Get(x, y)) continue;
                ASSERT_TRUE(x >= 16 - 3 && y >= 16 - 3 && x < 32 && y < 32) << x << "," << y;
                ASSERT_TRUE(x >= 16 || (mb.filterLeftEdge && y >= 16)) << x << "," << y;
                ASSERT_TRUE(y >= 16 || (mb.filterTopEdge && x >= 16)) << x << "," << y;
            }
        for (int y = 0; y < 24; y++)
            for (int x = 0; x < 24; x++) {
                if (pic.cb.Get(x, y) == before.cb.Get(x, y)) continue;
                ASSERT_TRUE(x >= 7 && y >= 7 && x < 16 && y < 16) << x << "," << y;
                const bool nearEdge = x == 7 || x == 8 || x == 11 || x == 12 || y == 7 || y == 8 || y == 11 || y == 12;
                ASSERT_TRUE(nearEdge) << x << "," << y;
            }
    }
}

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
