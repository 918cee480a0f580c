// Starting and closing pictures: frame_num gaps, order counts, buffer choice,
// field pairing, and handing closed pictures to the DPB.
#include <cstring>

#include "h264dec/decoder_context.h"
#include "h264dec/picture/concealment.h"

namespace tessaly::h264 {
namespace {

// The last reference frame of the size given, while its buffer still holds it.
const Picture *ConcealmentSource(const H264Decoder *h, const Picture *p, uint32_t width, uint32_t height) {
    const Picture *s = h->lastReference;
    if (!s || s == p || !(s->IsRef() || s->inDpb) || s->nonExisting) return nullptr;
    return s->width == width && s->height == height ? s : nullptr;
}

// A free buffer; black (chroma mid-grey, luma zero) the first time it is
// taken, so that a picture whose macroblocks never arrive shows black, and
// buffers a stream never needs are never touched.
Picture *TakeFreeBuffer(H264Decoder *h) {
    Picture *p = DpbFindFreeBuffer(&h->dpb);
    if (p && p->blank) {
        std::memset(p->u, 128, size_t(h->maxWidth) * h->maxHeight / 2);
        p->blank = 0;
    }
    return p;
}

bool HasOperation5(const SliceHeader &sh) {
    for (uint8_t i = 0; i < sh.numMarkingCommands; ++i)
        if (sh.marking[i].op == 5) return true;
    return false;
}

// Non-existing frames for the frame_num values a gap skipped. Only the last
// num_ref_frames of them can survive the sliding window, so earlier ones are
// not made at all. Each holds a copy of the last reference frame: a stream
// that lost pictures still refers to them, and the picture before the loss
// is the closest to what they showed.
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
        Picture *p = TakeFreeBuffer(h);
        if (!p) return;
        if (const Picture *s = ConcealmentSource(h, p, sps.width, sps.height)) {
            const size_t luma = size_t(sps.width) * sps.height;
            std::memcpy(p->y, s->y, luma);
            std::memcpy(p->u, s->u, luma / 4);
            std::memcpy(p->v, s->v, luma / 4);
        }
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
    // The picture's own geometry: an IDR of another size may have activated
    // its parameter sets already.
    if (!(h->modeFlags & DEC_MODE_SLICE_THREADS)) {
        if (h->currentMbs != h->currentExpectedMbs) p->damaged = 1;
        if (h->currentStructure == kStructFrame &&
            ConcealMissingMbs(*p, ConcealmentSource(h, p, p->width, p->height), h->mbDecoded, int32_t(p->width / 16),
                              int32_t(p->height / 16)) > 0)
            p->damaged = 1;
    }
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
    if (p->reference && p->fields == kBothFields) h->lastReference = p;
}

bool StartPicture(H264Decoder *h, const SliceHeader &sh) {
    ClosePicture(h);
    const Sps &sps = h->activeSps;
    const uint32_t maxFrameNum = sps.maxFrameNum;

    if (sh.idr) {
        h->prevRefFrameNum = 0;
    } else if (sh.frameNum != h->prevRefFrameNum && sh.frameNum != (h->prevRefFrameNum + 1) % maxFrameNum) {
        // Where the stream allows no gaps, a gap means lost pictures. A jump
        // over half the frame_num range or more more likely went backwards (a
        // lost IDR, with nothing to refer to): wait for the next intra picture.
        const uint32_t skipped = (sh.frameNum + maxFrameNum - h->prevRefFrameNum - 1) % maxFrameNum;
        if (!sps.gapsAllowed && 2 * skipped >= maxFrameNum) return false;
        FillFrameNumGap(h, sh.frameNum);
    }

    Picture *p = SecondFieldPartner(h, sh);
    const bool secondField = p != nullptr;
    if (!p) {
        p = TakeFreeBuffer(h);
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
    std::memset(h->mbDecoded, 0, size_t(h->currentExpectedMbs));
    h->sliceLayerStarted = 0;
    h->pictureHeader = sh;
    return true;
}

}  // namespace tessaly::h264
