// Decoded picture buffer: picture buffers, reference marking, storing and
// the OutputQueue.
#pragma once

#include <cstdint>

#include "h264dec/bitstream/slice_header.h"
#include "h264dec/picture/picture.h"

namespace tessaly::h264 {

inline constexpr int kMaxDpbEntries = 16;
inline constexpr int kOutputQueueSize = 64;
inline constexpr int32_t kNoOutputPoc = -2147483647;

struct Dpb {
    Picture pictures[kMaxPictureBuffers];
    int32_t numPictures = 0;

    Picture *entries[kMaxDpbEntries] = {};  // decoding order
    int32_t count = 0;
    int32_t size = 0;                  // DPB size in frames
    Picture *holding = nullptr;        // non-reference field waiting for its pair
    Picture *unpaired = nullptr;       // first field waiting for its second
    int32_t maxLongTermFrameIdx = -1;  // -1: no long-term frame indices
    int32_t lastOutputPoc = kNoOutputPoc;
    uint32_t numRefFrames = 0;  // of the active sequence set
    uint8_t displayOrder = 0;

    int32_t queue[kOutputQueueSize] = {};
    uint32_t queueRead = 0, queueWrite = 0;
    // The picture last handed out: not decoded into until the next one is,
    // so that its planes can be read (a snapshot, a redraw) without a copy.
    // Outlives DpbReset; -1 before the first.
    int32_t held = -1;
};

// How the picture being stored was coded.
struct StoreParams {
    uint8_t structure = kStructFrame;  // of the picture just closed
    uint8_t idr = 0;
    uint8_t reference = 0;
    uint8_t noOutputOfPriorPics = 0;
    uint8_t longTermReference = 0;
    uint8_t adaptive = 0;
    uint8_t numCommands = 0;
    const MarkingCommand *commands = nullptr;
    uint32_t maxFrameNum = 16;
};

// Empties everything; pictures keep their planes and indices.
void DpbReset(Dpb *d);
// A buffer for a new frame or first field, or null.
Picture *DpbFindFreeBuffer(Dpb *d);
// Stores a closed picture (marking, pairing, output by the active policy).
// Returns true when operation 5 was executed.
bool DpbStorePicture(Dpb *d, Picture *p, const StoreParams &sp);
// Stores a non-existing frame made for a frame_num gap (sliding window marking).
// It only holds a place in the reference set, so it is never output.
void DpbStoreGapFrame(Dpb *d, Picture *p);
// Outputs every picture still waiting and empties the DPB.
void DpbFlush(Dpb *d, const Picture *except = nullptr);
// Next picture of the OutputQueue (output state becomes free), or null.
Picture *DpbTakeOutput(Dpb *d);
bool DpbHasOutput(const Dpb *d);

// FrameNumWrap of every short-term reference relative to the current frame_num.
void DpbUpdateFrameNumWrap(Dpb *d, uint32_t frameNum, uint32_t maxFrameNum);

}  // namespace tessaly::h264
