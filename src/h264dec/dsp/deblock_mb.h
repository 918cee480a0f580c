// In-loop deblocking of one macroblock, given its boundary strengths and QPs.
//
// The macroblock is filtered where it lives in the picture, after it has been
// stored there: its left and top edges change up to three samples of the
// neighbours stored earlier, exactly as decoding-order filtering requires.
// The caller saves the unfiltered samples that intra prediction of later
// macroblocks needs before calling.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly::h264 {

struct KernelSet;

struct DeblockMb {
    // Top-left sample of the macroblock in the picture (field lines selected
    // by the stride). Filtering reads 4 columns left of / rows above these
    // (luma; chroma 2) when the left / top edge is filtered, and writes 3 (1).
    uint8_t *luma = nullptr;
    uint8_t *cb = nullptr;
    uint8_t *cr = nullptr;
    ptrdiff_t lumaStride = 0;
    ptrdiff_t chromaStride = 0;

    // Boundary strengths 0..4, [edge][segment]. bsV: vertical edges at luma
    // x = 0, 4, 8, 12 (edge 0 is the left macroblock edge), segment k covers
    // rows 4k..4k+3. bsH: horizontal edges at y = 0, 4, 8, 12 (edge 0 is the
    // top macroblock edge), segment k covers columns 4k..4k+3. bS 4 must
    // cover all four segments of an edge; a mixed edge filters its bS 4
    // segments as bS 3. Chroma (4:2:0) uses edges 0 and 2 with the same
    // segments (2 chroma samples each). Aligned so that each array can be
    // written with one vector store and read back in whole edges.
    alignas(16) uint8_t bsV[4][4] = {};
    alignas(16) uint8_t bsH[4][4] = {};

    // QPY of this macroblock and of its left / top neighbours (0 for I_PCM),
    // and QPC of each chroma component (Cb, Cr) derived from those QPY with
    // the picture's chroma offsets.
    uint8_t qp = 0, qpLeft = 0, qpTop = 0;
    uint8_t chromaQp[2] = {}, chromaQpLeft[2] = {}, chromaQpTop[2] = {};

    int8_t filterOffsetA = 0;  // 2 x slice_alpha_c0_offset_div2
    int8_t filterOffsetB = 0;  // 2 x slice_beta_offset_div2
    // 0: the left / top macroblock edge is not filtered (picture border, or
    // another slice with disable_deblocking_filter_idc 2); bsV[0] / bsH[0]
    // are then ignored.
    uint8_t filterLeftEdge = 0;
    uint8_t filterTopEdge = 0;
    // 1: inner luma edges 1 and 3 lie inside 8x8 transforms and are skipped.
    uint8_t transform8x8 = 0;
};

// Filters luma (vertical edges left to right, then horizontal edges top to
// bottom) and both chroma components the same way, with ks's edge kernels.
void DeblockMbFilter(const KernelSet &ks, const DeblockMb &mb);

}  // namespace tessaly::h264
