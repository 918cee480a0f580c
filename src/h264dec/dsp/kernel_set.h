// The pixel kernels of the decoder, reached through one table of function
// pointers chosen once at decoder creation. The C members are the reference;
// vector members replace them entry by entry and must give identical pixels
// (tests/h264dec/checkasm compares every one with its C member).
// Tables: C (every level from 2); SSE2 (level 4 and up) replaces luma and
// chroma MC, the 4x4 / 8x8 / DC transforms, the luma edge filters and chroma
// edge sets, the copies and the intra predictors but three (4x4 vertical,
// 16x16 horizontal, chroma vertical: a plain copy or fill either way); AVX2
// (when CpuHasAvx2()) also replaces 16-wide luma MC, 8- and 4-wide chroma MC,
// the luma edge filters and the chroma edge sets; AVX-512BW/VL (when
// CpuHasAvx512Bw()) the 16-wide luma MC once more, two rows per register. The luma and chroma DC
// dequantising transforms and the per-edge chroma filters are C everywhere.
//
// Common conventions (every member):
// - Samples are 8-bit. Strides are in bytes, positive, otherwise arbitrary
//   (a field passes twice the frame's line distance).
// - Kernels never allocate and keep no state between calls.
// - Alignment: C members need none. Vector members may require the
//   destination of 16-wide blocks to be 16-byte aligned and the 8-wide ones
//   8-byte aligned; callers keep work areas aligned so that both work.
// - Coefficient blocks are int16_t in raster order (index 4*row + col for 4x4,
//   8*row + col for 8x8), already scaled (dequantised) by the caller.
//   Inverse transforms clear the coefficients they consumed to zero, so the
//   caller's buffers are ready for the next macroblock without a memset.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly::h264 {

// Neighbour availability for intra prediction, OR-ed into `avail`.
// "Available" means inside the picture, in the same slice and, with
// constrained_intra_pred_flag, intra coded.
enum IntraAvail : int {
    kAvailLeft = 1,      // column left of the block
    kAvailTop = 2,       // row above the block
    kAvailTopLeft = 4,   // the single sample above-left
    kAvailTopRight = 8,  // the row above, right of the block (4 or 8 samples)
};

// Intra prediction mode numbers are the standard's:
//   4x4 / 8x8: 0 vertical, 1 horizontal, 2 DC, 3 diagonal down-left,
//              4 diagonal down-right, 5 vertical-right, 6 horizontal-down,
//              7 vertical-left, 8 horizontal-up
//   16x16:     0 vertical, 1 horizontal, 2 DC, 3 plane
//   chroma:    0 DC, 1 horizontal, 2 vertical, 3 plane
enum { kNumIntraNxNModes = 9, kNumIntra16x16Modes = 4, kNumIntraChromaModes = 4 };

// Intra predictors work in place: `dst` is the block's top-left sample in a
// buffer where the unfiltered neighbours sit at their natural positions:
//   left     dst[-1 + y*stride]          y = 0..N-1      (kAvailLeft)
//   top      dst[x - stride]             x = 0..N-1      (kAvailTop)
//   topleft  dst[-1 - stride]                            (kAvailTopLeft)
//   topright dst[x - stride]             x = N..2N-1     (kAvailTopRight;
//                                        4x4 and 8x8 only)
// A neighbour is read only when its bit is set; the caller passes the true
// availability and keeps no other promise. Where the standard substitutes
// (DC with one or no side, top-right replaced by the last top sample, the
// 8x8 filter at unavailable ends) the kernel does so. A mode whose required
// neighbours are missing (only a corrupt stream selects one) predicts from
// 128s instead; it never reads the missing samples.
// 16x16 plane and chroma plane need left, top and top-left.
// The prediction is written to the NxN block at dst (N = 4, 8, 16; chroma 8).
using IntraPredFn = void (*)(uint8_t *dst, ptrdiff_t stride, int avail);

// Luma quarter-sample interpolation ("put"): writes the w x h prediction of
// the block whose integer position is src, at fractional position
// (mx, my) in quarter samples, to dst. The table is indexed
// [widthIndex][mx + 4*my], widthIndex 0: w 16, 1: w 8, 2: w 4; h is 4, 8 or 16.
// Reads src[x + y*srcStride] for x = -2..w+2, y = -2..h+2 (the full window is
// allowed to be read for every fractional position; the caller supplies an
// edge-extended copy near picture borders). Position 0 (full sample) is a
// copy and reads only the w x h block.
using LumaMcFn = void (*)(uint8_t *dst, ptrdiff_t dstStride, const uint8_t *src, ptrdiff_t srcStride, int h);

// Chroma eighth-sample bilinear interpolation ("put"), indexed by width
// (0: w 8, 1: w 4, 2: w 2); h is 2, 4 or 8; mx, my 0..7. May read
// src[x + y*srcStride] for x = 0..w, y = 0..h whatever the fraction, so the
// caller provides that whole (w+1) x (h+1) window.
using ChromaMcFn = void (*)(uint8_t *dst, ptrdiff_t dstStride, const uint8_t *src, ptrdiff_t srcStride, int h, int mx,
                            int my);

// Inverse transform of `coeffs` (16 or 64, raster) added to the 4x4 / 8x8
// block at dst with clipping to 0..255; coeffs are zeroed afterwards. The
// DC variants assume every coefficient but coeffs[0] is zero (they only read
// and clear coeffs[0]); their result equals the full transform's.
using IdctAddFn = void (*)(uint8_t *dst, ptrdiff_t stride, int16_t *coeffs);
// chromaDcAdd uses the same signature for the 8x8 block of one chroma
// component whose four 4x4 blocks only have a DC: coeffs[16 * k] is the DC of
// block k (raster 2x2), every other coefficient is zero. Equals idct4x4DcAdd
// on each of the four blocks; clears the four DCs.

// Luma Intra16x16 DC: `dc` holds the 16 DC levels (not scaled) as a raster
// 4x4 matrix (row = block row), i.e. already placed by the inverse scan. The
// kernel applies the inverse Hadamard transform and the DC scaling with
// qp (QP'Y, 0..51) and levelScale (LevelScale4x4(qp % 6, 0, 0)), and writes
// the DC of the block in raster position (row r, col c) to
// blocks[16 * blk], blk the luma4x4BlkIdx of that position; blocks is the
// macroblock's 16 coefficient blocks of 16 in luma4x4BlkIdx order.
// dc is zeroed afterwards.
using LumaDcFn = void (*)(int16_t *blocks, int16_t *dc, int qp, int levelScale);

// Chroma DC of one component (4:2:0): dc[0..3] are c00 c01 c10 c11 (the
// chroma DC levels in parsing order, not scaled). Applies the 2x2 transform
// and the DC scaling with qp (QP'C) and levelScale (LevelScale4x4(qp%6,0,0)),
// writes block k's DC to blocks[16 * k] (blocks: the component's four 4x4
// coefficient blocks in chroma4x4BlkIdx order) and zeroes dc.
using ChromaDcFn = void (*)(int16_t *blocks, int16_t *dc, int qp, int levelScale);

// Edge filters. "V" filters a vertical edge (samples left and right of it,
// filtering runs along a row); "H" filters a horizontal edge (samples above
// and below). `pix` is the first sample right of / below the edge (q0 of the
// first line); p_i = pix[-(i+1)*step], q_i = pix[i*step] with step 1 for V
// and stride for H. Luma edges are 16 samples long; chroma edges 8.
// Luma reads p3..q3 and writes p2..q2; chroma reads p1..q1 and writes p0, q0.
// alpha, beta: alpha' and beta' of the edge's indexA / indexB.
// Normal filter (bS 1..3): tc0[k] is tC0 for the 4 luma (2 chroma) samples of
// segment k, or -1 to leave the segment alone (bS 0).
using EdgeFilterFn = void (*)(uint8_t *pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]);
// Strong filter (bS 4), whole edge.
using EdgeFilterStrongFn = void (*)(uint8_t *pix, ptrdiff_t stride, int alpha, int beta);

// Both chroma edges of one direction of a macroblock (4:2:0: edges 0 and 2
// of the luma grid, 8 samples long) in Cb and Cr, indexed [edge][plane].
// The two edges touch disjoint samples, so they are filtered in any order.
struct ChromaEdgeSet {
    int8_t tc0[2][2][4];  // per 2-sample segment as for EdgeFilterFn, -1: leave alone
    uint8_t alpha[2][2], beta[2][2];
    uint8_t strong[2];  // 1: the bS 4 filter over the whole edge, tc0 ignored
};
// cb, cr: top-left sample of the macroblock in each plane (same stride);
// "V" filters the vertical edges at x = 0 and 4, "H" the horizontal ones at
// y = 0 and 4. Reads and writes as the EdgeFilterFn chroma members, and
// nothing of the neighbouring macroblocks when edge 0 is left alone (another
// thread may be decoding them).
using ChromaEdgesFn = void (*)(uint8_t *cb, uint8_t *cr, ptrdiff_t stride, const ChromaEdgeSet &edges);

// Block copies: w x h bytes from src to dst.
using CopyBlockFn = void (*)(uint8_t *dst, ptrdiff_t dstStride, const uint8_t *src, ptrdiff_t srcStride, int h);

struct KernelSet {
    IntraPredFn intra4x4[kNumIntraNxNModes];
    // 8x8 members filter the reference samples (8.3.2.2.1) themselves, using
    // kAvailTopLeft / kAvailTopRight as the standard does.
    IntraPredFn intra8x8[kNumIntraNxNModes];
    IntraPredFn intra16x16[kNumIntra16x16Modes];
    IntraPredFn intraChroma[kNumIntraChromaModes];  // one 8x8 chroma block

    LumaMcFn lumaMc[3][16];
    ChromaMcFn chromaMc[3];

    IdctAddFn idct4x4Add;
    IdctAddFn idct4x4DcAdd;
    IdctAddFn idct8x8Add;
    IdctAddFn idct8x8DcAdd;
    IdctAddFn chromaDcAdd;
    LumaDcFn lumaDcDequantIdct;
    ChromaDcFn chromaDcDequantIdct;

    EdgeFilterFn lumaEdgeV, lumaEdgeH;
    EdgeFilterStrongFn lumaEdgeVStrong, lumaEdgeHStrong;
    // Per-edge chroma filters: the reference the C chroma sets are built on.
    EdgeFilterFn chromaEdgeV, chromaEdgeH;
    EdgeFilterStrongFn chromaEdgeVStrong, chromaEdgeHStrong;
    ChromaEdgesFn chromaEdgesV, chromaEdgesH;

    // copy[0]: 16 wide, copy[1]: 8 wide, copy[2]: 4 wide. copy[0] with h 16
    // is the luma macroblock store, copy[1] with h 8 the chroma one.
    CopyBlockFn copy[3];
};

// Processor level: 0 no feature query or no MMX, 1 MMX, 2 MMX + CMOV,
// 3 + FXSR + SSE, 4 + SSE2, 5 + SSE3. Capped at 2 when the OS does not save
// the SSE state. The decoder needs level 2.
int CpuLevelProbe();

// Whether the processor and the OS support AVX2 (CPUID leaf 7, and XCR0
// saving the SSE and AVX state). Separate from the level, which stops at 5.
bool CpuHasAvx2();

// Whether the processor and the OS support AVX-512 F, BW and VL (CPUID leaf
// 7, and XCR0 saving the opmask and all ZMM state besides SSE and AVX).
bool CpuHasAvx512Bw();

// Whether 512-bit vectors cost no more than 256-bit ones: false where they
// are split into two 256-bit halves (AMD family 19h, measured slower than its
// AVX2 there) and on the first AVX-512 generation (Skylake and Cascade Lake
// server parts), whose cores run slower for milliseconds after 512-bit
// multiplies, a cost the scalar entropy decoding around the kernels would pay
// in full. Later generations are told apart by the AVX512_VBMI2 they add.
bool CpuRunsAvx512Cheaply();

// Pseudo-levels naming the AVX2 and AVX-512 tables, for KernelSetGetExact and
// TESSALY_CPU_LEVEL only.
constexpr int kCpuLevelAvx2 = 6;
constexpr int kCpuLevelAvx512 = 7;

// The kernel table for a level (static storage, never freed); null below 2.
// Levels 2 and 3 get the C set, 4 and 5 the SSE2 set, with the AVX2 members
// on top when CpuHasAvx2() and the AVX-512 ones over those when
// CpuHasAvx512Bw() and CpuRunsAvx512Cheaply().
// The environment variable TESSALY_CPU_LEVEL (one digit) caps the level for
// testing: 2 (or less) forces the C set, 4 or 5 the SSE2 set without AVX2,
// 6 the AVX2 set without AVX-512, 7 or more the best set the processor runs
// (AVX-512 whenever CpuHasAvx512Bw(), to test it on any such processor).
const KernelSet *KernelSetGet(int cpuLevel);

// Exactly one table, ignoring TESSALY_CPU_LEVEL: 2 the C set, 4 the SSE2
// set, kCpuLevelAvx2 the AVX2 set, kCpuLevelAvx512 the AVX-512 set; null
// when that table does not exist on this build or processor. For tests that
// compare the tables.
const KernelSet *KernelSetGetExact(int level);

}  // namespace tessaly::h264
