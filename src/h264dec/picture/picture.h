// One picture buffer and the state of the frame (or field pair) it holds.
#pragma once

#include <cstdint>

namespace tessaly::h264 {

inline constexpr int kMaxPictureBuffers = 36;
inline constexpr int kPictureStatsWords = 10;

enum : uint8_t {
    kOutputDecoding = 0,  // being decoded
    kOutputFree = 1,      // free or handed out to the caller
    kOutputQueued = 2,    // waiting in the OutputQueue
};

enum : uint8_t { kTopField = 1, kBottomField = 2, kBothFields = 3 };

// Picture structure as coded: frame, top field, bottom field.
enum : uint8_t { kStructFrame = 0, kStructTop = 1, kStructBottom = 2, kStructPair = 3 };

struct Picture {
    uint8_t *y = nullptr, *u = nullptr, *v = nullptr;  // frame planes, no border
    int32_t index = 0;

    uint8_t outputState = kOutputFree;
    uint8_t fields = 0;         // fields decoded into the buffer (kTopField | kBottomField)
    uint8_t inDpb = 0;          // held by a DPB entry or the holding entry
    uint8_t waitingOutput = 0;  // stored and not output yet
    uint8_t shortRef = 0;       // per-field short-term reference marks
    uint8_t longRef = 0;        // per-field long-term reference marks
    uint8_t nonExisting = 0;    // inferred for a frame_num gap; never output
    uint8_t reference = 0;      // coded with nal_ref_idc != 0
    uint8_t structure = kStructFrame;
    uint8_t interlace = 0;  // 0 progressive sequence, 1 frame of an interlaced one, 2 field
    uint8_t firstSliceType = 0;
    uint8_t isIdr = 0;
    uint8_t damaged = 0;
    uint8_t blank = 1;  // never taken into use: black once it is (see TakeFreeBuffer)

    uint32_t frameNum = 0;
    int32_t frameNumWrap = 0;
    int32_t longTermFrameIdx = 0;
    int32_t poc[2] = {0, 0};  // top, bottom

    // Geometry and output record values.
    uint32_t width = 0, height = 0;
    uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    uint32_t fieldHint = 0;
    uint32_t userLow = 0, userHigh = 0;
    const void *userData = nullptr;
    uint32_t stats[kPictureStatsWords] = {};

    bool IsShortRef() const { return shortRef != 0; }
    bool IsLongRef() const { return longRef != 0; }
    bool IsRef() const { return (shortRef | longRef) != 0; }
    // Order count of the frame or field pair: the smaller of the fields present.
    int32_t Poc() const {
        if (fields == kTopField) return poc[0];
        if (fields == kBottomField) return poc[1];
        return poc[0] < poc[1] ? poc[0] : poc[1];
    }
};

}  // namespace tessaly::h264
