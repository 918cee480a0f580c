// Inverse transforms with prediction add, and the DC transforms of Intra16x16
// luma and chroma.
//
// Rows are transformed first, then columns, with the standard's >> 1 inside
// each 1-D stage; the final (x + 32) >> 6 is folded into the DC term.
#include <cstring>

#include "h264dec/dsp/kernels_c.h"

namespace tessaly::h264 {
namespace {

void Idct4x4Add(uint8_t *dst, ptrdiff_t stride, int16_t *c) {
    int t[16];
    for (int i = 0; i < 4; i++) {
        const int16_t *d = c + 4 * i;
        const int e0 = d[0] + d[2], e1 = d[0] - d[2];
        const int e2 = (d[1] >> 1) - d[3], e3 = d[1] + (d[3] >> 1);
        t[4 * i + 0] = e0 + e3;
        t[4 * i + 1] = e1 + e2;
        t[4 * i + 2] = e1 - e2;
        t[4 * i + 3] = e0 - e3;
    }
    for (int j = 0; j < 4; j++) {
        const int g0 = t[j] + t[8 + j] + 32, g1 = t[j] - t[8 + j] + 32;
        const int g2 = (t[4 + j] >> 1) - t[12 + j], g3 = t[4 + j] + (t[12 + j] >> 1);
        dst[j] = ClipPixel(dst[j] + ((g0 + g3) >> 6));
        dst[stride + j] = ClipPixel(dst[stride + j] + ((g1 + g2) >> 6));
        dst[2 * stride + j] = ClipPixel(dst[2 * stride + j] + ((g1 - g2) >> 6));
        dst[3 * stride + j] = ClipPixel(dst[3 * stride + j] + ((g0 - g3) >> 6));
    }
    std::memset(c, 0, 16 * sizeof(int16_t));
}

template <int N>
void DcAdd(uint8_t *dst, ptrdiff_t stride, int16_t *c) {
    const int dc = (c[0] + 32) >> 6;
    c[0] = 0;
    for (int y = 0; y < N; y++, dst += stride)
        for (int x = 0; x < N; x++) dst[x] = ClipPixel(dst[x] + dc);
}

void ChromaDcAdd(uint8_t *dst, ptrdiff_t stride, int16_t *c) {
    for (int k = 0; k < 4; k++) DcAdd<4>(dst + (k >> 1) * 4 * stride + (k & 1) * 4, stride, c + 16 * k);
}

// One 1-D 8-point stage over in[0], in[s], ..., in[7s].
inline void Idct8Stage(const int *in, int s, int *out) {
    const int d0 = in[0], d1 = in[s], d2 = in[2 * s], d3 = in[3 * s];
    const int d4 = in[4 * s], d5 = in[5 * s], d6 = in[6 * s], d7 = in[7 * s];
    const int e0 = d0 + d4;
    const int e1 = -d3 + d5 - d7 - (d7 >> 1);
    const int e2 = d0 - d4;
    const int e3 = d1 + d7 - d3 - (d3 >> 1);
    const int e4 = (d2 >> 1) - d6;
    const int e5 = -d1 + d7 + d5 + (d5 >> 1);
    const int e6 = d2 + (d6 >> 1);
    const int e7 = d3 + d5 + d1 + (d1 >> 1);
    const int f0 = e0 + e6;
    const int f1 = e1 + (e7 >> 2);
    const int f2 = e2 + e4;
    const int f3 = e3 + (e5 >> 2);
    const int f4 = e2 - e4;
    const int f5 = (e3 >> 2) - e5;
    const int f6 = e0 - e6;
    const int f7 = e7 - (e1 >> 2);
    out[0] = f0 + f7;
    out[1] = f2 + f5;
    out[2] = f4 + f3;
    out[3] = f6 + f1;
    out[4] = f6 - f1;
    out[5] = f4 - f3;
    out[6] = f2 - f5;
    out[7] = f0 - f7;
}

void Idct8x8Add(uint8_t *dst, ptrdiff_t stride, int16_t *c) {
    int in[64], rows[64];
    for (int i = 0; i < 64; i++) in[i] = c[i];
    for (int i = 0; i < 8; i++) Idct8Stage(in + 8 * i, 1, rows + 8 * i);
    for (int j = 0; j < 8; j++) {
        int col[8];
        Idct8Stage(rows + j, 8, col);
        for (int i = 0; i < 8; i++) dst[i * stride + j] = ClipPixel(dst[i * stride + j] + ((col[i] + 32) >> 6));
    }
    std::memset(c, 0, 64 * sizeof(int16_t));
}

// luma4x4BlkIdx of the 4x4 block in raster position (row, col) of a macroblock.
constexpr uint8_t kBlkIdxOfRaster[16] = {0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15};

void LumaDcDequantIdct(int16_t *blocks, int16_t *dc, int qp, int levelScale) {
    int t[16];
    for (int i = 0; i < 4; i++) {  // rows
        const int16_t *c = dc + 4 * i;
        const int s01 = c[0] + c[1], d01 = c[0] - c[1], s23 = c[2] + c[3], d23 = c[2] - c[3];
        t[4 * i + 0] = s01 + s23;
        t[4 * i + 1] = s01 - s23;
        t[4 * i + 2] = d01 - d23;
        t[4 * i + 3] = d01 + d23;
    }
    const int shift = qp / 6;
    for (int j = 0; j < 4; j++) {  // columns
        const int s01 = t[j] + t[4 + j], d01 = t[j] - t[4 + j];
        const int s23 = t[8 + j] + t[12 + j], d23 = t[8 + j] - t[12 + j];
        const int f[4] = {s01 + s23, s01 - s23, d01 - d23, d01 + d23};
        for (int i = 0; i < 4; i++) {
            // 64-bit: levels from a corrupt stream must wrap, not overflow.
            const int64_t scaled = int64_t(f[i]) * levelScale;
            const int64_t v =
                shift >= 6 ? scaled * (int64_t(1) << (shift - 6)) : (scaled + (1 << (5 - shift))) >> (6 - shift);
            blocks[16 * kBlkIdxOfRaster[4 * i + j]] = static_cast<int16_t>(v);
        }
    }
    std::memset(dc, 0, 16 * sizeof(int16_t));
}

void ChromaDcDequantIdct(int16_t *blocks, int16_t *dc, int qp, int levelScale) {
    const int s0 = dc[0] + dc[1], d0 = dc[0] - dc[1], s1 = dc[2] + dc[3], d1 = dc[2] - dc[3];
    const int f[4] = {s0 + s1, d0 + d1, s0 - s1, d0 - d1};
    const int shift = qp / 6;
    for (int k = 0; k < 4; k++)
        blocks[16 * k] = static_cast<int16_t>((int64_t(f[k]) * levelScale * (int64_t(1) << shift)) >> 5);
    std::memset(dc, 0, 4 * sizeof(int16_t));
}

}  // namespace

void InstallIdctC(KernelSet &ks) {
    ks.idct4x4Add = Idct4x4Add;
    ks.idct4x4DcAdd = DcAdd<4>;
    ks.idct8x8Add = Idct8x8Add;
    ks.idct8x8DcAdd = DcAdd<8>;
    ks.chromaDcAdd = ChromaDcAdd;
    ks.lumaDcDequantIdct = LumaDcDequantIdct;
    ks.chromaDcDequantIdct = ChromaDcDequantIdct;
}

}  // namespace tessaly::h264
