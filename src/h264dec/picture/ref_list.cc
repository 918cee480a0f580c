#include "h264dec/picture/ref_list.h"

#include <algorithm>

namespace tessaly::h264 {
namespace {

// Fields of 8.2.4.2.5: alternate parities from the frame-ordered entries,
// starting with the current parity; `marks` selects short or long marks.
int AlternateFields(Picture *const *frames, int numFrames, uint8_t currentParity, bool isLong, RefListEntry *out,
                    int room) {
    const uint8_t opposite = currentParity == kTopField ? kBottomField : kTopField;
    int nextSame = 0, nextOpposite = 0, n = 0;
    auto marked = [isLong](const Picture *p, uint8_t f) { return ((isLong ? p->longRef : p->shortRef) & f) != 0; };
    auto advance = [&](int &i, uint8_t f) -> Picture * {
        while (i < numFrames && !marked(frames[i], f)) ++i;
        return i < numFrames ? frames[i++] : nullptr;
    };
    bool sameTurn = true;
    while (n < room) {
        const uint8_t want = sameTurn ? currentParity : opposite;
        int &cursor = sameTurn ? nextSame : nextOpposite;
        Picture *p = advance(cursor, want);
        uint8_t got = want;
        if (!p) {  // this parity is exhausted: the rest comes from the other one
            int &other = sameTurn ? nextOpposite : nextSame;
            got = sameTurn ? opposite : currentParity;
            p = advance(other, got);
            if (!p) break;
        }
        out[n++] = RefListEntry{p, got, uint8_t(isLong)};
        sameTurn = !sameTurn;
    }
    return n;
}

// Stable and allocation-free (std::stable_sort may allocate); at most 16 items.
template <typename Less>
void InsertionSort(Picture **items, int n, Less less) {
    for (int i = 1; i < n; ++i) {
        Picture *x = items[i];
        int j = i;
        for (; j > 0 && less(x, items[j - 1]); --j) items[j] = items[j - 1];
        items[j] = x;
    }
}

int InitialList(Dpb *d, const RefListContext &c, RefListEntry *list) {
    Picture *shortFrames[kMaxDpbEntries];
    Picture *longFrames[kMaxDpbEntries];
    int numShort = 0, numLong = 0;
    const bool frame = c.structure == kStructFrame;
    for (int32_t i = 0; i < d->count; ++i) {
        Picture *e = d->entries[i];
        if (frame ? e->shortRef == kBothFields : e->shortRef != 0) shortFrames[numShort++] = e;
        if (frame ? e->longRef == kBothFields : e->longRef != 0) longFrames[numLong++] = e;
    }
    // Descending PicNum (FrameNumWrap) for short-term, ascending index for long-term.
    InsertionSort(shortFrames, numShort,
                  [](const Picture *a, const Picture *b) { return a->frameNumWrap > b->frameNumWrap; });
    InsertionSort(longFrames, numLong,
                  [](const Picture *a, const Picture *b) { return a->longTermFrameIdx < b->longTermFrameIdx; });
    int n = 0;
    if (frame) {
        for (int i = 0; i < numShort && n < kRefListSize; ++i) list[n++] = RefListEntry{shortFrames[i], kBothFields, 0};
        for (int i = 0; i < numLong && n < kRefListSize; ++i) list[n++] = RefListEntry{longFrames[i], kBothFields, 1};
    } else {
        n = AlternateFields(shortFrames, numShort, c.structure, false, list, kRefListSize);
        n += AlternateFields(longFrames, numLong, c.structure, true, list + n, kRefListSize - n);
    }
    return n;
}

int32_t PicNumOf(const RefListEntry &e, uint8_t currentParity) {
    if (currentParity == kBothFields) return e.pic->frameNumWrap;
    return 2 * e.pic->frameNumWrap + (e.parity == currentParity ? 1 : 0);
}

int32_t LongTermPicNumOf(const RefListEntry &e, uint8_t currentParity) {
    if (currentParity == kBothFields) return e.pic->longTermFrameIdx;
    return 2 * e.pic->longTermFrameIdx + (e.parity == currentParity ? 1 : 0);
}

bool FindByPicNum(Dpb *d, int32_t picNum, uint8_t currentParity, bool isLong, RefListEntry *found) {
    for (int32_t i = 0; i < d->count; ++i) {
        Picture *p = d->entries[i];
        const uint8_t marks = isLong ? p->longRef : p->shortRef;
        if (currentParity == kBothFields) {
            if (marks != kBothFields) continue;
            RefListEntry e{p, kBothFields, uint8_t(isLong)};
            if ((isLong ? LongTermPicNumOf(e, currentParity) : PicNumOf(e, currentParity)) == picNum) {
                *found = e;
                return true;
            }
            continue;
        }
        for (uint8_t f = kTopField; f <= kBottomField; ++f) {
            if (!(marks & f)) continue;
            RefListEntry e{p, f, uint8_t(isLong)};
            if ((isLong ? LongTermPicNumOf(e, currentParity) : PicNumOf(e, currentParity)) == picNum) {
                *found = e;
                return true;
            }
        }
    }
    return false;
}

bool SameReference(const RefListEntry &a, const RefListEntry &b) {
    return a.pic == b.pic && a.parity == b.parity && a.isLong == b.isLong;
}

}  // namespace

bool BuildRefList0(Dpb *d, const RefListContext &c, const SliceHeader &sh, RefListEntry list[kRefListSize]) {
    const uint8_t parity = c.structure == kStructFrame ? uint8_t(kBothFields) : c.structure;
    DpbUpdateFrameNumWrap(d, c.frameNum, c.maxFrameNum);
    int found = InitialList(d, c, list);
    if (found == 0) return false;
    const int numActive = int(std::clamp<uint32_t>(c.numActive, 1, kRefListSize - 1));
    if (found > numActive) found = numActive;
    for (int i = found; i < kRefListSize; ++i) list[i] = list[0];

    const int64_t maxPicNum = parity == kBothFields ? int64_t(c.maxFrameNum) : 2 * int64_t(c.maxFrameNum);
    const int64_t currPicNum = parity == kBothFields ? int64_t(c.frameNum) : 2 * int64_t(c.frameNum) + 1;
    int64_t picNumPred = currPicNum;
    int refIdx = 0;
    for (int k = 0; k < sh.numListCommands && refIdx < numActive; ++k) {
        const RefListCommand &cmd = sh.listCommands[k];
        RefListEntry target;
        if (cmd.op == 0 || cmd.op == 1) {
            const int64_t absDiff = int64_t(cmd.value) + 1;
            if (absDiff > maxPicNum) return false;
            int64_t noWrap;
            if (cmd.op == 0) {
                noWrap = picNumPred - absDiff;
                if (noWrap < 0) noWrap += maxPicNum;
            } else {
                noWrap = picNumPred + absDiff;
                if (noWrap >= maxPicNum) noWrap -= maxPicNum;
            }
            picNumPred = noWrap;
            const int64_t picNum = noWrap > currPicNum ? noWrap - maxPicNum : noWrap;
            if (!FindByPicNum(d, int32_t(picNum), parity, false, &target)) return false;
        } else if (cmd.op == 2) {
            if (!FindByPicNum(d, int32_t(cmd.value), parity, true, &target)) return false;
        } else {
            return false;
        }
        // Insert at refIdx and drop the later duplicate (list length numActive + 1 during the shift).
        for (int i = numActive; i > refIdx; --i) list[i] = list[i - 1];
        list[refIdx++] = target;
        int out = refIdx;
        for (int i = refIdx; i <= numActive; ++i)
            if (!SameReference(list[i], target)) list[out++] = list[i];
    }
    for (int i = numActive; i < kRefListSize; ++i) list[i] = list[0];
    return true;
}

}  // namespace tessaly::h264
