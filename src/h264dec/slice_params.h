// What the picture layer (parameter sets, slice header, reference lists,
// picture buffers) hands to the slice-data layer (CAVLC/CABAC macroblock
// parsing, reconstruction, in-loop deblocking), and what comes back.
//
// SliceParams is plain data: the slice-thread mode copies it to a worker as is.
// The slice-data layer's per-thread working memory lives in a SliceDecoder,
// created once with the decoder and never reallocated.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly::h264 {

enum class SliceType : uint8_t { kP = 0, kI = 2 };  // SP decodes as P, SI as I

// One entry of reference picture list 0.
struct RefPicture {
    // First line of the referenced frame, or of the referenced field (a bottom
    // field starts one frame line down); lines are lumaStride / chromaStride
    // apart (twice the frame's for a field).
    const uint8_t *y = nullptr, *u = nullptr, *v = nullptr;
    int32_t lumaStride = 0;
    int32_t chromaStride = 0;
    // Equal ids mean the same reference picture (deblocking compares pictures,
    // not list positions). Distinct for the two fields of one frame.
    int32_t id = -1;
    // Field decoding: 1 when this reference is a bottom field, for the chroma
    // vertical offset between fields of opposite parity.
    uint8_t bottomField = 0;
};

// Dequantisation scales built from the active picture parameter set's lists
// (LevelScale = list value x normAdjust), indexed [list][qP % 6][raster position].
// Lists: 0..2 intra Y/Cb/Cr 4x4, 3..5 inter Y/Cb/Cr 4x4; 8x8: 0 intra Y, 1 inter Y.
struct DequantTables {
    uint16_t scale4x4[6][6][16];
    uint16_t scale8x8[2][6][64];
};

struct SliceParams {
    // Geometry of the picture being decoded (a field has half the frame's rows).
    int32_t widthMbs = 0;
    int32_t heightMbs = 0;  // PicHeightInMbs
    int32_t picSizeInMbs = 0;
    uint8_t fieldPic = 0;     // 1 for a field picture
    uint8_t bottomField = 0;  // 1 for a bottom field

    // Destination: first line of the current frame or field, and the distance
    // between its lines (doubled for a field).
    uint8_t *y = nullptr, *u = nullptr, *v = nullptr;
    int32_t lumaStride = 0;
    int32_t chromaStride = 0;

    // From the active parameter sets.
    uint8_t cabac = 0;  // entropy_coding_mode_flag
    uint8_t transform8x8Mode = 0;
    uint8_t constrainedIntraPred = 0;
    int8_t chromaQpOffset[2] = {0, 0};  // Cb, Cr (second_chroma_qp_index_offset)
    const DequantTables *dequant = nullptr;

    // From the slice header.
    SliceType type = SliceType::kI;
    int32_t firstMb = 0;  // already checked below picSizeInMbs
    // One past the last macroblock the slice may write; 0 means the end of the
    // picture. Slice workers get the next slice's first address, so that a
    // damaged slice stops there instead of overwriting a neighbour's pixels.
    int32_t endMb = 0;
    int32_t sliceQp = 26;  // 0..51
    uint8_t cabacInitIdc = 0;
    uint8_t disableDeblock = 0;   // 0, 1, 2 (slice threads turn 0 into 2)
    int8_t filterOffsetA = 0;     // 2 x slice_alpha_c0_offset_div2
    int8_t filterOffsetB = 0;     // 2 x slice_beta_offset_div2
    int32_t numRefIdxActive = 0;  // entries of refList in use (0 for I)
    // Positions behind the active entries repeat entry 0, so any ref_idx up to
    // 32 names a usable picture.
    RefPicture refList[33];

    // The picture a reference index from the neighbour cache names, the
    // index clamped into the list (the cache's negative marks read entry 0).
    const RefPicture &Ref(int ref) const { return refList[ref < 0 ? 0 : (ref > 32 ? 32 : ref)]; }

    // Slice data: the NAL unit's bytes with emulation prevention removed.
    // bitPos is the first bit after the slice header; bitEnd is one past the
    // rbsp_stop_one_bit's byte. The buffer stays readable 8 bytes past bitEnd.
    const uint8_t *data = nullptr;
    uint32_t bitPos = 0;
    uint32_t bitEnd = 0;
};

struct SliceResult {
    int32_t mbsDecoded = 0;  // macroblocks reconstructed and stored
    int32_t error = 0;       // 0, or the reason the slice data stopped early
};

struct KernelSet;  // dsp/kernel_set.h
class SliceDecoder;

// Working memory for one thread, sized for pictures up to maxWidthMbs wide.
// Create allocates (zeroed, 16-byte aligned); Decode never does.
SliceDecoder *SliceDecoderCreate(int32_t maxWidthMbs, int32_t maxHeightMbs, const KernelSet *kernels);
void SliceDecoderDestroy(SliceDecoder *sd);
// Called when a new picture starts, before its first slice.
void SliceDecoderStartPicture(SliceDecoder *sd, const SliceParams &p);
SliceResult SliceDecoderDecode(SliceDecoder *sd, const SliceParams &p);

}  // namespace tessaly::h264
