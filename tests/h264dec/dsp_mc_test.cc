// Motion compensation against a per-sample transcription of the standard's
// interpolation (named samples G, b, h, j, s, m and their averages).
#include <gtest/gtest.h>

#include <cstring>

#include "dsp_test_util.h"

namespace tessaly::h264::test {
namespace {

int Clip(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

class LumaRef {
public:
    explicit LumaRef(const Plane &p) : p_(p) {}
    int G(int x, int y) const { return p_.Get(x, y); }
    int B1(int x, int y) const {
        return G(x - 2, y) - 5 * G(x - 1, y) + 20 * G(x, y) + 20 * G(x + 1, y) - 5 * G(x + 2, y) + G(x + 3, y);
    }
    int H1(int x, int y) const {
        return G(x, y - 2) - 5 * G(x, y - 1) + 20 * G(x, y) + 20 * G(x, y + 1) - 5 * G(x, y + 2) + G(x, y + 3);
    }
    int J1(int x, int y) const {
        const int viaB = B1(x, y - 2) - 5 * B1(x, y - 1) + 20 * B1(x, y) + 20 * B1(x, y + 1) - 5 * B1(x, y + 2) + B1(x, y + 3);
        const int viaH = H1(x - 2, y) - 5 * H1(x - 1, y) + 20 * H1(x, y) + 20 * H1(x + 1, y) - 5 * H1(x + 2, y) + H1(x + 3, y);
        EXPECT_EQ(viaB, viaH);  // the standard allows either order
        return viaB;
    }
    int Sample(int x, int y, int mx, int my) const {
        const int g = G(x, y), b = Clip((B1(x, y) + 16) >> 5), h = Clip((H1(x, y) + 16) >> 5);
        const int s = Clip((B1(x, y + 1) + 16) >> 5), m = Clip((H1(x + 1, y) + 16) >> 5);
        auto avg = [](int u, int v) { return (u + v + 1) >> 1; };
        switch (my * 4 + mx) {
        case 0: return g;
        case 1: return avg(g, b);
        case 2: return b;
        case 3: return avg(G(x + 1, y), b);
        case 4: return avg(g, h);
        case 5: return avg(b, h);
        case 6: return avg(b, Clip((J1(x, y) + 512) >> 10));
        case 7: return avg(b, m);
        case 8: return h;
        case 9: return avg(h, Clip((J1(x, y) + 512) >> 10));
        case 10: return Clip((J1(x, y) + 512) >> 10);
        case 11: return avg(Clip((J1(x, y) + 512) >> 10), m);
        case 12: return avg(G(x, y + 1), h);
        case 13: return avg(h, s);
        case 14: return avg(Clip((J1(x, y) + 512) >> 10), s);
        default: return avg(m, s);
        }
    }

private:
    const Plane &p_;
};

constexpr int kWidths[3] = {16, 8, 4};

TEST(LumaMc, EveryPositionAndSizeMatchesStandardSamples) {
    const KernelSet &ks = CKernels();
    Rng rng(1234);
    Plane src(32, 32, 8);
    for (int trial = 0; trial < 3; trial++) {
        src.Fill(rng);
        // Make some areas extreme so that clipping of b, h and j is exercised.
        for (int y = 0; y < 6; y++)
            for (int x = 0; x < 32; x++) *src.At(x, y) = ((x + y) & 1) ? 255 : 0;
        const LumaRef ref(src);
        for (int wi = 0; wi < 3; wi++) {
            const int w = kWidths[wi];
            for (int h : {w, w / 2, w * 2}) {
                if (h < 4 || h > 16) continue;
                for (int pos = 0; pos < 16; pos++) {
                    uint8_t out[16 * 16];
                    const int bx = 3 + trial, by = 2 + trial;
                    ks.lumaMc[wi][pos](out, 16, src.At(bx, by), src.stride, h);
                    for (int y = 0; y < h; y++)
                        for (int x = 0; x < w; x++)
                            ASSERT_EQ(out[y * 16 + x], ref.Sample(bx + x, by + y, pos & 3, pos >> 2))
                                << "w " << w << " h " << h << " pos " << pos << " at " << x << "," << y;
                }
            }
        }
    }
}

// Interpolation is separable and symmetric: predicting (mx, my) from the
// transposed picture gives the transpose of predicting (my, mx).
TEST(LumaMc, TransposedPictureGivesTransposedPrediction) {
    const KernelSet &ks = CKernels();
    Rng rng(77);
    Plane a(32, 32, 8), t(32, 32, 8);
    a.Fill(rng);
    for (int y = -8; y < 40; y++)
        for (int x = -8; x < 40; x++) *t.At(x, y) = a.Get(y, x);
    for (int pos = 0; pos < 16; pos++) {
        const int mx = pos & 3, my = pos >> 2;
        uint8_t pa[16 * 16], pt[16 * 16];
        ks.lumaMc[0][pos](pa, 16, a.At(5, 6), a.stride, 16);
        ks.lumaMc[0][mx * 4 + my](pt, 16, t.At(6, 5), t.stride, 16);
        for (int y = 0; y < 16; y++)
            for (int x = 0; x < 16; x++) ASSERT_EQ(pa[y * 16 + x], pt[x * 16 + y]) << pos;
    }
}

// Samples outside the documented window (x -2..w+2, y -2..h+2) never matter.
TEST(LumaMc, ReadsOnlyTheDocumentedWindow) {
    const KernelSet &ks = CKernels();
    Rng rng(3);
    for (int wi = 0; wi < 3; wi++) {
        const int w = kWidths[wi], h = w;
        Plane a(32, 32, 8);
        a.Fill(rng);
        Plane b = a;
        for (int y = -8; y < 40; y++)
            for (int x = -8; x < 40; x++) {
                const bool inside = x >= 8 - 2 && x <= 8 + w + 2 && y >= 8 - 2 && y <= 8 + h + 2;
                if (!inside) *b.At(x, y) = static_cast<uint8_t>(~b.Get(x, y));
            }
        for (int pos = 0; pos < 16; pos++) {
            uint8_t pa[16 * 16], pb[16 * 16];
            ks.lumaMc[wi][pos](pa, 16, a.At(8, 8), a.stride, h);
            ks.lumaMc[wi][pos](pb, 16, b.At(8, 8), b.stride, h);
            for (int y = 0; y < h; y++) ASSERT_EQ(0, std::memcmp(pa + 16 * y, pb + 16 * y, w)) << w << " " << pos;
        }
    }
}

TEST(ChromaMc, MatchesBilinearDefinitionForAllFractions) {
    const KernelSet &ks = CKernels();
    Rng rng(8);
    Plane src(16, 16, 4);
    src.Fill(rng);
    constexpr int kChromaWidths[3] = {8, 4, 2};
    for (int wi = 0; wi < 3; wi++) {
        const int w = kChromaWidths[wi];
        for (int h : {2, 4, 8}) {
            for (int my = 0; my < 8; my++)
                for (int mx = 0; mx < 8; mx++) {
                    uint8_t out[8 * 8];
                    ks.chromaMc[wi](out, 8, src.At(3, 2), src.stride, h, mx, my);
                    for (int y = 0; y < h; y++)
                        for (int x = 0; x < w; x++) {
                            const int A = src.Get(3 + x, 2 + y), B = src.Get(4 + x, 2 + y);
                            const int C = src.Get(3 + x, 3 + y), D = src.Get(4 + x, 3 + y);
                            const int v = ((8 - mx) * (8 - my) * A + mx * (8 - my) * B + (8 - mx) * my * C +
                                           mx * my * D + 32) >> 6;
                            ASSERT_EQ(out[y * 8 + x], v) << w << "x" << h << " " << mx << "," << my;
                        }
                }
        }
    }
}

TEST(Copy, CopiesExactlyTheBlock) {
    const KernelSet &ks = CKernels();
    Rng rng(4);
    Plane src(16, 16, 4), dst(16, 16, 4);
    src.Fill(rng);
    constexpr int kCopyWidths[3] = {16, 8, 4};
    for (int wi = 0; wi < 3; wi++) {
        std::memset(dst.data.data(), 0x33, dst.data.size());
        ks.copy[wi](dst.At(0, 0), dst.stride, src.At(0, 0), src.stride, 8);
        for (int y = -1; y <= 8; y++)
            for (int x = -1; x <= 16; x++) {
                const bool inside = x >= 0 && x < kCopyWidths[wi] && y >= 0 && y < 8;
                ASSERT_EQ(dst.Get(x, y), inside ? src.Get(x, y) : 0x33) << wi << " " << x << "," << y;
            }
    }
}

}  // namespace
}  // namespace tessaly::h264::test
