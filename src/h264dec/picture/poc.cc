#include "h264dec/picture/poc.h"

#include <algorithm>
#include <cstdint>

namespace tessaly::h264 {
namespace {

// Order counts are worked out in 64 bits and kept within 32: a conforming
// stream never leaves that range, and a damaged one may not overflow it.
int32_t ClampPoc(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

int32_t FrameNumOffset(const Sps &sps, bool idr, uint32_t frameNum, const PocState &s) {
    if (idr) return 0;
    if (s.prevFrameNum > frameNum) return ClampPoc(int64_t(s.prevFrameNumOffset) + sps.maxFrameNum);
    return s.prevFrameNumOffset;
}

// Types 1 and 2 share the frame-number based bookkeeping.
PocResult ComputeFromFrameNum(const Sps &sps, bool idr, bool reference, uint32_t frameNum, uint8_t fieldPic,
                              uint8_t bottomField, const int32_t deltaPoc[2], bool mmco5, PocState *s) {
    const int32_t offset = FrameNumOffset(sps, idr, frameNum, *s);
    PocResult r;
    if (sps.pocType == 1) {
        int64_t absFrameNum = sps.numRefFramesInPocCycle ? int64_t(offset) + frameNum : 0;
        if (!reference && absFrameNum > 0) --absFrameNum;
        int64_t expected = 0;
        if (absFrameNum > 0) {
            const int64_t cycleCount = (absFrameNum - 1) / sps.numRefFramesInPocCycle;
            const int64_t inCycle = (absFrameNum - 1) % sps.numRefFramesInPocCycle;
            expected = cycleCount * sps.expectedDeltaPerPocCycle;
            for (int64_t i = 0; i <= inCycle; ++i) expected += sps.offsetForRefFrame[i];
        }
        if (!reference) expected += sps.offsetForNonRefPic;
        const int64_t e = ClampPoc(expected);
        if (!fieldPic) {
            r.top = ClampPoc(e + deltaPoc[0]);
            r.bottom = ClampPoc(int64_t(r.top) + sps.offsetForTopToBottomField + deltaPoc[1]);
        } else if (!bottomField) {
            r.top = r.bottom = ClampPoc(e + deltaPoc[0]);
        } else {
            r.top = r.bottom = ClampPoc(e + sps.offsetForTopToBottomField + deltaPoc[0]);
        }
    } else {
        int32_t temp = 0;
        if (!idr) temp = ClampPoc(2 * (int64_t(offset) + frameNum) - (reference ? 0 : 1));
        r.top = r.bottom = temp;
    }
    s->prevFrameNumOffset = mmco5 ? 0 : offset;
    s->prevFrameNum = mmco5 ? 0 : frameNum;
    return r;
}

}  // namespace

PocResult ComputePoc(const Sps &sps, const SliceHeader &sh, bool mmco5, PocState *s) {
    PocResult r;
    if (sps.pocType == 0) {
        if (sh.idr) {
            s->prevPocMsb = 0;
            s->prevPocLsb = 0;
        }
        const int32_t maxLsb = 1 << sps.log2MaxPocLsb;
        const int32_t lsb = int32_t(sh.pocLsb);
        int32_t msb = s->prevPocMsb;
        if (lsb < s->prevPocLsb && int64_t(s->prevPocLsb) - lsb >= maxLsb / 2)
            msb = ClampPoc(int64_t(s->prevPocMsb) + maxLsb);
        else if (lsb > s->prevPocLsb && int64_t(lsb) - s->prevPocLsb > maxLsb / 2)
            msb = ClampPoc(int64_t(s->prevPocMsb) - maxLsb);
        if (!sh.fieldPic) {
            r.top = ClampPoc(int64_t(msb) + lsb);
            r.bottom = ClampPoc(int64_t(r.top) + sh.deltaPocBottom);
        } else {
            r.top = r.bottom = ClampPoc(int64_t(msb) + lsb);
        }
        if (sh.nalRefIdc) {
            if (mmco5) {
                // The picture's counts become relative to their minimum.
                s->prevPocMsb = 0;
                s->prevPocLsb =
                    (sh.fieldPic && sh.bottomField) ? 0 : ClampPoc(int64_t(r.top) - std::min(r.top, r.bottom));
            } else {
                s->prevPocMsb = msb;
                s->prevPocLsb = lsb;
            }
        }
        // Types 1 and 2 state still follows frame_num for later gap frames.
        s->prevFrameNumOffset = 0;
        s->prevFrameNum = sh.frameNum;
    } else {
        r = ComputeFromFrameNum(sps, sh.idr, sh.nalRefIdc != 0, sh.frameNum, sh.fieldPic, sh.bottomField, sh.deltaPoc,
                                mmco5, s);
    }
    s->lastTop = r.top;
    s->lastBottom = r.bottom;
    return r;
}

PocResult ComputeGapPoc(const Sps &sps, uint32_t frameNum, PocState *s) {
    if (sps.pocType == 0) return PocResult{s->lastTop, s->lastBottom};
    const int32_t zero[2] = {0, 0};
    return ComputeFromFrameNum(sps, false, true, frameNum, 0, 0, zero, false, s);
}

}  // namespace tessaly::h264
