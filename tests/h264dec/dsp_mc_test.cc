// Luma motion compensation reads only its documented window: the decoder
// pads its reference pictures by that much and no more.
#include <gtest/gtest.h>

#include <cstring>

#include "dsp_test_util.h"

namespace tessaly::h264::test {
namespace {

constexpr int kWidths[3] = {16, 8, 4};

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

}  // namespace
}  // namespace tessaly::h264::test
