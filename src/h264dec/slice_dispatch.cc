// One slice unit: header, parameter-set activation, new-picture detection,
// reference list, then the slice data through the SliceDecoder.
#include <cstring>

#include "h264dec/decoder_context.h"
#include "h264dec/dequant.h"
#include "h264dec/slice_threads.h"

namespace tessaly::h264 {
namespace {

enum : uint32_t { kSliceSkipped = 0x10000004, kSliceBadFirstMb = 0x3000000b };

// False when the slice would change the picture size without an IDR: the
// reference pictures would no longer match, so such slices wait for one.
bool Activate(H264Decoder *h, Pps &pps, Sps &sps, bool idr) {
    const Sps &active = h->activeSps;
    if (!idr && active.id < kMaxSps && (sps.isNew || active.id != sps.id) &&
        (sps.width != active.width || sps.height != active.height))
        return false;
    if (pps.isNew || h->activePps.id != pps.id) {
        pps.isNew = 0;
        h->activePps = pps;
        h->dequantValid = 0;
    }
    if (sps.isNew || h->activeSps.id != sps.id) {
        sps.isNew = 0;
        h->activeSps = sps;
        h->dpb.size = int32_t(sps.dpbSize > kMaxDpbEntries ? kMaxDpbEntries : sps.dpbSize);
        h->dpb.numRefFrames = sps.numRefFrames;
        h->prev.idrPicId = kForgottenIdrPicId;  // the next IDR starts a new picture
    }
    return true;
}

bool StartsNewPicture(const H264Decoder *h, const SliceHeader &sh) {
    if (!h->current || !h->havePrev) return true;
    const PrevSliceValues &p = h->prev;
    const Sps &sps = h->activeSps;
    if (sh.ppsId != p.ppsId || sh.frameNum != p.frameNum || sh.fieldPic != p.fieldPic) return true;
    if (sh.fieldPic && sh.bottomField != p.bottomField) return true;
    if (sh.nalRefIdc != p.nalRefIdc && (sh.nalRefIdc == 0 || p.nalRefIdc == 0)) return true;
    if (sh.idr != p.idr) return true;
    if (sh.idr && p.idr && sh.idrPicId != p.idrPicId) return true;
    if (sps.pocType == 0 && (sh.pocLsb != p.pocLsb || sh.deltaPocBottom != p.deltaPocBottom)) return true;
    if (sps.pocType == 1 && (sh.deltaPoc[0] != p.deltaPoc[0] || sh.deltaPoc[1] != p.deltaPoc[1])) return true;
    // A complete picture followed by a slice at address 0 is a new picture
    // even when every compared value matches (e.g. repeated non-reference pictures).
    return sh.firstMb == 0 && h->currentMbs >= h->currentExpectedMbs;
}

void SavePrev(H264Decoder *h, const SliceHeader &sh) {
    PrevSliceValues &p = h->prev;
    p.ppsId = sh.ppsId;
    p.nalRefIdc = sh.nalRefIdc;
    p.frameNum = sh.frameNum;
    p.idr = sh.idr;
    if (sh.idr) p.idrPicId = sh.idrPicId;
    p.fieldPic = sh.fieldPic;
    if (sh.fieldPic) p.bottomField = sh.bottomField;
    p.pocLsb = sh.pocLsb;
    p.deltaPocBottom = sh.deltaPocBottom;
    p.deltaPoc[0] = sh.deltaPoc[0];
    p.deltaPoc[1] = sh.deltaPoc[1];
    h->havePrev = 1;
}

void FillRefPictures(H264Decoder *h, SliceParams &sp) {
    const int32_t width = int32_t(h->current->width);
    const int32_t shift = sp.fieldPic;
    for (int i = 0; i < kRefListSize; ++i) {
        const RefListEntry &e = h->refList[i];
        RefPicture &r = sp.refList[i];
        const bool bottom = e.parity == kBottomField;
        r.y = e.pic->y + (bottom ? width : 0);
        r.u = e.pic->u + (bottom ? width / 2 : 0);
        r.v = e.pic->v + (bottom ? width / 2 : 0);
        r.lumaStride = width << shift;
        r.chromaStride = (width / 2) << shift;
        r.id = e.pic->index * 4 + e.parity;
        r.bottomField = bottom ? 1 : 0;
    }
}

void FillSliceParams(H264Decoder *h, const SliceHeader &sh, SliceParams &sp, const NalUnit &unit) {
    const Sps &sps = h->activeSps;
    const Pps &pps = h->activePps;
    const Picture &pic = *h->current;
    const int32_t width = int32_t(pic.width);
    sp.widthMbs = int32_t(sps.widthMbs);
    sp.heightMbs = int32_t(sps.frameHeightMbs >> sh.fieldPic);
    sp.picSizeInMbs = sp.widthMbs * sp.heightMbs;
    sp.fieldPic = sh.fieldPic;
    sp.bottomField = sh.bottomField;
    sp.y = pic.y + (sh.bottomField ? width : 0);
    sp.u = pic.u + (sh.bottomField ? width / 2 : 0);
    sp.v = pic.v + (sh.bottomField ? width / 2 : 0);
    sp.lumaStride = width << sh.fieldPic;
    sp.chromaStride = (width / 2) << sh.fieldPic;
    sp.cabac = pps.entropyCodingMode;
    sp.transform8x8Mode = pps.transform8x8Mode;
    sp.constrainedIntraPred = pps.constrainedIntraPred;
    sp.chromaQpOffset[0] = int8_t(pps.chromaQpIndexOffset);
    sp.chromaQpOffset[1] = int8_t(pps.secondChromaQpIndexOffset);
    sp.dequant = &h->dequant;
    sp.type = sh.isIntra ? SliceType::kI : SliceType::kP;
    sp.firstMb = int32_t(sh.firstMb);
    sp.sliceQp = sh.sliceQp;
    sp.cabacInitIdc = sh.cabacInitIdc;
    sp.disableDeblock = sh.disableDeblock;
    // Slice workers must not filter across slice boundaries.
    if ((h->modeFlags & DEC_MODE_SLICE_THREADS) && sp.disableDeblock == 0) sp.disableDeblock = 2;
    sp.filterOffsetA = int8_t(2 * sh.alphaOffsetDiv2);
    sp.filterOffsetB = int8_t(2 * sh.betaOffsetDiv2);
    sp.numRefIdxActive = sh.isIntra ? 0 : int32_t(sh.numRefIdxActive);
    if (!sh.isIntra) FillRefPictures(h, sp);
    sp.data = unit.data + 1;
    sp.bitPos = sh.dataBitPos;
    sp.bitEnd = (unit.size - 1) * 8;
}

}  // namespace

uint32_t ProcessSlice(H264Decoder *h, const NalUnit &unit) {
    if (h->state == StreamState::kWaitSps || h->state == StreamState::kWaitPps) return kSliceSkipped;
    const uint8_t nalType = unit.data[0] & 0x1F;
    SliceHeader &sh = h->slice;
    sh.nalRefIdc = (unit.data[0] >> 5) & 3;
    sh.nalUnitType = nalType;
    sh.idr = nalType == 5;
    if (h->state == StreamState::kWaitIntra && sh.idr) h->state = StreamState::kDecoding;

    BitReader br(unit.data + 1, unit.size - 1);
    if (const uint32_t s = ParseSliceHeaderStart(br, &sh)) return s;
    Pps &pps = h->ppsStore[sh.ppsId];
    if (pps.id != sh.ppsId) return kSliceBadPps;
    Sps &sps = h->spsStore[pps.spsId];
    if (sps.id != pps.spsId) return kSliceNoSps;
    if (!Activate(h, pps, sps, sh.idr)) return kSliceSkipped;
    if (const uint32_t s = ParseSliceHeaderRest(br, h->activeSps, h->activePps, &sh)) return s;

    if (h->state == StreamState::kWaitIntra) {
        if (!sh.isIntra) return kSliceSkipped;
        h->state = StreamState::kDecoding;
    }
    const uint32_t picSizeInMbs = h->activeSps.widthMbs * (h->activeSps.frameHeightMbs >> sh.fieldPic);
    if (sh.firstMb >= picSizeInMbs) return kSliceBadFirstMb;

    // A slice at address 0 may start a new picture; everything before it must
    // be decoded first (and counted, for the comparison below).
    if (sh.firstMb == 0) WaitForSliceWorkers(h);
    const bool newPicture = StartsNewPicture(h, sh);
    if (newPicture) WaitForSliceWorkers(h);
    if (newPicture && !StartPicture(h, sh)) {
        h->state = StreamState::kWaitIntra;
        return kSliceNoNewPicture;
    }
    SavePrev(h, sh);
    Picture *pic = h->current;
    pic->stats[0] += unit.inputBytes;

    if (!sh.isIntra) {
        RefListContext c;
        c.structure = h->currentStructure;
        c.frameNum = sh.frameNum;
        c.maxFrameNum = h->activeSps.maxFrameNum;
        c.numActive = sh.numRefIdxActive;
        if (!BuildRefList0(&h->dpb, c, sh, h->refList)) return kSliceListFailed;
    }
    if (!h->dequantValid) {
        BuildDequantTables(h->activePps.scaling, &h->dequant);
        h->dequantValid = 1;
    }
    SliceParams &sp = h->sliceParams;
    FillSliceParams(h, sh, sp, unit);
    if (h->threads) {
        if (!h->sliceLayerStarted) {
            SliceThreadsStartPicture(h->threads, sp);
            h->sliceLayerStarted = 1;
        }
        SliceThreadsDispatch(h->threads, sp, unit);
        return kStatusOk;
    }
    if (!h->sliceLayerStarted) {
        SliceDecoderStartPicture(h->sliceDecoder, sp);
        h->sliceLayerStarted = 1;
    }
    const SliceResult result = SliceDecoderDecode(h->sliceDecoder, sp);
    h->currentMbs += result.mbsDecoded;
    // What a slice decoded before an error in its data is kept: most errors
    // are found within a few macroblocks of where the data went wrong.
    if (h->currentStructure == kStructFrame) std::memset(h->mbDecoded + sp.firstMb, 1, size_t(result.mbsDecoded));
    return result.error ? 0x40000000u + uint32_t(result.error & 0x0FFFFFFF) : kStatusOk;
}

}  // namespace tessaly::h264
