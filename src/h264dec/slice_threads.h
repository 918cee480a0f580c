// Slice-thread mode: four workers decode slice data while the caller's thread
// parses headers and runs the picture layer.
//
// Each worker owns a copy of the slice's parameters (including the dequant
// tables), a NAL buffer holding the slice unit, and its own SliceDecoder. The
// picture layer waits for every worker before anything that changes what the
// workers read: parameter sets, SEI, a new picture and end of stream.
#pragma once

#include <cstddef>
#include <cstdint>

#include "h264dec/bitstream/nal_scanner.h"
#include "h264dec/slice_params.h"

namespace tessaly::h264 {

struct KernelSet;
struct SliceThreads;

inline constexpr int kSliceWorkers = 4;

// Allocates everything and starts the workers; null on failure.
SliceThreads *SliceThreadsCreate(int32_t widthMbs, int32_t heightMbs, size_t nalCapacity, const KernelSet *kernels);
// Stops the workers, waiting up to five seconds for each. Returns false when a
// worker did not end in time: its memory and the picture planes it may still
// write are then left allocated (see the .cc).
bool SliceThreadsDestroy(SliceThreads *t);

// Resets every worker's SliceDecoder for a new picture or field. Call with all
// workers idle.
void SliceThreadsStartPicture(SliceThreads *t, const SliceParams &p);
// Loads the slice into the first idle worker (lowest index first), waiting for
// one when all are busy, and starts the previous slice, which now knows where
// it must stop. The last slice of a picture starts in WaitAll. The unit and
// p.dequant are copied; p.data must point into unit.
void SliceThreadsDispatch(SliceThreads *t, const SliceParams &p, const NalUnit &unit);
// Starts the held slice, waits until every worker is idle; returns the macroblocks they decoded since
// the previous call.
int32_t SliceThreadsWaitAll(SliceThreads *t);

}  // namespace tessaly::h264
