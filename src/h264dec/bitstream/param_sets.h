// Sequence and picture parameter sets: parsed, checked and stored records.
#pragma once

#include <cstdint>

#include "h264dec/bitstream/bitreader.h"

namespace tessaly::h264 {

inline constexpr int kMaxSps = 32;
inline constexpr int kMaxPps = 256;

// Scaling lists in raster order: 4x4 lists 0..2 intra Y/Cb/Cr, 3..5 inter;
// 8x8 lists 0 intra Y, 1 inter Y.
struct ScalingLists {
    uint8_t list4x4[6][16];
    uint8_t list8x8[2][64];
};

struct Sps {
    uint32_t id = kMaxSps;  // kMaxSps: empty record
    uint8_t profileIdc = 0;
    uint8_t constraintFlags = 0;  // constraint_set0..3 and the reserved bits, as read
    uint8_t levelIdc = 0;
    uint8_t chromaFormatIdc = 1;
    uint8_t scalingMatrixPresent = 0;
    ScalingLists scaling{};
    uint32_t log2MaxFrameNum = 4;
    uint32_t maxFrameNum = 16;
    uint8_t pocType = 0;
    uint32_t log2MaxPocLsb = 4;
    uint8_t deltaPicOrderAlwaysZero = 0;
    int32_t offsetForNonRefPic = 0;
    int32_t offsetForTopToBottomField = 0;
    uint32_t numRefFramesInPocCycle = 0;
    int32_t offsetForRefFrame[256] = {};
    int32_t expectedDeltaPerPocCycle = 0;  // sum of offsetForRefFrame
    uint32_t numRefFrames = 0;
    uint8_t gapsAllowed = 0;
    uint32_t widthMbs = 0;        // PicWidthInMbs
    uint32_t heightMapUnits = 0;  // PicHeightInMapUnits
    uint32_t frameHeightMbs = 0;  // FrameHeightInMbs
    uint8_t frameMbsOnly = 1;
    uint8_t mbAdaptiveFrameField = 0;
    uint8_t direct8x8Inference = 0;
    uint8_t direct8x8 = 0;  // derived: !frameMbsOnly || direct8x8Inference
    uint8_t cropping = 0;
    uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;  // luma pixels
    uint32_t width = 0, height = 0;                                     // luma pixels, uncropped frame
    uint32_t dpbSize = 0;
    uint8_t isNew = 0;
};

struct Pps {
    uint32_t id = kMaxPps;  // kMaxPps: empty record
    uint32_t spsId = 0;
    uint8_t entropyCodingMode = 0;
    uint8_t bottomFieldPicOrderInFramePresent = 0;
    uint32_t numRefIdxL0DefaultActive = 1;  // minus1 + 1
    uint32_t numRefIdxL1DefaultActive = 1;
    int32_t picInitQp = 26;
    int32_t picInitQs = 26;
    int32_t chromaQpIndexOffset = 0;
    int32_t secondChromaQpIndexOffset = 0;
    uint8_t deblockingFilterControlPresent = 0;
    uint8_t constrainedIntraPred = 0;
    uint8_t redundantPicCntPresent = 0;
    uint8_t transform8x8Mode = 0;
    uint8_t scalingMatrixPresent = 0;
    ScalingLists scaling{};  // resolved against the sequence set's lists
    uint8_t isNew = 0;
};

// Limits the stream must fit into (from the decoder's creation record).
struct ParamSetLimits {
    uint32_t widthMbs = 0;
    uint32_t heightMbs = 0;
    uint32_t bufferCount = 0;
};

// Internal status codes of parameter-set parsing (never reach the caller).
enum : uint32_t {
    kStatusOk = 0,
    kSpsBadId = 0x20000001,
    kSpsBadLog2MaxFrameNum = 0x20000002,
    kSpsTooManyRefFrames = 0x20000003,
    kSpsBadPocType = 0x20000004,
    kSpsBadPocCycle = 0x20000005,
    kSpsBadCropping = 0x20000006,
    kSpsBadFormat = 0x20000007,
    kSpsBadProfile = 0x20000009,
    kSpsRefFramesOverBuffers = 0x2000000a,
    kSpsBadSize = 0x2000000c,
    kPpsBadId = 0x20000011,
    kPpsNoSps = 0x20000012,
    kPpsBadInitQp = 0x20000013,
    kPpsBadInitQs = 0x20000014,
    kPpsBadChromaQpOffset = 0x20000015,
    kPpsBadRefIdxL0 = 0x20000016,
    kPpsBadRefIdxL1 = 0x20000017,
    kPpsSliceGroups = 0x2000001a,
    kPpsWeightedPrediction = 0x2000001c,
};

// Parses an SPS payload (after the NAL header) into *out. On success *out is
// complete and isNew is set; on failure *out is unspecified, so parse into a
// scratch record and copy it into the store only on success.
uint32_t ParseSps(BitReader &br, const ParamSetLimits &limits, Sps *out);

// Parses a PPS payload; spsStore is indexed by seq_parameter_set_id.
uint32_t ParsePps(BitReader &br, const Sps *spsStore, Pps *out);

// DPB size in frames for a sequence set (needs width, height, level, numRefFrames).
uint32_t DpbSizeFor(const Sps &sps, uint32_t bufferCount);

}  // namespace tessaly::h264
