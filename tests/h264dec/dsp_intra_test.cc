// Intra predictors against a per-sample transcription of the standard's
// equations (the kernels use shifted-row formulations instead), plus the DC
// fall-backs and the rule that unavailable neighbours are never read.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "dsp_test_util.h"

namespace tessaly::h264::test {
namespace {

// Neighbour samples p[x, -1] (x = -1..2N-1) and p[-1, y] (y = 0..N-1) as the
// standard names them, after top-right substitution.
struct Refs {
    int n;
    int top[17];   // top[x + 1] = p[x, -1], top[0] = p[-1, -1]
    int left[8];   // left[y] = p[-1, y]
    int P(int x, int y) const { return y < 0 ? top[x + 1] : left[y]; }
};

Refs ReadRefs(const uint8_t *dst, ptrdiff_t stride, int n, int avail) {
    Refs r{};
    r.n = n;
    r.top[0] = dst[-stride - 1];
    for (int x = 0; x < 2 * n; x++)
        r.top[x + 1] = (x >= n && !(avail & kAvailTopRight)) ? dst[n - 1 - stride] : dst[x - stride];
    for (int y = 0; y < n; y++) r.left[y] = dst[y * stride - 1];
    return r;
}

// The reference sample filtering that precedes 8x8 prediction.
Refs Filter8x8(const Refs &p, int avail) {
    const bool top = avail & kAvailTop, left = avail & kAvailLeft, tl = avail & kAvailTopLeft;
    Refs f = p;
    if (top) {
        f.top[1] = tl ? (p.P(-1, -1) + 2 * p.P(0, -1) + p.P(1, -1) + 2) >> 2 : (3 * p.P(0, -1) + p.P(1, -1) + 2) >> 2;
        for (int x = 1; x <= 14; x++) f.top[x + 1] = (p.P(x - 1, -1) + 2 * p.P(x, -1) + p.P(x + 1, -1) + 2) >> 2;
        f.top[16] = (p.P(14, -1) + 3 * p.P(15, -1) + 2) >> 2;
    }
    if (tl) {
        if (!top || !left) {
            if (top)
                f.top[0] = (3 * p.P(-1, -1) + p.P(0, -1) + 2) >> 2;
            else if (left)
                f.top[0] = (3 * p.P(-1, -1) + p.P(-1, 0) + 2) >> 2;
            else
                f.top[0] = p.P(-1, -1);
        } else {
            f.top[0] = (p.P(0, -1) + 2 * p.P(-1, -1) + p.P(-1, 0) + 2) >> 2;
        }
    }
    if (left) {
        f.left[0] = tl ? (p.P(-1, -1) + 2 * p.P(-1, 0) + p.P(-1, 1) + 2) >> 2 : (3 * p.P(-1, 0) + p.P(-1, 1) + 2) >> 2;
        for (int y = 1; y <= 6; y++) f.left[y] = (p.P(-1, y - 1) + 2 * p.P(-1, y) + p.P(-1, y + 1) + 2) >> 2;
        f.left[7] = (p.P(-1, 6) + 3 * p.P(-1, 7) + 2) >> 2;
    }
    return f;
}

// One predicted sample, transcribed from the 4x4 / 8x8 mode equations.
int RefSample(const Refs &p, int mode, int x, int y, int avail) {
    const int n = p.n, last = 2 * n - 1;
    auto P = [&](int xx, int yy) { return p.P(xx, yy); };
    switch (mode) {
    case 0: return P(x, -1);
    case 1: return P(-1, y);
    case 2: {
        int sum = 0;
        const bool t = avail & kAvailTop, l = avail & kAvailLeft;
        for (int i = 0; i < n; i++) sum += (t ? P(i, -1) : 0) + (l ? P(-1, i) : 0);
        const int shift = n == 4 ? 2 : 3;
        if (t && l) return (sum + n) >> (shift + 1);
        if (t || l) return (sum + n / 2) >> shift;
        return 128;
    }
    case 3:
        if (x == n - 1 && y == n - 1) return (P(last - 1, -1) + 3 * P(last, -1) + 2) >> 2;
        return (P(x + y, -1) + 2 * P(x + y + 1, -1) + P(x + y + 2, -1) + 2) >> 2;
    case 4:
        if (x > y) return (P(x - y - 2, -1) + 2 * P(x - y - 1, -1) + P(x - y, -1) + 2) >> 2;
        if (x < y) return (P(-1, y - x - 2) + 2 * P(-1, y - x - 1) + P(-1, y - x) + 2) >> 2;
        return (P(0, -1) + 2 * P(-1, -1) + P(-1, 0) + 2) >> 2;
    case 5: {
        const int z = 2 * x - y;
        if (z >= 0 && !(z & 1)) return (P(x - (y >> 1) - 1, -1) + P(x - (y >> 1), -1) + 1) >> 1;
        if (z >= 0) return (P(x - (y >> 1) - 2, -1) + 2 * P(x - (y >> 1) - 1, -1) + P(x - (y >> 1), -1) + 2) >> 2;
        if (z == -1) return (P(-1, 0) + 2 * P(-1, -1) + P(0, -1) + 2) >> 2;
        return (P(-1, y - 2 * x - 1) + 2 * P(-1, y - 2 * x - 2) + P(-1, y - 2 * x - 3) + 2) >> 2;
    }
    case 6: {
        const int z = 2 * y - x;
        if (z >= 0 && !(z & 1)) return (P(-1, y - (x >> 1) - 1) + P(-1, y - (x >> 1)) + 1) >> 1;
        if (z >= 0) return (P(-1, y - (x >> 1) - 2) + 2 * P(-1, y - (x >> 1) - 1) + P(-1, y - (x >> 1)) + 2) >> 2;
        if (z == -1) return (P(-1, 0) + 2 * P(-1, -1) + P(0, -1) + 2) >> 2;
        return (P(x - 2 * y - 1, -1) + 2 * P(x - 2 * y - 2, -1) + P(x - 2 * y - 3, -1) + 2) >> 2;
    }
    case 7:
        if (!(y & 1)) return (P(x + (y >> 1), -1) + P(x + (y >> 1) + 1, -1) + 1) >> 1;
        return (P(x + (y >> 1), -1) + 2 * P(x + (y >> 1) + 1, -1) + P(x + (y >> 1) + 2, -1) + 2) >> 2;
    default: {
        const int z = x + 2 * y, limit = 2 * n - 3;
        if (z < limit && !(z & 1)) return (P(-1, y + (x >> 1)) + P(-1, y + (x >> 1) + 1) + 1) >> 1;
        if (z < limit) return (P(-1, y + (x >> 1)) + 2 * P(-1, y + (x >> 1) + 1) + P(-1, y + (x >> 1) + 2) + 2) >> 2;
        if (z == limit) return (P(-1, n - 2) + 3 * P(-1, n - 1) + 2) >> 2;
        return P(-1, n - 1);
    }
    }
}

// Availability each mode needs for its equations to be defined.
int RequiredAvail(int mode) {
    switch (mode) {
    case 0: case 3: case 7: return kAvailTop;
    case 1: case 8: return kAvailLeft;
    case 2: return 0;
    default: return kAvailTop | kAvailLeft | kAvailTopLeft;
    }
}

void CheckNxN(int n) {
    const KernelSet &ks = CKernels();
    Rng rng(n * 1000 + 7);
    for (int mode = 0; mode < kNumIntraNxNModes; mode++) {
        for (int avail = 0; avail < 16; avail++) {
            if ((avail & RequiredAvail(mode)) != RequiredAvail(mode)) continue;
            if ((avail & kAvailTopRight) && !(avail & kAvailTop)) continue;
            for (int trial = 0; trial < 20; trial++) {
                Plane pl(24, 24, 4);
                pl.Fill(rng);
                uint8_t *dst = pl.At(4, 4);
                Refs refs = ReadRefs(dst, pl.stride, n, avail);
                if (n == 8) refs = Filter8x8(refs, avail);
                (n == 4 ? ks.intra4x4 : ks.intra8x8)[mode](dst, pl.stride, avail);
                for (int y = 0; y < n; y++)
                    for (int x = 0; x < n; x++)
                        ASSERT_EQ(dst[y * pl.stride + x], RefSample(refs, mode, x, y, avail))
                            << "n " << n << " mode " << mode << " avail " << avail << " at " << x << "," << y;
            }
        }
    }
}

TEST(IntraNxN, FourByFourModesMatchStandardEquations) { CheckNxN(4); }
TEST(IntraNxN, EightByEightModesMatchFilteredStandardEquations) { CheckNxN(8); }

// Unavailable neighbours must not influence the result: poisoning them
// changes nothing, whatever the mode.
TEST(IntraNxN, UnavailableNeighboursAreNotRead) {
    const KernelSet &ks = CKernels();
    Rng rng(99);
    for (int n : {4, 8}) {
        for (int mode = 0; mode < kNumIntraNxNModes; mode++) {
            for (int avail = 0; avail < 16; avail++) {
                Plane a(24, 24, 4);
                a.Fill(rng);
                Plane b = a;
                // Poison every neighbour the flags exclude.
                for (int i = -1; i < 2 * n; i++) {
                    const bool isTop = i >= 0 && i < n, isTopRight = i >= n, isCorner = i < 0;
                    const bool ok = (isTop && (avail & kAvailTop)) || (isTopRight && (avail & kAvailTopRight)) ||
                                    (isCorner && (avail & kAvailTopLeft));
                    if (!ok) *b.At(4 + i, 3) ^= 0x5a;
                }
                if (!(avail & kAvailLeft))
                    for (int y = 0; y < n; y++) *b.At(3, 4 + y) ^= 0xa5;
                auto fn = (n == 4 ? ks.intra4x4 : ks.intra8x8)[mode];
                fn(a.At(4, 4), a.stride, avail);
                fn(b.At(4, 4), b.stride, avail);
                for (int y = 0; y < n; y++)
                    ASSERT_EQ(0, std::memcmp(a.At(4, 4 + y), b.At(4, 4 + y), n)) << n << " " << mode << " " << avail;
            }
        }
    }
}

TEST(IntraNxN, DcFallsBackToOneSideThen128) {
    const KernelSet &ks = CKernels();
    Plane pl(24, 24, 4);
    uint8_t *dst = pl.At(4, 4);
    for (int x = -1; x < 16; x++) *pl.At(4 + x, 3) = 200;  // row above
    for (int y = 0; y < 16; y++) *pl.At(3, 4 + y) = 10;    // column left
    ks.intra4x4[2](dst, pl.stride, kAvailTop | kAvailLeft);
    EXPECT_EQ(dst[0], 105);  // (4*200 + 4*10 + 4) >> 3
    ks.intra4x4[2](dst, pl.stride, kAvailTop);
    EXPECT_EQ(dst[3 * pl.stride + 3], 200);
    ks.intra4x4[2](dst, pl.stride, kAvailLeft);
    EXPECT_EQ(dst[pl.stride + 2], 10);
    ks.intra4x4[2](dst, pl.stride, 0);
    EXPECT_EQ(dst[2], 128);
    ks.intra16x16[2](dst, pl.stride, kAvailTop | kAvailLeft);
    EXPECT_EQ(dst[15 * pl.stride + 15], 105);
    ks.intra16x16[2](dst, pl.stride, kAvailLeft);
    EXPECT_EQ(dst[7], 10);
    ks.intra16x16[2](dst, pl.stride, 0);
    EXPECT_EQ(dst[7], 128);
}

// 16x16 plane and chroma plane against their defining sums.
TEST(Intra16x16AndChroma, PlaneMatchesDefinition) {
    const KernelSet &ks = CKernels();
    Rng rng(5);
    for (int n : {16, 8}) {
        for (int trial = 0; trial < 50; trial++) {
            Plane pl(24, 24, 4);
            pl.Fill(rng);
            uint8_t *dst = pl.At(4, 4);
            auto p = [&](int x, int y) { return int(*pl.At(4 + x, 4 + y)); };
            const int half = n / 2;
            int H = 0, V = 0;
            for (int i = 0; i < half; i++) {
                H += (i + 1) * (p(half + i, -1) - p(half - 2 - i, -1));
                V += (i + 1) * (p(-1, half + i) - p(-1, half - 2 - i));
            }
            const int a = 16 * (p(-1, n - 1) + p(n - 1, -1));
            const int b = n == 16 ? (5 * H + 32) >> 6 : (34 * H + 32) >> 6;
            const int c = n == 16 ? (5 * V + 32) >> 6 : (34 * V + 32) >> 6;
            int expect[16][16];
            for (int y = 0; y < n; y++)
                for (int x = 0; x < n; x++) {
                    const int v = (a + b * (x - (half - 1)) + c * (y - (half - 1)) + 16) >> 5;
                    expect[y][x] = v < 0 ? 0 : v > 255 ? 255 : v;
                }
            const int all = kAvailTop | kAvailLeft | kAvailTopLeft;
            if (n == 16)
                ks.intra16x16[3](dst, pl.stride, all);
            else
                ks.intraChroma[3](dst, pl.stride, all);
            for (int y = 0; y < n; y++)
                for (int x = 0; x < n; x++) ASSERT_EQ(dst[y * pl.stride + x], expect[y][x]) << n << " " << x << "," << y;
        }
    }
}

TEST(IntraChroma, DcQuartersPreferTheirOwnSide) {
    const KernelSet &ks = CKernels();
    Plane pl(16, 16, 4);
    uint8_t *dst = pl.At(4, 4);
    for (int x = 0; x < 8; x++) *pl.At(4 + x, 3) = x < 4 ? 40 : 80;  // top: left half 40, right half 80
    for (int y = 0; y < 8; y++) *pl.At(3, 4 + y) = y < 4 ? 120 : 160;
    auto quarter = [&](int qx, int qy) { return int(dst[(4 * qy) * pl.stride + 4 * qx]); };

    ks.intraChroma[0](dst, pl.stride, kAvailTop | kAvailLeft);
    EXPECT_EQ(quarter(0, 0), (4 * 40 + 4 * 120 + 4) >> 3);
    EXPECT_EQ(quarter(1, 0), 80);   // top-right: row above only
    EXPECT_EQ(quarter(0, 1), 160);  // bottom-left: column left only
    EXPECT_EQ(quarter(1, 1), (4 * 80 + 4 * 160 + 4) >> 3);

    ks.intraChroma[0](dst, pl.stride, kAvailTop);
    EXPECT_EQ(quarter(0, 0), 40);
    EXPECT_EQ(quarter(1, 0), 80);
    EXPECT_EQ(quarter(0, 1), 40);  // falls back to the row above its column
    EXPECT_EQ(quarter(1, 1), 80);

    ks.intraChroma[0](dst, pl.stride, kAvailLeft);
    EXPECT_EQ(quarter(0, 0), 120);
    EXPECT_EQ(quarter(1, 0), 120);  // falls back to the column left of its row
    EXPECT_EQ(quarter(0, 1), 160);
    EXPECT_EQ(quarter(1, 1), 160);

    ks.intraChroma[0](dst, pl.stride, 0);
    for (int q = 0; q < 4; q++) EXPECT_EQ(quarter(q & 1, q >> 1), 128);
}

TEST(Intra16x16AndChroma, VerticalAndHorizontalCopyNeighbours) {
    const KernelSet &ks = CKernels();
    Rng rng(11);
    Plane pl(24, 24, 4);
    pl.Fill(rng);
    uint8_t *dst = pl.At(4, 4);
    ks.intra16x16[0](dst, pl.stride, kAvailTop);
    for (int y = 0; y < 16; y++) ASSERT_EQ(0, std::memcmp(dst + y * pl.stride, dst - pl.stride, 16));
    ks.intra16x16[1](dst, pl.stride, kAvailLeft);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) ASSERT_EQ(dst[y * pl.stride + x], dst[y * pl.stride - 1]);
    ks.intraChroma[2](dst, pl.stride, kAvailTop);
    for (int y = 0; y < 8; y++) ASSERT_EQ(0, std::memcmp(dst + y * pl.stride, dst - pl.stride, 8));
    ks.intraChroma[1](dst, pl.stride, kAvailLeft);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) ASSERT_EQ(dst[y * pl.stride + x], dst[y * pl.stride - 1]);
}

}  // namespace
}  // namespace tessaly::h264::test
