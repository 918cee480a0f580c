#include "h264dec/bitstream/param_sets.h"

#include <algorithm>
#include <cstring>

#include "h264dec/tables/tables.h"

namespace tessaly::h264 {
namespace {

// MaxDpbBytes by level_idc (Table A-1's MaxDPB x 1024); 0 for unknown levels.
uint32_t MaxDpbBytes(uint8_t levelIdc) {
    switch (levelIdc) {
    case 10: return 152064;
    case 11: return 345600;
    case 12:
    case 13:
    case 20: return 912384;
    case 21: return 1824768;
    case 22:
    case 30: return 3110400;
    case 31: return 6912000;
    case 32: return 7864320;
    case 40:
    case 41:
    case 42: return 12582912;
    case 50: return 42393600;
    case 51: return 70778880;
    default: return 0;
    }
}

enum class ListRead { kAbsent, kDefault, kRead };

// scaling_list(): fills `raster` (through the frame zig-zag scan) and reports
// whether the stream asked for the default list.
ListRead ReadScalingList(BitReader &br, uint8_t *raster, int size, const uint8_t *scan) {
    int lastScale = 8, nextScale = 8;
    for (int j = 0; j < size; ++j) {
        if (nextScale != 0) {
            const int32_t delta = br.ReadSe();
            if (delta < -128 || delta > 127) return ListRead::kDefault;  // corrupt; harmless choice
            nextScale = (lastScale + delta + 256) % 256;
            if (j == 0 && nextScale == 0) return ListRead::kDefault;
        }
        const int value = nextScale == 0 ? lastScale : nextScale;
        raster[scan[j]] = uint8_t(value);
        lastScale = value;
    }
    return ListRead::kRead;
}

void CopyZigzag(uint8_t *raster, const uint8_t *zigzagValues, int size, const uint8_t *scan) {
    for (int j = 0; j < size; ++j) raster[scan[j]] = zigzagValues[j];
}

void SetFlat(ScalingLists *s) {
    std::memset(s->list4x4, 16, sizeof(s->list4x4));
    std::memset(s->list8x8, 16, sizeof(s->list8x8));
}

// Reads the lists of an SPS (fallbackBase null: rule A) or a PPS (fallbackBase
// the sequence lists when rule B applies). num8x8 is 0 or 2.
void ReadScalingLists(BitReader &br, ScalingLists *out, int num8x8, const ScalingLists *fallbackBase) {
    for (int i = 0; i < 6; ++i) {
        uint8_t *list = out->list4x4[i];
        const bool present = br.ReadFlag();
        const uint8_t *defaults = i < 3 ? kDefault4x4Intra : kDefault4x4Inter;
        ListRead r = present ? ReadScalingList(br, list, 16, kZigzag4x4) : ListRead::kAbsent;
        if (r == ListRead::kDefault) {
            CopyZigzag(list, defaults, 16, kZigzag4x4);
        } else if (r == ListRead::kAbsent) {
            if (i == 0 || i == 3) {
                if (fallbackBase)
                    std::memcpy(list, fallbackBase->list4x4[i], 16);
                else
                    CopyZigzag(list, defaults, 16, kZigzag4x4);
            } else {
                std::memcpy(list, out->list4x4[i - 1], 16);
            }
        }
    }
    for (int i = 0; i < 2; ++i) {
        uint8_t *list = out->list8x8[i];
        const uint8_t *defaults = i == 0 ? kDefault8x8Intra : kDefault8x8Inter;
        const bool present = i < num8x8 && br.ReadFlag();
        ListRead r = present ? ReadScalingList(br, list, 64, kZigzag8x8) : ListRead::kAbsent;
        if (r == ListRead::kDefault) {
            CopyZigzag(list, defaults, 64, kZigzag8x8);
        } else if (r == ListRead::kAbsent) {
            if (fallbackBase)
                std::memcpy(list, fallbackBase->list8x8[i], 64);
            else
                CopyZigzag(list, defaults, 64, kZigzag8x8);
        }
    }
}

}  // namespace

uint32_t DpbSizeFor(const Sps &sps, uint32_t bufferCount) {
    const uint32_t frameBytes = 384u * sps.widthMbs * sps.frameHeightMbs;
    const uint32_t bytes = MaxDpbBytes(sps.levelIdc);
    uint32_t maxDpbFrames = 16;
    if (bytes && frameBytes) maxDpbFrames = std::min<uint32_t>(16, bytes / frameBytes);
    return std::max(sps.numRefFrames, std::min(2 * bufferCount, maxDpbFrames));
}

uint32_t ParseSps(BitReader &br, const ParamSetLimits &limits, Sps *sps) {
    sps->profileIdc = uint8_t(br.ReadBits(8));
    sps->constraintFlags = uint8_t(br.ReadBits(8));
    sps->levelIdc = uint8_t(br.ReadBits(8));
    if (sps->profileIdc != 66 && sps->profileIdc != 77 && sps->profileIdc != 100) return kSpsBadProfile;
    const uint32_t id = br.ReadUe();
    if (id >= uint32_t(kMaxSps)) return kSpsBadId;
    sps->id = id;

    sps->chromaFormatIdc = 1;
    sps->scalingMatrixPresent = 0;
    if (sps->profileIdc == 100) {
        const uint32_t chroma = br.ReadUe();
        if (chroma == 3) br.ReadBit();  // separate_colour_plane_flag
        const uint32_t depthLuma = br.ReadUe();
        const uint32_t depthChroma = br.ReadUe();
        br.ReadBit();  // qpprime_y_zero_transform_bypass_flag
        if (chroma != 1 || depthLuma != 0 || depthChroma != 0) return kSpsBadFormat;
        sps->scalingMatrixPresent = uint8_t(br.ReadBit());
    }
    if (sps->scalingMatrixPresent)
        ReadScalingLists(br, &sps->scaling, 2, nullptr);
    else
        SetFlat(&sps->scaling);

    const uint32_t log2MaxFrameNumMinus4 = br.ReadUe();
    if (log2MaxFrameNumMinus4 > 12) return kSpsBadLog2MaxFrameNum;
    sps->log2MaxFrameNum = log2MaxFrameNumMinus4 + 4;
    sps->maxFrameNum = 1u << sps->log2MaxFrameNum;

    const uint32_t pocType = br.ReadUe();
    if (pocType > 2) return kSpsBadPocType;
    sps->pocType = uint8_t(pocType);
    sps->numRefFramesInPocCycle = 0;
    sps->expectedDeltaPerPocCycle = 0;
    if (pocType == 0) {
        const uint32_t lsbMinus4 = br.ReadUe();
        if (lsbMinus4 > 12) return kSpsBadFormat;
        sps->log2MaxPocLsb = lsbMinus4 + 4;
    } else if (pocType == 1) {
        sps->deltaPicOrderAlwaysZero = uint8_t(br.ReadBit());
        sps->offsetForNonRefPic = br.ReadSe();
        sps->offsetForTopToBottomField = br.ReadSe();
        const uint32_t cycle = br.ReadUe();
        if (cycle > 256) return kSpsBadPocCycle;
        sps->numRefFramesInPocCycle = cycle;
        int64_t sum = 0;
        for (uint32_t i = 0; i < cycle; ++i) {
            sps->offsetForRefFrame[i] = br.ReadSe();
            sum += sps->offsetForRefFrame[i];
        }
        sps->expectedDeltaPerPocCycle = int32_t(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
    }

    const uint32_t numRefFrames = br.ReadUe();
    if (numRefFrames > 16) return kSpsTooManyRefFrames;
    if (numRefFrames > limits.bufferCount) return kSpsRefFramesOverBuffers;
    sps->numRefFrames = numRefFrames;
    sps->gapsAllowed = uint8_t(br.ReadBit());
    const uint32_t widthMinus1 = br.ReadUe();
    const uint32_t heightMinus1 = br.ReadUe();
    sps->frameMbsOnly = uint8_t(br.ReadBit());
    sps->mbAdaptiveFrameField = sps->frameMbsOnly ? 0 : uint8_t(br.ReadBit());
    sps->direct8x8Inference = uint8_t(br.ReadBit());
    sps->direct8x8 = uint8_t(!sps->frameMbsOnly || sps->direct8x8Inference);
    const uint32_t fieldFactor = 2 - sps->frameMbsOnly;
    if (widthMinus1 < 1 || heightMinus1 < 1 || widthMinus1 >= limits.widthMbs ||
        heightMinus1 >= limits.heightMbs / fieldFactor)
        return kSpsBadSize;
    sps->widthMbs = widthMinus1 + 1;
    sps->heightMapUnits = heightMinus1 + 1;
    sps->frameHeightMbs = sps->heightMapUnits * fieldFactor;
    sps->width = 16 * sps->widthMbs;
    sps->height = 16 * sps->frameHeightMbs;

    sps->cropping = uint8_t(br.ReadBit());
    sps->cropLeft = sps->cropRight = sps->cropTop = sps->cropBottom = 0;
    if (sps->cropping) {
        const uint32_t left = br.ReadUe(), right = br.ReadUe(), top = br.ReadUe(), bottom = br.ReadUe();
        const uint64_t unitY = 2 * fieldFactor;
        const uint64_t l = uint64_t(left) * 2, r = uint64_t(right) * 2;
        const uint64_t t = uint64_t(top) * unitY, b = uint64_t(bottom) * unitY;
        if (l + r >= sps->width || t + b >= sps->height) return kSpsBadCropping;
        sps->cropLeft = uint32_t(l);
        sps->cropRight = uint32_t(r);
        sps->cropTop = uint32_t(t);
        sps->cropBottom = uint32_t(b);
    }
    // The VUI is not read.
    sps->dpbSize = DpbSizeFor(*sps, limits.bufferCount);
    sps->isNew = 1;
    return kStatusOk;
}

uint32_t ParsePps(BitReader &br, const Sps *spsStore, Pps *pps) {
    const uint32_t id = br.ReadUe();
    if (id >= uint32_t(kMaxPps)) return kPpsBadId;
    const uint32_t spsId = br.ReadUe();
    if (spsId >= uint32_t(kMaxSps) || spsStore[spsId].id != spsId) return kPpsNoSps;
    const Sps &sps = spsStore[spsId];
    pps->id = id;
    pps->spsId = spsId;
    pps->entropyCodingMode = uint8_t(br.ReadBit());
    pps->bottomFieldPicOrderInFramePresent = uint8_t(br.ReadBit());
    if (br.ReadUe() != 0) return kPpsSliceGroups;
    const uint32_t l0 = br.ReadUe();
    if (l0 > 31) return kPpsBadRefIdxL0;
    const uint32_t l1 = br.ReadUe();
    if (l1 > 31) return kPpsBadRefIdxL1;
    pps->numRefIdxL0DefaultActive = l0 + 1;
    pps->numRefIdxL1DefaultActive = l1 + 1;
    const uint32_t weightedPred = br.ReadBit();
    const uint32_t weightedBipred = br.ReadBits(2);
    if (weightedPred || weightedBipred) return kPpsWeightedPrediction;
    const int32_t initQp = br.ReadSe();
    if (initQp < -26 || initQp > 25) return kPpsBadInitQp;
    const int32_t initQs = br.ReadSe();
    if (initQs < -26 || initQs > 25) return kPpsBadInitQs;
    const int32_t chromaOffset = br.ReadSe();
    if (chromaOffset < -12 || chromaOffset > 12) return kPpsBadChromaQpOffset;
    pps->picInitQp = 26 + initQp;
    pps->picInitQs = 26 + initQs;
    pps->chromaQpIndexOffset = chromaOffset;
    pps->deblockingFilterControlPresent = uint8_t(br.ReadBit());
    pps->constrainedIntraPred = uint8_t(br.ReadBit());
    pps->redundantPicCntPresent = uint8_t(br.ReadBit());

    pps->transform8x8Mode = 0;
    pps->scalingMatrixPresent = 0;
    pps->secondChromaQpIndexOffset = chromaOffset;
    if (br.MoreRbspData()) {
        pps->transform8x8Mode = uint8_t(br.ReadBit());
        pps->scalingMatrixPresent = uint8_t(br.ReadBit());
        if (pps->scalingMatrixPresent)
            ReadScalingLists(br, &pps->scaling, pps->transform8x8Mode ? 2 : 0,
                             sps.scalingMatrixPresent ? &sps.scaling : nullptr);
        const int32_t second = br.ReadSe();
        if (second < -12 || second > 12) return kPpsBadChromaQpOffset;
        pps->secondChromaQpIndexOffset = second;
    }
    if (!pps->scalingMatrixPresent) pps->scaling = sps.scaling;
    pps->isNew = 1;
    return kStatusOk;
}

}  // namespace tessaly::h264
