#include "h264dec/picture/ref_marking.h"

#include <algorithm>

namespace tessaly::h264 {
namespace {

uint8_t ParityOf(uint8_t structure) { return structure == kStructFrame ? uint8_t(kBothFields) : structure; }

// PicNum of one field (or of the frame when parity is kBothFields).
int32_t FieldPicNum(const Picture &e, uint8_t field, uint8_t currentParity) {
    if (currentParity == kBothFields) return e.frameNumWrap;
    return 2 * e.frameNumWrap + (field == currentParity ? 1 : 0);
}

int32_t FieldLongTermPicNum(const Picture &e, uint8_t field, uint8_t currentParity) {
    if (currentParity == kBothFields) return e.longTermFrameIdx;
    return 2 * e.longTermFrameIdx + (field == currentParity ? 1 : 0);
}

// Finds the short-term reference (frame, or single field for field decoding)
// with the given PicNum; returns its entry and field mask.
Picture *FindShortTerm(Dpb *d, int32_t picNum, uint8_t parity, uint8_t *mask) {
    for (int32_t i = 0; i < d->count; ++i) {
        Picture *e = d->entries[i];
        if (parity == kBothFields) {
            if (e->shortRef == kBothFields && e->frameNumWrap == picNum) {
                *mask = kBothFields;
                return e;
            }
            continue;
        }
        for (uint8_t f = kTopField; f <= kBottomField; ++f) {
            if ((e->shortRef & f) && FieldPicNum(*e, f, parity) == picNum) {
                *mask = f;
                return e;
            }
        }
    }
    return nullptr;
}

void UnmarkLongTermIndex(Dpb *d, int32_t idx, const Picture *keep) {
    for (int32_t i = 0; i < d->count; ++i) {
        Picture *e = d->entries[i];
        if (e != keep && e->longRef && e->longTermFrameIdx == idx) e->longRef = 0;
    }
}

}  // namespace

void CountReferences(const Dpb *d, const Picture *except, int32_t *numShort, int32_t *numLong) {
    int32_t s = 0, l = 0;
    for (int32_t i = 0; i < d->count; ++i) {
        const Picture *e = d->entries[i];
        if (e == except) continue;
        if (e->shortRef)
            ++s;
        else if (e->longRef)
            ++l;
    }
    *numShort = s;
    *numLong = l;
}

void SlidingWindow(Dpb *d, const Picture *p) {
    const int32_t maxRefs = std::max<int32_t>(int32_t(d->numRefFrames), 1);
    int32_t numShort, numLong;
    CountReferences(d, p, &numShort, &numLong);
    for (int32_t i = 0; i < d->count && numShort > 0 && numShort + numLong >= maxRefs; ++i) {
        Picture *e = d->entries[i];
        if (e == p || !e->shortRef) continue;
        e->shortRef = 0;
        if (!e->longRef) --numShort;
    }
    for (int32_t i = 0; i < d->count && numLong > 0 && numLong >= maxRefs; ++i) {
        Picture *e = d->entries[i];
        if (e == p || !e->longRef || e->shortRef) continue;
        e->longRef = 0;
        --numLong;
    }
}

bool ApplyAdaptiveMarking(Dpb *d, Picture *p, const StoreParams &sp) {
    const uint8_t parity = ParityOf(sp.structure);
    const int32_t currPicNum = parity == kBothFields ? int32_t(p->frameNum) : 2 * int32_t(p->frameNum) + 1;
    bool mmco5 = false;
    bool markedLong = false;
    for (uint8_t c = 0; c < sp.numCommands; ++c) {
        const MarkingCommand &cmd = sp.commands[c];
        switch (cmd.op) {
        case 1: {
            uint8_t mask = 0;
            const int64_t picNumX = int64_t(currPicNum) - (int64_t(cmd.diffPicNumsMinus1) + 1);
            if (Picture *e = FindShortTerm(d, int32_t(picNumX), parity, &mask)) e->shortRef &= uint8_t(~mask);
            break;
        }
        case 2:
            for (int32_t i = 0; i < d->count; ++i) {
                Picture *e = d->entries[i];
                for (uint8_t f = kTopField; f <= kBottomField; ++f) {
                    if (!(e->longRef & f)) continue;
                    if (parity == kBothFields && e->longRef != kBothFields) continue;
                    if (FieldLongTermPicNum(*e, f, parity) == int64_t(cmd.longTermPicNum))
                        e->longRef &= uint8_t(parity == kBothFields ? 0 : ~f);
                }
            }
            break;
        case 3: {
            uint8_t mask = 0;
            const int64_t picNumX = int64_t(currPicNum) - (int64_t(cmd.diffPicNumsMinus1) + 1);
            Picture *e = FindShortTerm(d, int32_t(picNumX), parity, &mask);
            if (!e) break;
            const int32_t idx = int32_t(std::min<uint32_t>(cmd.longTermFrameIdx, 15));
            UnmarkLongTermIndex(d, idx, e);
            if (e->longRef && e->longTermFrameIdx != idx) e->longRef = 0;
            e->shortRef &= uint8_t(~mask);
            e->longRef |= mask;
            e->longTermFrameIdx = idx;
            break;
        }
        case 4: {
            d->maxLongTermFrameIdx = int32_t(std::min<uint32_t>(cmd.maxLongTermFrameIdxPlus1, 16)) - 1;
            for (int32_t i = 0; i < d->count; ++i) {
                Picture *e = d->entries[i];
                if (e->longRef && e->longTermFrameIdx > d->maxLongTermFrameIdx) e->longRef = 0;
            }
            break;
        }
        case 5:
            for (int32_t i = 0; i < d->count; ++i) d->entries[i]->shortRef = d->entries[i]->longRef = 0;
            d->maxLongTermFrameIdx = -1;
            mmco5 = true;
            break;
        case 6: {
            const int32_t idx = int32_t(std::min<uint32_t>(cmd.longTermFrameIdx, 15));
            UnmarkLongTermIndex(d, idx, p);
            if (p->longRef && p->longTermFrameIdx != idx) p->longRef = 0;
            p->shortRef &= uint8_t(~parity);
            p->longRef |= parity;
            p->longTermFrameIdx = idx;
            markedLong = true;
            break;
        }
        default: break;
        }
    }
    if (!markedLong) p->shortRef |= parity;

    // Too many references after the commands: drop the oldest short-term ones.
    const int32_t maxRefs = std::max<int32_t>(int32_t(d->numRefFrames), 1);
    int32_t numShort, numLong;
    CountReferences(d, p, &numShort, &numLong);
    int32_t total = numShort + numLong + 1;
    for (int32_t i = 0; i < d->count && total > maxRefs; ++i) {
        Picture *e = d->entries[i];
        if (e == p || !e->shortRef) continue;
        e->shortRef = 0;
        if (!e->longRef) --total;
    }
    return mmco5;
}

}  // namespace tessaly::h264
