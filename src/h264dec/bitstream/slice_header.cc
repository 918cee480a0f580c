#include "h264dec/bitstream/slice_header.h"

namespace tessaly::h264 {

uint32_t ParseSliceHeaderStart(BitReader &br, SliceHeader *sh) {
    sh->firstMb = br.ReadUe();
    const uint32_t type = br.ReadUe();
    if (type > 9) return kSliceBadType;
    // P, B, I, SP, SI repeated: SP decodes as P, SI as I.
    const uint32_t base = type % 5;
    if (base == 1) return kSliceBFrame;
    sh->sliceTypeRaw = uint8_t(type);
    sh->isIntra = uint8_t(base == 2 || base == 4);
    sh->ppsId = br.ReadUe();
    if (sh->ppsId >= uint32_t(kMaxPps)) return kSliceBadPps;
    return kStatusOk;
}

namespace {

uint32_t ReadListModification(BitReader &br, SliceHeader *sh) {
    sh->numListCommands = 0;
    if (!br.ReadFlag()) return kStatusOk;
    for (int i = 0; i < kMaxListCommands; ++i) {
        const uint32_t op = br.ReadUe();
        if (op == 3) break;
        if (op > 3 || br.Overrun()) return kSliceListFailed;
        RefListCommand &c = sh->listCommands[sh->numListCommands++];
        c.op = uint8_t(op);
        c.value = br.ReadUe();
    }
    return kStatusOk;
}

uint32_t ReadMarking(BitReader &br, SliceHeader *sh) {
    sh->numMarkingCommands = 0;
    sh->adaptiveMarking = 0;
    sh->noOutputOfPriorPics = 0;
    sh->longTermReference = 0;
    if (sh->idr) {
        sh->noOutputOfPriorPics = uint8_t(br.ReadBit());
        sh->longTermReference = uint8_t(br.ReadBit());
        return kStatusOk;
    }
    sh->adaptiveMarking = uint8_t(br.ReadBit());
    if (!sh->adaptiveMarking) return kStatusOk;
    for (int i = 0; i < kMaxListCommands; ++i) {
        const uint32_t op = br.ReadUe();
        if (op == 0) break;
        if (op > 6 || br.Overrun()) return kSliceListFailed;
        MarkingCommand &c = sh->marking[sh->numMarkingCommands++];
        c = MarkingCommand{};
        c.op = uint8_t(op);
        if (op == 1 || op == 3) c.diffPicNumsMinus1 = br.ReadUe();
        if (op == 2) c.longTermPicNum = br.ReadUe();
        if (op == 3 || op == 6) c.longTermFrameIdx = br.ReadUe();
        if (op == 4) c.maxLongTermFrameIdxPlus1 = br.ReadUe();
    }
    return kStatusOk;
}

}  // namespace

uint32_t ParseSliceHeaderRest(BitReader &br, const Sps &sps, const Pps &pps, SliceHeader *sh) {
    sh->frameNum = br.ReadBits(int(sps.log2MaxFrameNum));
    if (sh->idr && sh->frameNum != 0) return kSliceIdrFrameNum;
    sh->fieldPic = 0;
    sh->bottomField = 0;
    if (!sps.frameMbsOnly) {
        if (sps.mbAdaptiveFrameField) return kSliceMbaff;
        sh->fieldPic = uint8_t(br.ReadBit());
        if (sh->fieldPic) sh->bottomField = uint8_t(br.ReadBit());
    }
    sh->idrPicId = kNoIdrPicId;
    if (sh->idr) {
        const uint32_t idrPicId = br.ReadUe();
        sh->idrPicId = idrPicId > 65535 ? 65535 : idrPicId;
    }
    sh->pocLsb = 0;
    sh->deltaPocBottom = 0;
    sh->deltaPoc[0] = sh->deltaPoc[1] = 0;
    if (sps.pocType == 0) {
        sh->pocLsb = br.ReadBits(int(sps.log2MaxPocLsb));
        if (pps.bottomFieldPicOrderInFramePresent && !sh->fieldPic) sh->deltaPocBottom = br.ReadSe();
    } else if (sps.pocType == 1 && !sps.deltaPicOrderAlwaysZero) {
        sh->deltaPoc[0] = br.ReadSe();
        if (pps.bottomFieldPicOrderInFramePresent && !sh->fieldPic) sh->deltaPoc[1] = br.ReadSe();
    }
    if (pps.redundantPicCntPresent && br.ReadUe() != 0) return kSliceRedundant;

    sh->numRefIdxActive = 0;
    sh->numListCommands = 0;
    if (!sh->isIntra) {
        sh->numRefIdxActive = pps.numRefIdxL0DefaultActive;
        if (br.ReadFlag()) {
            const uint32_t minus1 = br.ReadUe();
            if (minus1 > 31) return kSliceBadRefIdxL0;
            sh->numRefIdxActive = minus1 + 1;
        }
        if (const uint32_t s = ReadListModification(br, sh)) return s;
    }
    // pred_weight_table never occurs: weighted prediction is refused with the PPS.
    if (sh->nalRefIdc) {
        if (const uint32_t s = ReadMarking(br, sh)) return s;
    } else {
        sh->numMarkingCommands = 0;
        sh->adaptiveMarking = 0;
        sh->noOutputOfPriorPics = 0;
        sh->longTermReference = 0;
    }
    sh->cabacInitIdc = 0;
    if (pps.entropyCodingMode && !sh->isIntra) {
        const uint32_t idc = br.ReadUe();
        if (idc > 2) return kSliceBadCabacInit;
        sh->cabacInitIdc = uint8_t(idc);
    }
    const int32_t qpDelta = br.ReadSe();
    const int64_t qp = int64_t(pps.picInitQp) + qpDelta;
    // Out-of-range QPs would index the scale tables out of bounds: drop the slice.
    if (qp < 0 || qp > 51) return kSliceBadQp;
    sh->sliceQp = int32_t(qp);
    // sp_for_switch_flag / slice_qs_delta: SP and SI only occur in the Extended
    // profile, which is refused with the SPS.
    sh->disableDeblock = 0;
    sh->alphaOffsetDiv2 = sh->betaOffsetDiv2 = 0;
    if (pps.deblockingFilterControlPresent) {
        const uint32_t idc = br.ReadUe();
        if (idc > 2) return kSliceBadFilterOffset;
        sh->disableDeblock = uint8_t(idc);
        if (idc != 1) {
            const int32_t a = br.ReadSe();
            const int32_t b = br.ReadSe();
            if (a < -6 || a > 6 || b < -6 || b > 6) return kSliceBadFilterOffset;
            sh->alphaOffsetDiv2 = int8_t(a);
            sh->betaOffsetDiv2 = int8_t(b);
        }
    }
    if (br.Overrun()) return kSliceListFailed;
    sh->dataBitPos = uint32_t(br.Position());
    return kStatusOk;
}

}  // namespace tessaly::h264
