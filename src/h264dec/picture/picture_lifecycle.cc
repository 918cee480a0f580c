// Starting and closing pictures: frame_num gaps, order counts, buffer choice,
// field pairing, and handing closed pictures to the DPB.
#include "h264dec/decoder_context.h"

namespace tessaly::h264 {
namespace {

bool HasOperation5(const SliceHeader &sh) {
    for (uint8_t i = 0; i < sh.numMarkingCommands; ++i)
        if (sh.marking[i].op == 5) return true;
    return false;
}

// Non-existing frames for the frame_num values a gap skipped. Only the last
// num_ref_frames of them can survive the sliding window, so earlier ones are
// not made at all.
void FillFrameNumGap(H264Decoder *h, uint32_t frameNum) {
    const Sps &sps = h->activeSps;
    const uint32_t maxFrameNum = sps.maxFrameNum;
    uint32_t next = (h->prevRefFrameNum + 1) % maxFrameNum;
    uint32_t missing = (frameNum + maxFrameNum - next) % maxFrameNum;
    const uint32_t keep = sps.numRefFrames ? sps.numRefFrames : 1;
    if (missing > keep) {
        next = (next + missing - keep) % maxFrameNum;
        missing = keep;
    }
    for (uint32_t k = 0; k < missing; ++k, next = (next + 1) % maxFrameNum) {
        Picture *p = DpbFindFreeBuffer(&h->dpb);
        if (!p) return;
        const PocResult poc = ComputeGapPoc(sps, next, &h->poc);
        p->outputState = kOutputFree;
        p->fields = kBothFields;
        p->waitingOutput = 0;
        p->shortRef = p->longRef = 0;
        p->nonExisting = 1;
        p->reference = 1;
        p->structure = kStructFrame;
        p->isIdr = 0;
        p->damaged = 0;
        p->frameNum = next;
        p->poc[0] = poc.top;
        p->poc[1] = poc.bottom;
        p->width = sps.width;
        p->height = sps.height;
        DpbStoreGapFrame(&h->dpb, p);
        h->prevRefFrameNum = next;
    }
}

// The unpaired first field that `sh` completes, or null.
Picture *SecondFieldPartner(H264Decoder *h, const SliceHeader &sh) {
    Picture *u = h->dpb.unpaired;
    if (!sh.fieldPic || !u || u->nonExisting) return nullptr;
    const uint8_t parity = sh.bottomField ? kBottomField : kTopField;
    if (u->fields == kBothFields || (u->fields & parity)) return nullptr;
    if (u->frameNum != sh.frameNum) return nullptr;
    if ((u->reference != 0) != (sh.nalRefIdc != 0)) return nullptr;
    return u;
}

}  // namespace

void ClosePicture(H264Decoder *h) {
    Picture *p = h->current;
    if (!p) return;
    h->current = nullptr;
    if (!(h->modeFlags & DEC_MODE_SLICE_THREADS) && h->currentMbs != h->currentExpectedMbs) p->damaged = 1;
    const SliceHeader &sh = h->pictureHeader;
    StoreParams sp;
    sp.structure = h->currentStructure;
    sp.idr = sh.idr;
    sp.reference = sh.nalRefIdc != 0;
    sp.noOutputOfPriorPics = sh.noOutputOfPriorPics;
    sp.longTermReference = sh.longTermReference;
    sp.adaptive = sh.adaptiveMarking;
    sp.numCommands = sh.numMarkingCommands;
    sp.commands = sh.marking;
    sp.maxFrameNum = h->activeSps.maxFrameNum;
    if (p->outputState == kOutputDecoding) p->outputState = kOutputFree;
    DpbUpdateFrameNumWrap(&h->dpb, p->frameNum, sp.maxFrameNum);
    DpbStorePicture(&h->dpb, p, sp);
}

bool StartPicture(H264Decoder *h, const SliceHeader &sh) {
    ClosePicture(h);
    const Sps &sps = h->activeSps;
    const uint32_t maxFrameNum = sps.maxFrameNum;

    if (sh.idr) {
        h->prevRefFrameNum = 0;
    } else if (sh.frameNum != h->prevRefFrameNum && sh.frameNum != (h->prevRefFrameNum + 1) % maxFrameNum) {
        if (sps.gapsAllowed)
            FillFrameNumGap(h, sh.frameNum);
        else if (sh.frameNum < (h->prevRefFrameNum + 1) % maxFrameNum)
            return false;  // backwards: wait for the next intra picture
    }

    Picture *p = SecondFieldPartner(h, sh);
    const bool secondField = p != nullptr;
    if (!p) {
        p = DpbFindFreeBuffer(&h->dpb);
        if (!p) return false;
    }
    const bool mmco5 = sh.nalRefIdc && HasOperation5(sh);
    const PocResult poc = ComputePoc(sps, sh, mmco5, &h->poc);
    if (sh.nalRefIdc) h->prevRefFrameNum = mmco5 ? 0 : sh.frameNum;

    const uint8_t structure = sh.fieldPic ? (sh.bottomField ? kStructBottom : kStructTop) : kStructFrame;
    const uint8_t parity = structure == kStructFrame ? uint8_t(kBothFields) : structure;
    if (secondField) {
        p->fields |= parity;
        p->structure = kStructPair;
        p->poc[structure == kStructTop ? 0 : 1] = poc.top;
        if (structure == kStructBottom) p->poc[1] = poc.bottom;
        p->isIdr |= sh.idr;
        p->outputState = kOutputDecoding;
    } else {
        p->outputState = kOutputDecoding;
        p->fields = parity;
        p->waitingOutput = 0;
        p->shortRef = p->longRef = 0;
        p->nonExisting = 0;
        p->reference = sh.nalRefIdc != 0;
        p->structure = structure;
        p->interlace = uint8_t(sps.frameMbsOnly ? 0 : (sh.fieldPic ? 2 : 1));
        p->firstSliceType = sh.sliceTypeRaw;
        p->isIdr = sh.idr;
        p->damaged = 0;
        p->frameNum = sh.frameNum;
        p->longTermFrameIdx = 0;
        if (structure == kStructFrame) {
            p->poc[0] = poc.top;
            p->poc[1] = poc.bottom;
        } else if (structure == kStructTop) {
            p->poc[0] = p->poc[1] = poc.top;
        } else {
            p->poc[0] = p->poc[1] = poc.bottom;
        }
        p->width = sps.width;
        p->height = sps.height;
        p->cropLeft = sps.cropLeft;
        p->cropRight = sps.cropRight;
        p->cropTop = sps.cropTop;
        p->cropBottom = sps.cropBottom;
        p->fieldHint = h->sei.fieldCoding ? ((sh.frameNum & 1) ? 2 : 1) : 0;
        p->userLow = h->userLow;
        p->userHigh = h->userHigh;
        p->userData = h->sei.haveUserData ? &h->userData : nullptr;
        for (uint32_t &w : p->stats) w = 0;
    }
    h->current = p;
    h->currentStructure = structure;
    h->currentMbs = 0;
    h->currentExpectedMbs = int32_t(sps.widthMbs * (sps.frameHeightMbs >> sh.fieldPic));
    h->sliceLayerStarted = 0;
    h->pictureHeader = sh;
    return true;
}

}  // namespace tessaly::h264
