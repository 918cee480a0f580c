// Luma quarter-sample interpolation: the 6-tap half-sample filter
// (1, -5, 20, 20, -5, 1) and the rounded averages between neighbours.
//
// Every position is built from at most two of the planes G (integer),
// b (horizontal half), h (vertical half) and j (centre half, filtered from
// the unrounded horizontal intermediates), each taken at the block's own
// position or one sample right / down; the template picks them at compile
// time so that no per-sample branch remains.
#include <cstring>

#include "h264dec/dsp/kernels_c.h"
#include "h264dec/dsp/luma_mc_table.h"

namespace tessaly::h264 {
namespace {

constexpr int kMaxW = 16, kMaxH = 16;

inline int Tap6(int a, int b, int c, int d, int e, int f) { return a - 5 * b + 20 * c + 20 * d - 5 * e + f; }

template <int W>
void Copy(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h) {
    for (int y = 0; y < h; y++) std::memcpy(dst + y * ds, src + y * ss, W);
}

template <int W>
void HalfH(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h) {
    for (int y = 0; y < h; y++, dst += ds, src += ss)
        for (int x = 0; x < W; x++)
            dst[x] = ClipPixel((Tap6(src[x - 2], src[x - 1], src[x], src[x + 1], src[x + 2], src[x + 3]) + 16) >> 5);
}

template <int W>
void HalfV(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h) {
    for (int y = 0; y < h; y++, dst += ds, src += ss)
        for (int x = 0; x < W; x++)
            dst[x] = ClipPixel(
                (Tap6(src[x - 2 * ss], src[x - ss], src[x], src[x + ss], src[x + 2 * ss], src[x + 3 * ss]) + 16) >> 5);
}

template <int W>
void HalfHV(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h) {
    int16_t mid[(kMaxH + 5) * kMaxW];  // unrounded horizontal results, rows -2..h+2
    const uint8_t *s = src - 2 * ss;
    for (int y = 0; y < h + 5; y++, s += ss)
        for (int x = 0; x < W; x++)
            mid[y * W + x] = static_cast<int16_t>(Tap6(s[x - 2], s[x - 1], s[x], s[x + 1], s[x + 2], s[x + 3]));
    for (int y = 0; y < h; y++, dst += ds) {
        const int16_t *m = mid + (y + 2) * W;
        for (int x = 0; x < W; x++)
            dst[x] = ClipPixel((Tap6(m[x - 2 * W], m[x - W], m[x], m[x + W], m[x + 2 * W], m[x + 3 * W]) + 512) >> 10);
    }
}

template <int W>
void Average(uint8_t *dst, ptrdiff_t ds, const uint8_t *a, ptrdiff_t as, const uint8_t *b, ptrdiff_t bs, int h) {
    for (int y = 0; y < h; y++, dst += ds, a += as, b += bs)
        for (int x = 0; x < W; x++) dst[x] = static_cast<uint8_t>((a[x] + b[x] + 1) >> 1);
}

template <int W, int MX, int MY>
void LumaMc(uint8_t *dst, ptrdiff_t ds, const uint8_t *src, ptrdiff_t ss, int h) {
    // Offsets of the second operand: one sample right for quarter position 3
    // horizontally, one line down for 3 vertically.
    const uint8_t *right = src + (MX == 3 ? 1 : 0);
    const uint8_t *down = src + (MY == 3 ? ss : 0);
    uint8_t t0[kMaxW * kMaxH], t1[kMaxW * kMaxH];
    if constexpr (MX == 0 && MY == 0) {
        Copy<W>(dst, ds, src, ss, h);
    } else if constexpr (MY == 0) {  // a, b, c
        if constexpr (MX == 2) {
            HalfH<W>(dst, ds, src, ss, h);
        } else {
            HalfH<W>(t0, W, src, ss, h);
            Average<W>(dst, ds, t0, W, right, ss, h);
        }
    } else if constexpr (MX == 0) {  // d, h, n
        if constexpr (MY == 2) {
            HalfV<W>(dst, ds, src, ss, h);
        } else {
            HalfV<W>(t0, W, src, ss, h);
            Average<W>(dst, ds, t0, W, down, ss, h);
        }
    } else if constexpr (MX == 2 && MY == 2) {  // j
        HalfHV<W>(dst, ds, src, ss, h);
    } else if constexpr (MX == 2) {  // f, q: j with b of this or the next line
        HalfHV<W>(t0, W, src, ss, h);
        HalfH<W>(t1, W, down, ss, h);
        Average<W>(dst, ds, t0, W, t1, W, h);
    } else if constexpr (MY == 2) {  // i, k: j with h of this or the next column
        HalfHV<W>(t0, W, src, ss, h);
        HalfV<W>(t1, W, right, ss, h);
        Average<W>(dst, ds, t0, W, t1, W, h);
    } else {  // e, g, p, r: b or s with h or m
        HalfH<W>(t0, W, down, ss, h);
        HalfV<W>(t1, W, right, ss, h);
        Average<W>(dst, ds, t0, W, t1, W, h);
    }
}

template <int W>
void Install(LumaMcFn (&table)[16]) {
    FillLumaMcTable(table, [](auto mx, auto my) -> LumaMcFn { return LumaMc<W, mx, my>; });
}

}  // namespace

void InstallLumaMcC(KernelSet &ks) {
    Install<16>(ks.lumaMc[0]);
    Install<8>(ks.lumaMc[1]);
    Install<4>(ks.lumaMc[2]);
}

}  // namespace tessaly::h264
