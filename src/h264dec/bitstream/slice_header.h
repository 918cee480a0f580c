// Slice header syntax (I and P slices) with the decoder's checks.
#pragma once

#include <cstdint>

#include "h264dec/bitstream/bitreader.h"
#include "h264dec/bitstream/param_sets.h"

namespace tessaly::h264 {

inline constexpr int kMaxListCommands = 33;
inline constexpr uint32_t kNoIdrPicId = 65536;  // no idr_pic_id can take it

struct RefListCommand {
    uint8_t op = 3;      // modification_of_pic_nums_idc
    uint32_t value = 0;  // abs_diff_pic_num_minus1 or long_term_pic_num
};

struct MarkingCommand {
    uint8_t op = 0;  // memory_management_control_operation
    uint32_t diffPicNumsMinus1 = 0;
    uint32_t longTermPicNum = 0;
    uint32_t longTermFrameIdx = 0;
    uint32_t maxLongTermFrameIdxPlus1 = 0;
};

struct SliceHeader {
    uint8_t nalRefIdc = 0;
    uint8_t nalUnitType = 0;
    uint8_t idr = 0;
    uint32_t firstMb = 0;
    uint8_t sliceTypeRaw = 0;
    uint8_t isIntra = 0;  // I or SI
    uint32_t ppsId = 0;
    uint32_t frameNum = 0;
    uint8_t fieldPic = 0;
    uint8_t bottomField = 0;
    uint32_t idrPicId = kNoIdrPicId;
    uint32_t pocLsb = 0;
    int32_t deltaPocBottom = 0;
    int32_t deltaPoc[2] = {0, 0};
    uint32_t numRefIdxActive = 0;  // list 0, 0 for I slices
    uint8_t numListCommands = 0;
    RefListCommand listCommands[kMaxListCommands];
    uint8_t noOutputOfPriorPics = 0;
    uint8_t longTermReference = 0;
    uint8_t adaptiveMarking = 0;
    uint8_t numMarkingCommands = 0;
    MarkingCommand marking[kMaxListCommands];
    uint8_t cabacInitIdc = 0;
    int32_t sliceQp = 26;
    uint8_t disableDeblock = 0;
    int8_t alphaOffsetDiv2 = 0;
    int8_t betaOffsetDiv2 = 0;
    uint32_t dataBitPos = 0;  // first bit of slice_data()
};

enum : uint32_t {
    kSliceBadType = 0x30000001,
    kSliceBadPps = 0x30000002,
    kSliceIdrFrameNum = 0x30000003,
    kSliceListFailed = 0x30000005,
    kSliceNoNewPicture = 0x30000006,
    kSliceBadRefIdxL0 = 0x30000007,
    kSliceBadRefIdxL1 = 0x30000008,
    kSliceBadCabacInit = 0x30000009,
    kSliceBadFilterOffset = 0x3000000a,
    kSliceBFrame = 0x3000001a,
    kSliceRedundant = 0x3000001b,
    kSliceMbaff = 0x2000000b,
    kSliceNoSps = 0x20000012,
    kSliceBadQp = 0x3000000c,
};

// First part of the header, up to pic_parameter_set_id; enough to choose and
// activate the parameter sets.
uint32_t ParseSliceHeaderStart(BitReader &br, SliceHeader *sh);

// The rest, given the sets that the slice activated.
uint32_t ParseSliceHeaderRest(BitReader &br, const Sps &sps, const Pps &pps, SliceHeader *sh);

}  // namespace tessaly::h264
