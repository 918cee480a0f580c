// Inverse transforms against their matrix definitions, the DC fast paths
// against the full transforms, and the DC Hadamard helpers against direct
// matrix products.
#include <gtest/gtest.h>

#include <cstring>

#include "dsp_test_util.h"

namespace tessaly::h264::test {
namespace {

int Clip(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }
int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// 1-D inverse transform matrices, scaled to integers: the 4x4 one by 2 and
// the 8x8 one by 8. Row k gives output k as a combination of inputs.
constexpr int kInv4[4][4] = {{2, 2, 2, 1}, {2, 1, -2, -2}, {2, -1, -2, 2}, {2, -2, 2, -1}};
constexpr int kInv8[8][8] = {
    {8, 12, 8, 10, 8, 6, 4, 3},     {8, 10, 4, -3, -8, -12, -8, -6}, {8, 6, -4, -12, -8, 3, 8, 10},
    {8, 3, -8, -6, 8, 10, -4, -12}, {8, -3, -8, 6, 8, -10, -4, 12},  {8, -6, -4, 12, -8, -3, 8, -10},
    {8, -10, 4, 3, -8, 12, -8, 6},  {8, -12, 8, -10, 8, -6, 4, -3},
};

// Residual of the exact matrix product M D M^T, rounded as (x + 32) >> 6.
template <int N>
void MatrixResidual(const int (&m)[N][N], int scaleLog2, const int16_t *coeffs, int *residual) {
    for (int i = 0; i < N; i++)
        for (int j = 0; j < N; j++) {
            int64_t acc = 0;
            for (int a = 0; a < N; a++)
                for (int b = 0; b < N; b++) acc += int64_t(m[i][a]) * coeffs[a * N + b] * m[j][b];
            // acc = 2^(2*scaleLog2) * R; residual = floor((R + 32) / 64).
            residual[i * N + j] = static_cast<int>(FloorDiv(acc + (int64_t(32) << (2 * scaleLog2)), int64_t(64) << (2 * scaleLog2)));
        }
}

template <int N>
void CheckAgainstMatrix(IdctAddFn fn, const int (&m)[N][N], int scaleLog2, int multiple, int range) {
    Rng rng(N * 31);
    for (int trial = 0; trial < 500; trial++) {
        int16_t coeffs[N * N], saved[N * N];
        for (int i = 0; i < N * N; i++)
            coeffs[i] = static_cast<int16_t>(multiple * (rng.Uniform(0, 3) ? 0 : rng.Uniform(-range, range)));
        std::memcpy(saved, coeffs, sizeof(coeffs));
        uint8_t pred[N * N], out[N * N];
        for (auto &p : pred) p = rng.Sample();
        std::memcpy(out, pred, sizeof(out));
        fn(out, N, coeffs);
        int residual[N * N];
        MatrixResidual<N>(m, scaleLog2, saved, residual);
        for (int i = 0; i < N * N; i++) ASSERT_EQ(out[i], Clip(pred[i] + residual[i])) << "trial " << trial << " at " << i;
        for (int i = 0; i < N * N; i++) ASSERT_EQ(coeffs[i], 0) << "coefficients must be cleared";
    }
}

// With coefficients that are multiples of 4 (4x4) or 64 (8x8) every >> inside
// the butterflies is exact, so the kernels must equal the real matrix product.
TEST(Idct, FourByFourEqualsMatrixProductWhenShiftsAreExact) {
    CheckAgainstMatrix<4>(CKernels().idct4x4Add, kInv4, 1, 4, 200);
}

TEST(Idct, EightByEightEqualsMatrixProductWhenShiftsAreExact) {
    CheckAgainstMatrix<8>(CKernels().idct8x8Add, kInv8, 3, 64, 12);
}

// For general coefficients the rounding of the inner >> 1 depends on doing
// rows before columns; this transcribes the standard's e/f/g/h equations.
TEST(Idct, FourByFourRoundsLikeRowsThenColumns) {
    Rng rng(2);
    for (int trial = 0; trial < 2000; trial++) {
        int16_t c[16];
        int d[4][4];
        for (int i = 0; i < 16; i++) c[i] = static_cast<int16_t>(rng.Uniform(-300, 300));
        for (int i = 0; i < 16; i++) d[i / 4][i % 4] = c[i];
        int f[4][4], h[4][4];
        for (int i = 0; i < 4; i++) {
            const int e0 = d[i][0] + d[i][2], e1 = d[i][0] - d[i][2];
            const int e2 = (d[i][1] >> 1) - d[i][3], e3 = d[i][1] + (d[i][3] >> 1);
            f[i][0] = e0 + e3, f[i][1] = e1 + e2, f[i][2] = e1 - e2, f[i][3] = e0 - e3;
        }
        for (int j = 0; j < 4; j++) {
            const int g0 = f[0][j] + f[2][j], g1 = f[0][j] - f[2][j];
            const int g2 = (f[1][j] >> 1) - f[3][j], g3 = f[1][j] + (f[3][j] >> 1);
            h[0][j] = g0 + g3, h[1][j] = g1 + g2, h[2][j] = g1 - g2, h[3][j] = g0 - g3;
        }
        uint8_t out[16];
        std::memset(out, 128, 16);
        CKernels().idct4x4Add(out, 4, c);
        for (int i = 0; i < 16; i++) ASSERT_EQ(out[i], Clip(128 + ((h[i / 4][i % 4] + 32) >> 6))) << trial;
    }
}

TEST(Idct, DcPathsEqualFullTransforms) {
    const KernelSet &ks = CKernels();
    Rng rng(6);
    for (int trial = 0; trial < 300; trial++) {
        const int16_t dc = static_cast<int16_t>(rng.Uniform(-4000, 4000));
        uint8_t a[64], b[64];
        for (auto &v : a) v = rng.Sample();
        std::memcpy(b, a, 64);
        int16_t full[64] = {}, fast[64] = {};
        full[0] = fast[0] = dc;
        ks.idct4x4Add(a, 8, full);
        ks.idct4x4DcAdd(b, 8, fast);
        ASSERT_EQ(0, std::memcmp(a, b, 64)) << dc;
        EXPECT_EQ(fast[0], 0);
        full[0] = fast[0] = dc;
        ks.idct8x8Add(a, 8, full);
        ks.idct8x8DcAdd(b, 8, fast);
        ASSERT_EQ(0, std::memcmp(a, b, 64)) << dc;
        EXPECT_EQ(fast[0], 0);
    }
}

TEST(Idct, ResultsClipToSampleRange) {
    const KernelSet &ks = CKernels();
    uint8_t px[16];
    int16_t c[16] = {};
    std::memset(px, 250, 16);
    c[0] = 32767;
    ks.idct4x4Add(px, 4, c);
    for (uint8_t v : px) EXPECT_EQ(v, 255);
    c[0] = -32768;
    ks.idct4x4Add(px, 4, c);
    for (uint8_t v : px) EXPECT_EQ(v, 0);
}

int BlkIdx(int row, int col) { return 4 * (2 * (row / 2) + col / 2) + 2 * (row % 2) + col % 2; }

TEST(DcTransforms, LumaHadamardScalesAndPlacesLikeTheDefinition) {
    constexpr int kA[4][4] = {{1, 1, 1, 1}, {1, 1, -1, -1}, {1, -1, -1, 1}, {1, -1, 1, -1}};
    Rng rng(21);
    for (int trial = 0; trial < 300; trial++) {
        const int qp = rng.Uniform(0, 51);
        const int levelScale = 16 * rng.Uniform(10, 18);  // flat list x normAdjust
        int16_t dc[16], saved[16];
        for (auto &v : dc) v = static_cast<int16_t>(rng.Uniform(0, 2) ? 0 : rng.Uniform(-40, 40));
        std::memcpy(saved, dc, sizeof(dc));
        int16_t blocks[256];
        for (auto &v : blocks) v = 7;  // AC positions must be left alone
        CKernels().lumaDcDequantIdct(blocks, dc, qp, levelScale);
        for (int i = 0; i < 4; i++)
            for (int j = 0; j < 4; j++) {
                int f = 0;
                for (int a = 0; a < 4; a++)
                    for (int b = 0; b < 4; b++) f += kA[i][a] * saved[4 * a + b] * kA[b][j];
                const int expect = qp >= 36 ? (f * levelScale) << (qp / 6 - 6)
                                            : (f * levelScale + (1 << (5 - qp / 6))) >> (6 - qp / 6);
                ASSERT_EQ(blocks[16 * BlkIdx(i, j)], static_cast<int16_t>(expect)) << qp << " " << i << "," << j;
            }
        for (int k = 0; k < 256; k++)
            if (k % 16) {
                ASSERT_EQ(blocks[k], 7);
            }
        for (int16_t v : dc) ASSERT_EQ(v, 0);
    }
}

TEST(DcTransforms, ChromaTwoByTwoScalesLikeTheDefinition) {
    Rng rng(22);
    for (int trial = 0; trial < 300; trial++) {
        const int qp = rng.Uniform(0, 39);
        const int levelScale = 16 * rng.Uniform(10, 18);
        int16_t dc[4], saved[4], blocks[64] = {};
        for (auto &v : dc) v = static_cast<int16_t>(rng.Uniform(-60, 60));
        std::memcpy(saved, dc, sizeof(dc));
        CKernels().chromaDcDequantIdct(blocks, dc, qp, levelScale);
        const int c[2][2] = {{saved[0], saved[1]}, {saved[2], saved[3]}};
        for (int i = 0; i < 2; i++)
            for (int j = 0; j < 2; j++) {
                int f = 0;
                for (int a = 0; a < 2; a++)
                    for (int b = 0; b < 2; b++) f += (i && a ? -1 : 1) * c[a][b] * (b && j ? -1 : 1);
                ASSERT_EQ(blocks[16 * (2 * i + j)], static_cast<int16_t>(((f * levelScale) << (qp / 6)) >> 5));
            }
        for (int16_t v : dc) ASSERT_EQ(v, 0);
    }
}

}  // namespace
}  // namespace tessaly::h264::test
