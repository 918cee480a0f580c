// Slice-thread workers: one hand-off slot each, guarded by two events.
//
// `work` (auto-reset) wakes the worker for the slot's slice; `idle`
// (manual-reset) is set while the slot is free. The caller writes a slot only
// after seeing `idle`, the worker only after consuming `work`; the events'
// locks order the two sides.
#include "h264dec/slice_threads.h"

#include <chrono>
#include <cstring>
#include <new>

#include "h264dec/aligned_alloc.h"
#include "platform/event.h"
#include "platform/worker_thread.h"

namespace tessaly::h264 {
namespace {

using platform::Event;
using platform::WorkerThread;

constexpr std::chrono::milliseconds kStopTimeout{5000};
constexpr uint32_t kReadablePadding = 16;

struct SliceWorker {
    WorkerThread thread;
    Event work{false};
    Event idle{true, true};
    SliceParams params;
    alignas(16) DequantTables dequant;
    uint8_t *nal = nullptr;
    size_t nalCapacity = 0;
    SliceDecoder *decoder = nullptr;
    int32_t mbsDecoded = 0;  // since the caller last collected; written while busy only
};

void WorkerBody(SliceWorker *w, Event &stop) {
    Event *const events[2] = {&stop, &w->work};
    for (;;) {
        if (platform::WaitAny(events, 2) == 0) return;
        const SliceResult r = SliceDecoderDecode(w->decoder, w->params);
        w->mbsDecoded += r.mbsDecoded;
        w->idle.Set();
    }
}

void FreeWorker(SliceWorker *w) {
    if (w->decoder) SliceDecoderDestroy(w->decoder);
    AlignedFree(w->nal);
    delete w;
}

}  // namespace

struct SliceThreads {
    SliceWorker *workers[kSliceWorkers] = {};
    Event *idle[kSliceWorkers] = {};
    int32_t lastFirstMb = -1;  // of the picture's previous slice
    // The latest slice, loaded into its worker but not started: its end
    // address is the next slice's first, known only once that one arrives.
    SliceWorker *held = nullptr;
};

namespace {

void StartHeld(SliceThreads *t, int32_t endMb) {
    if (!t->held) return;
    t->held->params.endMb = endMb;
    t->held->work.Set();
    t->held = nullptr;
}

}  // namespace

SliceThreads *SliceThreadsCreate(int32_t widthMbs, int32_t heightMbs, size_t nalCapacity, const KernelSet *kernels) {
    SliceThreads *t = new (std::nothrow) SliceThreads();
    if (!t) return nullptr;
    bool ok = true;
    for (int i = 0; i < kSliceWorkers && ok; ++i) {
        SliceWorker *w = new (std::nothrow) SliceWorker();
        if (!w) {
            ok = false;
            break;
        }
        t->workers[i] = w;
        t->idle[i] = &w->idle;
        w->nalCapacity = nalCapacity;
        w->nal = static_cast<uint8_t *>(AlignedAllocZeroed(nalCapacity + kReadablePadding));
        w->decoder = SliceDecoderCreate(widthMbs, heightMbs, kernels);
        ok = w->nal && w->decoder && w->thread.Start([w](Event &stop) { WorkerBody(w, stop); });
    }
    if (!ok) {
        SliceThreadsDestroy(t);
        return nullptr;
    }
    return t;
}

bool SliceThreadsDestroy(SliceThreads *t) {
    if (!t) return true;
    bool allEnded = true;
    for (SliceWorker *w : t->workers) {
        if (!w) continue;
        if (!w->thread.Running() || w->thread.Stop(kStopTimeout)) {
            FreeWorker(w);
        } else {
            // The detached thread may still be inside SliceDecoderDecode on
            // this worker's memory; it returns at its next wait and must find
            // that memory intact. Leaving it allocated is the only safe choice.
            allEnded = false;
        }
    }
    delete t;
    return allEnded;
}

void SliceThreadsStartPicture(SliceThreads *t, const SliceParams &p) {
    t->lastFirstMb = -1;
    t->held = nullptr;  // WaitAll has started it
    for (SliceWorker *w : t->workers) SliceDecoderStartPicture(w->decoder, p);
}

void SliceThreadsDispatch(SliceThreads *t, const SliceParams &p, const NalUnit &unit) {
    // Slices of a picture arrive in address order, and each may write up to
    // the next one's first macroblock. One that does not (a repeated or
    // damaged slice) would write macroblocks another worker may be writing,
    // so it waits until the others are done.
    if (p.firstMb <= t->lastFirstMb) {
        StartHeld(t, 0);
        for (SliceWorker *w : t->workers) w->idle.Wait();
    } else {
        StartHeld(t, p.firstMb);
    }
    t->lastFirstMb = p.firstMb;
    const int index = platform::WaitAny(t->idle, kSliceWorkers);
    SliceWorker *w = t->workers[index < 0 ? 0 : index];
    if (index < 0) w->idle.Wait();
    w->idle.Reset();
    const size_t size = unit.size < w->nalCapacity ? unit.size : w->nalCapacity;
    std::memcpy(w->nal, unit.data, size);
    std::memset(w->nal + size, 0, kReadablePadding);
    w->params = p;
    w->params.data = w->nal + (p.data - unit.data);
    if (p.dequant) {
        w->dequant = *p.dequant;
        w->params.dequant = &w->dequant;
    }
    t->held = w;
}

int32_t SliceThreadsWaitAll(SliceThreads *t) {
    StartHeld(t, 0);
    int32_t mbs = 0;
    for (SliceWorker *w : t->workers) {
        w->idle.Wait();
        mbs += w->mbsDecoded;
        w->mbsDecoded = 0;
    }
    return mbs;
}

}  // namespace tessaly::h264
