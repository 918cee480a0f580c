#include "h264dec/picture/dpb.h"

#include "h264dec/picture/ref_marking.h"

namespace tessaly::h264 {
namespace {

void RemoveEntry(Dpb *d, int32_t i) {
    Picture *p = d->entries[i];
    p->inDpb = 0;
    if (d->unpaired == p) d->unpaired = nullptr;
    for (int32_t k = i + 1; k < d->count; ++k) d->entries[k - 1] = d->entries[k];
    d->entries[--d->count] = nullptr;
}

int32_t FindEntry(const Dpb *d, const Picture *p) {
    for (int32_t i = 0; i < d->count; ++i)
        if (d->entries[i] == p) return i;
    return -1;
}

void Output(Dpb *d, Picture *p) {
    p->waitingOutput = 0;
    if (p->nonExisting) return;
    p->outputState = kOutputQueued;
    d->queue[d->queueWrite % kOutputQueueSize] = p->index;
    d->queueWrite = (d->queueWrite + 1) % kOutputQueueSize;
    d->lastOutputPoc = p->Poc();
}

// Removes one entry that is neither a reference nor waiting for output.
bool RemoveUnused(Dpb *d) {
    for (int32_t i = 0; i < d->count; ++i) {
        const Picture *e = d->entries[i];
        if (!e->IsRef() && !e->waitingOutput && e != d->unpaired) {
            RemoveEntry(d, i);
            return true;
        }
    }
    return false;
}

Picture *SmallestWaiting(const Dpb *d) {
    Picture *best = nullptr;
    for (int32_t i = 0; i < d->count; ++i) {
        Picture *e = d->entries[i];
        if (e->waitingOutput && e != d->unpaired && (!best || e->Poc() < best->Poc())) best = e;
    }
    return best;
}

// Last resort for streams that overfill the DPB with references: the oldest
// entry leaves (output first if it still waits).
void ForceEvict(Dpb *d) {
    if (RemoveUnused(d)) return;
    for (int32_t i = 0; i < d->count; ++i) {
        Picture *e = d->entries[i];
        if (e == d->unpaired) continue;
        if (e->waitingOutput) Output(d, e);
        e->shortRef = e->longRef = 0;
        RemoveEntry(d, i);
        return;
    }
    Picture *e = d->entries[0];
    if (e->waitingOutput) Output(d, e);
    e->shortRef = e->longRef = 0;
    RemoveEntry(d, 0);
}

void Insert(Dpb *d, Picture *p) {
    while (d->count >= d->size || d->count >= kMaxDpbEntries) ForceEvict(d);
    d->entries[d->count++] = p;
    p->inDpb = 1;
}

// Bumping (display order): makes room for `p`, or outputs it directly.
void StoreDisplayOrder(Dpb *d, Picture *p) {
    while (d->count >= d->size) {
        Picture *w = SmallestWaiting(d);
        if (!p->IsRef() && (!w || p->Poc() < w->Poc())) {
            Output(d, p);
            return;
        }
        if (!w) {
            ForceEvict(d);
            continue;
        }
        Output(d, w);
        if (!w->IsRef()) RemoveEntry(d, FindEntry(d, w));
    }
    Insert(d, p);
    p->waitingOutput = 1;
}

// A lone field leaves as a frame (its missing field's lines keep old content).
void ReleaseUnpaired(Dpb *d, Picture *keep) {
    Picture *u = d->unpaired;
    if (!u || u == keep) return;
    d->unpaired = nullptr;
    if (u == d->holding) {
        d->holding = nullptr;
        u->inDpb = 0;
        if (d->displayOrder)
            StoreDisplayOrder(d, u);
        else
            Output(d, u);
    } else if (!d->displayOrder && u->waitingOutput) {
        Output(d, u);
    }
}

void ClearWithoutOutput(Dpb *d) {
    for (int32_t i = 0; i < d->count; ++i) {
        Picture *e = d->entries[i];
        e->shortRef = e->longRef = 0;
        e->waitingOutput = 0;
        e->inDpb = 0;
        d->entries[i] = nullptr;
    }
    d->count = 0;
    if (d->holding) {
        d->holding->inDpb = 0;
        d->holding->waitingOutput = 0;
    }
    d->holding = d->unpaired = nullptr;
    d->lastOutputPoc = kNoOutputPoc;
}

}  // namespace

void DpbReset(Dpb *d) {
    for (int32_t i = 0; i < d->numPictures; ++i) {
        Picture &p = d->pictures[i];
        uint8_t *y = p.y, *u = p.u, *v = p.v;
        const uint8_t blank = p.blank;
        p = Picture{};
        p.y = y, p.u = u, p.v = v;
        p.blank = blank;
        p.index = i;
    }
    for (auto &e : d->entries) e = nullptr;
    d->count = 0;
    d->holding = d->unpaired = nullptr;
    d->maxLongTermFrameIdx = -1;
    d->lastOutputPoc = kNoOutputPoc;
    for (auto &q : d->queue) q = d->numPictures;
    d->queueRead = d->queueWrite = 0;
}

Picture *DpbFindFreeBuffer(Dpb *d) {
    for (int32_t i = 0; i < d->numPictures; ++i) {
        Picture *p = &d->pictures[i];
        if (!p->inDpb && p->outputState == kOutputFree && !p->IsRef() && i != d->held) return p;
    }
    return nullptr;
}

void DpbUpdateFrameNumWrap(Dpb *d, uint32_t frameNum, uint32_t maxFrameNum) {
    for (int32_t i = 0; i < d->count; ++i) {
        Picture *e = d->entries[i];
        e->frameNumWrap = e->frameNum > frameNum ? int32_t(e->frameNum) - int32_t(maxFrameNum) : int32_t(e->frameNum);
    }
}

void DpbFlush(Dpb *d, const Picture *except) {
    for (int32_t i = 0; i < d->count; ++i) {
        Picture *e = d->entries[i];
        if (e != except) e->shortRef = e->longRef = 0;
    }
    if (d->holding && d->holding != except) {
        d->holding->inDpb = 0;
        d->holding->waitingOutput = 1;
    }
    // Default mode never leaves frames waiting; a lone field may still wait.
    for (;;) {
        Picture *best = nullptr;
        for (int32_t i = 0; i < d->count; ++i) {
            Picture *e = d->entries[i];
            if (e != except && e->waitingOutput && (!best || e->Poc() < best->Poc())) best = e;
        }
        Picture *h = d->holding;
        if (h && h != except && h->waitingOutput && (!best || h->Poc() < best->Poc())) best = h;
        if (!best) break;
        Output(d, best);
    }
    int32_t kept = 0;
    for (int32_t i = 0; i < d->count; ++i) {
        Picture *e = d->entries[i];
        if (e == except) {
            d->entries[kept++] = e;
        } else {
            e->inDpb = 0;
        }
    }
    for (int32_t i = kept; i < d->count; ++i) d->entries[i] = nullptr;
    d->count = kept;
    if (d->holding != except) d->holding = nullptr;
    if (d->unpaired != except) d->unpaired = nullptr;
    d->lastOutputPoc = kNoOutputPoc;
}

bool DpbStorePicture(Dpb *d, Picture *p, const StoreParams &sp) {
    const uint8_t parity = sp.structure == kStructFrame ? uint8_t(kBothFields) : sp.structure;
    const bool secondField = sp.structure != kStructFrame && d->unpaired == p;
    bool mmco5 = false;

    if (sp.idr) {
        // An IDR picture starts over: everything before it leaves the DPB,
        // shown first unless the stream says the earlier pictures are not
        // to be output.
        if (sp.noOutputOfPriorPics)
            ClearWithoutOutput(d);
        else
            DpbFlush(d);
        if (sp.longTermReference) {
            p->longRef |= parity;
            p->longTermFrameIdx = 0;
            d->maxLongTermFrameIdx = 0;
        } else {
            p->shortRef |= parity;
            d->maxLongTermFrameIdx = -1;
        }
    } else if (sp.reference) {
        if (sp.adaptive) {
            mmco5 = ApplyAdaptiveMarking(d, p, sp);
            if (mmco5) {
                // Operation 5 ends every reference and restarts frame_num and
                // the order count here: what waits is shown now, and this
                // picture's order count becomes relative to itself so the
                // pictures after it sort behind it.
                DpbFlush(d, p);
                p->frameNum = 0;
                if (sp.structure == kStructFrame) {
                    const int32_t t = p->poc[0] < p->poc[1] ? p->poc[0] : p->poc[1];
                    p->poc[0] -= t;
                    p->poc[1] -= t;
                } else {
                    p->poc[sp.structure == kStructTop ? 0 : 1] = 0;
                }
            }
        } else {
            // Sliding window. The second field of a reference frame joins an
            // entry already counted, so it makes no room.
            if (!(secondField && p->IsRef())) SlidingWindow(d, p);
            p->shortRef |= parity;
        }
    }

    // Second field of a pair: the frame already has its entry (or is held
    // outside the DPB as a non-reference first field); it is complete now
    // and can be shown.
    if (secondField && d->unpaired == p) {
        d->unpaired = nullptr;
        if (d->holding == p) {
            d->holding = nullptr;
            p->inDpb = 0;
            if (d->displayOrder)
                StoreDisplayOrder(d, p);
            else
                Output(d, p);
        } else if (!d->displayOrder) {
            Output(d, p);
        }
        return mmco5;
    }

    // A new frame or first field. A first field whose partner never came
    // leaves as a frame before this one takes its place.
    // Pictures neither referenced nor waiting to be shown leave at once:
    // their buffers are the next ones decoded into, and the most recently
    // read ones are the likeliest to be in the caches still.
    while (RemoveUnused(d)) {}
    ReleaseUnpaired(d, p);
    const bool field = sp.structure != kStructFrame;
    // A non-reference first field waits outside the DPB: bumping must not
    // output half a frame, and no later picture refers to it.
    if (d->displayOrder) {
        if (!p->IsRef() && field) {
            d->holding = d->unpaired = p;
            p->inDpb = 1;
            p->waitingOutput = 1;
        } else {
            StoreDisplayOrder(d, p);
            if (field) d->unpaired = p;
        }
    } else if (p->IsRef()) {
        // Decoding order: a frame is shown at once, a field once its pair is
        // complete; references stay for prediction either way.
        Insert(d, p);
        if (field) {
            d->unpaired = p;
            p->waitingOutput = 1;
        } else {
            Output(d, p);
        }
    } else if (field) {
        d->holding = d->unpaired = p;
        p->inDpb = 1;
        p->waitingOutput = 1;
    } else {
        Output(d, p);
    }
    return mmco5;
}

void DpbStoreGapFrame(Dpb *d, Picture *p) {
    SlidingWindow(d, p);
    p->shortRef = kBothFields;
    if (d->count >= d->size) RemoveUnused(d);
    ReleaseUnpaired(d, p);
    Insert(d, p);
    p->waitingOutput = 0;
}

bool DpbHasOutput(const Dpb *d) {
    for (uint32_t r = d->queueRead; r != d->queueWrite; r = (r + 1) % kOutputQueueSize)
        if (d->queue[r] < d->numPictures) return true;
    return false;
}

Picture *DpbTakeOutput(Dpb *d) {
    while (d->queueRead != d->queueWrite) {
        const int32_t idx = d->queue[d->queueRead];
        d->queue[d->queueRead] = d->numPictures;  // taken
        d->queueRead = (d->queueRead + 1) % kOutputQueueSize;
        if (idx >= 0 && idx < d->numPictures) {
            Picture *p = &d->pictures[idx];
            p->outputState = kOutputFree;
            d->held = idx;
            return p;
        }
    }
    return nullptr;
}

}  // namespace tessaly::h264
